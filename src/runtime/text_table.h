// The runtime's fixed texts that the launcher, the workbook's code and the host program must agree
// on, or that the user sees: the names of the registered functions, the key texts, the items of
// the information query, captions and questions. They are kept in one table, stored scrambled so
// that they do not stand in plain sight in the library, and unscrambled only when read.
//
// The numbers are stable: other subsystems and the workbook's code refer to entries by number.
#ifndef KORVEL_RUNTIME_TEXT_TABLE_H_
#define KORVEL_RUNTIME_TEXT_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

enum class TextEntry : int {
  kNoticeCaption = 1,      // caption of the box that shows a user notice
  kUndoCaption = 2,        // Application.OnUndo text
  kUndoProcedure = 3,      // Application.OnUndo procedure: "DummyFunc4"
  kCalculateFunction = 4,  // function text of registration entry 1
  kDurationFunction = 5,   // entry 2
  kDurationFunction2 = 6,  // entry 502
  kMainFunction = 7,       // entry 3
  kRangeFunction = 8,      // entry 5
  kServiceFunction = 9,    // entry 8
  kCalculateKey = 10,      // first key text bound to the calculate command
  kCalculateKey2 = 11,     // second key text
  kEntryMacro = 12,        // ON.ENTRY macro: the function text of entry 6, "DummyFunc6"
  kInfoLaunchMode = 13,    // information items of DummyFunc8 code 3 (51 to 55)
  kInfoApplicationPath = 14,
  kInfoApplicationName = 15,
  kInfoApplicationVersion = 16,
  kInfoHostText = 17,
  kMainWorkbook = 18,   // identity of the workbook whose Main macro DummyFunc3 runs
  kCloseQuestion = 19,  // asked before the application workbook closes with unsaved data
  kSaveWarning = 20,    // shown when the application workbook would be saved as a workbook
  kCloseCaptionPrefix = 21,
  // The two child windows of the main window whose messages tell whether a cell is edited.
  kEditWindowClass = 22,
  kEditWindowClass2 = 23,
  kLinkedApplicationArguments = 24,  // start arguments of a linked application ("%u": window)
  kRunMacroSuffix = 41,              // the last 10 characters of a macro the workbook's code runs
  kRunMacroPrefix = 42,              // its first 11 characters
  kInterceptionFailed = 58,          // the notice when the program's members cannot be intercepted
  kWorkbookResourceType = 59,        // resource type of the saved workbook (the launcher's name)
  kReadOnlyCaption = 60,             // saving into a read-only application file
  kReadOnlyWarning = 61,             // its text; "%s": the file
  kVersionLabel = 62,                // the About box's version line, before the version number
};

// The entry's text, unscrambled; empty for a number without an entry.
std::u16string tableText(TextEntry entry);
// The same, 8-bit (each unit keeps its low byte), for the add-in interface.
std::string tableText8(TextEntry entry);

// The scrambling of stored entries: reversible, keyed by the entry's number and the position of
// each unit, so equal texts do not look alike. Scrambling twice gives the text back.
std::u16string scrambleEntry(int number, std::u16string_view text);
// The entry as it is stored, scrambled; empty for a number without an entry.
std::u16string_view storedEntry(int number);

}  // namespace korvel

#endif  // KORVEL_RUNTIME_TEXT_TABLE_H_
