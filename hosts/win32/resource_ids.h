// Identifiers of the library's resources and of the controls in its resource dialogs; shared by
// the resource script and the code that drives the dialogs, so plain macros the resource compiler
// reads too.
#ifndef KORVEL_HOSTS_WIN32_RESOURCE_IDS_H_
#define KORVEL_HOSTS_WIN32_RESOURCE_IDS_H_

// The data-import dialog. Import and Cancel are the system's IDOK (1) and IDCANCEL (2).
#define IDD_IMPORT_DATA 103
#define IDC_IMPORT_PATH 1001
#define IDC_IMPORT_BROWSE 1002
#define IDC_IMPORT_BACKGROUND_SWATCH 1003
#define IDC_IMPORT_FONT_SWATCH 1004
#define IDC_IMPORT_BACKGROUND_COLOUR 1005
#define IDC_IMPORT_FONT_COLOUR 1006

#endif  // KORVEL_HOSTS_WIN32_RESOURCE_IDS_H_
