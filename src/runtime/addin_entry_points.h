// The runtime's add-in entry points, as functions of a Runtime: what the host program runs for the
// registered functions and commands, what the workbook's code calls (the channel's entrance and
// the constant table), and the add-in's close callback. The library's exports call these with
// Runtime::instance(). Every entry point catches everything and answers its ordinary result,
// except xlAutoClose, which ends the process on an exception.
//
// Values returned by pointer live in the runtime and stay valid until the next call of the same
// entry point.
//
// REQUIRES: called on the host program's user-interface thread (DummyFunc9 may be called from
// any thread of the process; its message is handled on the main window's thread).
#ifndef KORVEL_RUNTIME_ADDIN_ENTRY_POINTS_H_
#define KORVEL_RUNTIME_ADDIN_ENTRY_POINTS_H_

#include <cstdint>
#include <string>

#include "platform/variant.h"
#include "platform/xloper.h"

namespace korvel {

class Runtime;

// The service codes of DummyFunc8.
inline constexpr int kServiceExport = 1;
inline constexpr int kServiceImport = 2;
inline constexpr int kServiceInformation = 3;
inline constexpr int kServicePostSave = 4;
inline constexpr int kServicePostAgreement = 5;
inline constexpr int kServiceExportCollected = 6;
inline constexpr int kServiceSaveExecutable = 7;
inline constexpr int kServiceCodeRunning = 8;
inline constexpr int kServicePostAbout = 9;
inline constexpr int kServiceWindowIcon = 10;
inline constexpr int kServiceRestoreFormulas = 11;
// Information items of kServiceInformation.
inline constexpr int kInfoItemLaunchMode = 51;
inline constexpr int kInfoItemApplicationPath = 52;
inline constexpr int kInfoItemApplicationName = 53;
inline constexpr int kInfoItemApplicationVersion = 54;
inline constexpr int kInfoItemHostText = 55;

// Does nothing; an all-zero record.
const Xloper* DummyFunc0(Runtime& runtime);
// The calculate command: posts a full recalculation when there is anything to compute.
const Xloper* DummyFunc1(Runtime& runtime);
// Seconds the last recalculation cycle took; 0 before the first.
double DummyFunc2(Runtime& runtime);
// Runs the application's Main macro.
int DummyFunc3(Runtime& runtime);
// Takes the user's last entry back.
int DummyFunc4(Runtime& runtime);
// Takes the values of the range the argument names into the model.
const Xloper* DummyFunc5(Runtime& runtime, const Xloper* argument);
// Data-entry notification: sets the user-entry flag.
int DummyFunc6(Runtime& runtime);
// Does nothing; an all-zero record.
const Xloper* DummyFunc7(Runtime& runtime, const Xloper* argument);
// The service entry of the workbook's code.
const Xloper* DummyFunc8(Runtime& runtime, int code, const Xloper* argument);
// The channel's entrance for code in the host program's process: HC_CONTROL_CHANGED is posted
// (the answer is whether the post succeeded), every other message is sent.
int64_t DummyFunc9(Runtime& runtime, uint32_t message, uint64_t wParam, int64_t lParam);
// Entry index of the model's constant table: a text as the BSTR the workbook's code receives (its
// bytes are the text narrowed to 8 bits, shown here as one unit per byte), another value converted.
Variant DummyFunc11(Runtime& runtime, int index);
// The same as the bytes of the BSTR; empty for anything but a text.
std::string DummyFunc12(Runtime& runtime, int index);
// Runs the start macros (scheduled through Application.OnTime).
int DummyFunc13(Runtime& runtime);
// The add-in's close callback.
int xlAutoClose(Runtime& runtime);

}  // namespace korvel

#endif  // KORVEL_RUNTIME_ADDIN_ENTRY_POINTS_H_
