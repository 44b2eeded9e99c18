// The members of the host program's object model that the runtime calls, by dispatch id, and the
// interface identifiers it needs. Members are never looked up by name: these ids are the program's
// own, and the headless program answers the same ones.
#ifndef KORVEL_EXCEL_DISPATCH_IDS_H_
#define KORVEL_EXCEL_DISPATCH_IDS_H_

#include <cstdint>

#include "platform/dispatch.h"

namespace korvel::dispid {

// Application.
inline constexpr int32_t kEvaluate = 0x1;
inline constexpr int32_t kCaption = 0x8B;
inline constexpr int32_t kSelection = 0x93;
inline constexpr int32_t kApplicationRange = 0xC5;
inline constexpr int32_t kRun = 0x103;
inline constexpr int32_t kQuit = 0x12E;
inline constexpr int32_t kActiveSheet = 0x133;
inline constexpr int32_t kActiveWorkbook = 0x134;
inline constexpr int32_t kCalculation = 0x13C;
inline constexpr int32_t kDdeInitiate = 0x14E;
inline constexpr int32_t kDdeRequest = 0x150;
inline constexpr int32_t kDdeTerminate = 0x151;
inline constexpr int32_t kDisplayAlerts = 0x157;
inline constexpr int32_t kIgnoreRemoteRequests = 0x164;
inline constexpr int32_t kIteration = 0x16B;
inline constexpr int32_t kMaxChange = 0x170;
inline constexpr int32_t kMaxIterations = 0x171;
inline constexpr int32_t kScreenUpdating = 0x17E;
inline constexpr int32_t kVersion = 0x188;
inline constexpr int32_t kWindowState = 0x18C;
inline constexpr int32_t kWindows = 0x1AE;
inline constexpr int32_t kSheets = 0x1E5;
inline constexpr int32_t kWorksheets = 0x1EE;
inline constexpr int32_t kAddIns = 0x225;
inline constexpr int32_t kVisible = 0x22E;
inline constexpr int32_t kWorkbooks = 0x23C;
inline constexpr int32_t kOnTime = 0x270;
inline constexpr int32_t kOnEntry = 0x273;
inline constexpr int32_t kDialogs = 0x2F9;
inline constexpr int32_t kIntersect = 0x2FE;
inline constexpr int32_t kOnUndo = 0x302;
inline constexpr int32_t kRemoteRequestsCompanion = 0x4AC;  // read around IgnoreRemoteRequests
inline constexpr int32_t kDefaultSaveFormat = 0x4B9;
inline constexpr int32_t kUserControl = 0x4BA;
inline constexpr int32_t kEnableEvents = 0x4BC;
inline constexpr int32_t kCommandBars = 0x59F;
inline constexpr int32_t kWorksheetFunction = 0x5A0;
inline constexpr int32_t kLanguageSettings = 0x709;
inline constexpr int32_t kCalculateFull = 0x70D;
inline constexpr int32_t kHwnd = 0x79E;
inline constexpr int32_t kApplicationMember0xB7 =
    0xB7;  // its returned object's interface is processed

// Collections.
inline constexpr int32_t kNewEnum = -4;
inline constexpr int32_t kCount = 0x76;
inline constexpr int32_t kItem = 0xAA;
inline constexpr int32_t kOpen = 0x2AA;  // Workbooks.Open

// Workbook and Worksheet.
inline constexpr int32_t kType = 0x6C;
inline constexpr int32_t kName = 0x6E;
inline constexpr int32_t kParent = 0x96;
inline constexpr int32_t kSaveCopyAs = 0xAF;
inline constexpr int32_t kSelect = 0xEB;
inline constexpr int32_t kClose = 0x115;
inline constexpr int32_t kProtectOld = 0x11A;
inline constexpr int32_t kSave = 0x11B;
inline constexpr int32_t kSaveAs = 0x11C;
inline constexpr int32_t kUnprotect = 0x11D;
inline constexpr int32_t kFileFormat = 0x120;
inline constexpr int32_t kFullName = 0x121;
inline constexpr int32_t kSaved = 0x12A;
inline constexpr int32_t kPath = 0x123;
inline constexpr int32_t kProtectContents = 0x124;
inline constexpr int32_t kProtectDrawingObjects = 0x125;
inline constexpr int32_t kActivate = 0x130;
inline constexpr int32_t kDate1904 = 0x193;
inline constexpr int32_t kUsedRange = 0x19C;
inline constexpr int32_t kIndex = 0x1E6;
inline constexpr int32_t kCodeName = 0x55D;
inline constexpr int32_t kShapes = 0x561;
inline constexpr int32_t kEnableSelection = 0x591;
inline constexpr int32_t kQueryTables = 0x59A;
inline constexpr int32_t kSaveAs2 = 0x785;
inline constexpr int32_t kCheckCompatibility = 0x9E0;
inline constexpr int32_t kProtect = 0x7ED;
inline constexpr int32_t kOnAction = 0x254;  // Shape
inline constexpr int32_t kRefresh = 0x589;   // QueryTable

// Range.
inline constexpr int32_t kValue = 0x6;
inline constexpr int32_t kInterior = 0x81;
inline constexpr int32_t kOrientation = 0x86;
inline constexpr int32_t kHorizontalAlignment = 0x88;
inline constexpr int32_t kVerticalAlignment = 0x89;
inline constexpr int32_t kFont = 0x92;
inline constexpr int32_t kRange = 0xC5;
inline constexpr int32_t kNumberFormat = 0xC1;
inline constexpr int32_t kRangeMember0xD1 = 0xD1;
inline constexpr int32_t kAddress = 0xEC;
inline constexpr int32_t kFormula = 0x105;
inline constexpr int32_t kHasFormula = 0x10B;
inline constexpr int32_t kWrapText = 0x114;
inline constexpr int32_t kCalculate = 0x117;
inline constexpr int32_t kWorksheet = 0x15C;
inline constexpr int32_t kSpecialCells = 0x19A;
inline constexpr int32_t kBorders = 0x1B3;
inline constexpr int32_t kDirectPrecedents = 0x222;
inline constexpr int32_t kAreas = 0x238;
inline constexpr int32_t kValue2 = 0x56C;
inline constexpr int32_t kHyperlinks = 0x571;

// Formatting objects (Interior, Font, Borders).
inline constexpr int32_t kPattern = 0x5F;
inline constexpr int32_t kColorIndex = 0x61;
inline constexpr int32_t kPatternColorIndex = 0x62;
inline constexpr int32_t kColor = 0x63;
inline constexpr int32_t kPatternColor = 0x64;
inline constexpr int32_t kLineStyle = 0x77;
inline constexpr int32_t kWeight = 0x78;

// Hyperlinks and Hyperlink.
inline constexpr int32_t kAdd = 0xB5;
inline constexpr int32_t kDelete = 0x75;
inline constexpr int32_t kSubAddress = 0x5BF;
inline constexpr int32_t kScreenTip = 0x759;
inline constexpr int32_t kTextToDisplay = 0x75A;

// LanguageSettings.LanguageID (with msoLanguageIDUI, 2).
inline constexpr int32_t kLanguageId = 0x1;
// A form's Caption (the workbook code's window objects).
inline constexpr int32_t kFormCaption = -518;

// WorksheetFunction: the member of function number n is kWorksheetFunctionBase + n.
inline constexpr int32_t kWorksheetFunctionBase = 0x4000;

// Application events.
inline constexpr int32_t kEventNewWorkbook = 1558;
inline constexpr int32_t kEventSheetCalculate = 1563;
inline constexpr int32_t kEventSheetChange = 1564;
inline constexpr int32_t kEventWorkbookOpen = 1567;
inline constexpr int32_t kEventWorkbookActivate = 1568;
inline constexpr int32_t kEventWorkbookDeactivate = 1569;
inline constexpr int32_t kEventWorkbookBeforeClose = 1570;
inline constexpr int32_t kEventWorkbookBeforeSave = 1571;
inline constexpr int32_t kEventWorkbookNewSheet = 1573;

}  // namespace korvel::dispid

