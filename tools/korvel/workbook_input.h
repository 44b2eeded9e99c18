// Reading the workbook a command names, whether an .xlsx package or a workbook text, and carrying
// its calculation settings into the engine that computes it.
#ifndef KORVEL_TOOLS_KORVEL_WORKBOOK_INPUT_H_
#define KORVEL_TOOLS_KORVEL_WORKBOOK_INPUT_H_

#include <string>
#include <vector>

#include "compiler/workbook.h"

namespace korvel {

class Engine;
class HeadlessCalcHost;

// What a file's first bytes show it to be, whatever its name says.
enum class InputKind {
  kUnreadable,   // missing, or cannot be opened
  kFolder,       // a folder
  kNotAFile,     // a device, a pipe or a socket
  kEmpty,        // no bytes at all
  kModel,        // chunk envelopes: a model (.kvm)
  kApplication,  // an application file (.kvapp)
  kDataFile,     // a data file (.dat)
  kPackage,      // a zip archive: an .xlsx workbook
  kText,         // anything else: read as a workbook text
};
InputKind sniffInput(const std::string& path);

// Whether the text ends in tail, ASCII letters compared without case.
bool endsWithNoCase(const std::string& text, const std::string& tail);
// An application file (.kvapp) by its name or its first bytes.
bool isApplicationInput(const std::string& path);
// The name a workbook file has in the program: its file name with .xlsx for its extension.
std::u16string programWorkbookName(const std::string& path);
// "a folder", "a model (.kvm)", ... for messages that say what a file is.
const char* describeInput(InputKind kind);

// True when the file is to be read as an .xlsx package: its name ends in .xlsx or .xlsm (so that
// a damaged package is reported as one), or its bytes start as a zip archive does.
bool isXlsxPath(const std::string& path);

// Reads an .xlsx package or a workbook text into *workbook. False with messages in *errors when
// the file cannot be read or has faults, and with one message saying what the file is when it
// is no workbook (a folder, an empty file, a model, an application or data file).
bool readWorkbookFile(const std::string& path, Workbook* workbook,
                      std::vector<std::string>* errors);

// Prints the faults of reading or building a workbook on stderr, one a line as "PATH: fault" (the
// path once, also when a reader already named it). A long fault is cut short, and past the first
// kShownFaults the rest are counted, not printed: one construct repeated over a sheet must not
// bury the first faults under thousands of lines.
inline constexpr size_t kShownFaults = 20;
inline constexpr size_t kShownFaultLength = 300;
// The text as a message shows it: cut after kShownFaultLength bytes (at a character's start),
// with "..." after the cut.
std::string cutForMessage(const std::string& text);
void printWorkbookFaults(const std::string& path, const std::vector<std::string>& errors);

// The workbook's date system and iteration settings, for the engine and the host alike (the
// host answers the engine's question about the date system, so the two must agree).
void applyWorkbookSettings(const Workbook& workbook, Engine& engine, HeadlessCalcHost& host);
// The same, for a caller that is done with the workbook's formula texts: each is freed once the
// host holds its own copy, so that the two are not held at once.
void applyWorkbookSettings(Workbook&& workbook, Engine& engine, HeadlessCalcHost& host);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_WORKBOOK_INPUT_H_