namespace korvel {

// Values of the object model.
inline constexpr int32_t kCalculationManual = -4135;
inline constexpr int32_t kCalculationAutomatic = -4105;
inline constexpr int32_t kCalculationSemiautomatic = 2;
inline constexpr int32_t kSheetTypeWorksheet = -4167;
inline constexpr int32_t kWindowMaximized = -4137;
inline constexpr int32_t kCellTypeLastCell = 11;
inline constexpr int32_t kFileFormatExcel8 = 56;
inline constexpr int32_t kLanguageIdUserInterface = 2;

// Interfaces.
inline const InterfaceId kIidApplication = "{000208D5-0000-0000-C000-000000000046}";
inline const InterfaceId kIidWorkbook = "{000208DA-0000-0000-C000-000000000046}";
inline const InterfaceId kIidWorksheet = "{000208D8-0000-0000-C000-000000000046}";
inline const InterfaceId kIidChart = "{000208D6-0000-0000-C000-000000000046}";
inline const InterfaceId kIidRange = "{00020846-0000-0000-C000-000000000046}";
inline const InterfaceId kIidApplicationEvents = "{00024413-0000-0000-C000-000000000046}";
// The class of a new workbook of the running program, and the program's own class.
inline constexpr char16_t kWorkbookClass[] = u"{00020820-0000-0000-C000-000000000046}";
inline constexpr char16_t kApplicationProgId[] = u"Excel.Application";

}  // namespace korvel

#endif  // KORVEL_EXCEL_DISPATCH_IDS_H_
