// The command channel's numbers: the window messages the launcher, the workbook's code and the
// runtime itself send to the host program's main window, and the action codes of the deferred
// command. The launcher stand-in and the tests speak the channel through these names.
#ifndef KORVEL_RUNTIME_HOST_COMMANDS_H_
#define KORVEL_RUNTIME_HOST_COMMANDS_H_

#include <cstdint>

#include "platform/window_system.h"

namespace korvel {

// Messages kFirstChannelMessage..kLastChannelMessage reach the dispatcher; the commands are the
// ones from kFirstCommand up that the table of HostChannel knows.
inline constexpr uint32_t kFirstChannelMessage = kWmUser + 1;   // 1025
inline constexpr uint32_t kLastChannelMessage = kWmUser + 258;  // 1282
inline constexpr uint32_t kFirstCommand = kWmUser + 128;        // 1152

inline constexpr uint32_t HC_ATTACH_APPLICATION = 1152;
inline constexpr uint32_t HC_CONTROL_CHANGED = 1153;
inline constexpr uint32_t HC_SETTINGS = 1155;
inline constexpr uint32_t HC_FUNCTION_NAME_TEXTS = 1156;
inline constexpr uint32_t HC_MODEL_PART = 1157;
inline constexpr uint32_t HC_KEYWORD_TEXTS = 1158;
inline constexpr uint32_t HC_EXCEL_LANGUAGE = 1159;
inline constexpr uint32_t HC_APPLICATION_PATH = 1160;
inline constexpr uint32_t HC_STARTUP_DATA_PATH = 1161;
inline constexpr uint32_t HC_EXPORT_DATA_PATH = 1162;
inline constexpr uint32_t HC_AGREEMENT_TEXT = 1163;
inline constexpr uint32_t HC_WORKBOOK_PATH = 1165;
inline constexpr uint32_t HC_RUNTIME_MODULE_PATH = 1166;
inline constexpr uint32_t HC_START = 1167;
inline constexpr uint32_t HC_DEFERRED = 1173;
inline constexpr uint32_t HC_LAUNCH_MODE = 1178;
inline constexpr uint32_t HC_HOST_TEXT = 1179;
inline constexpr uint32_t HC_QUERY_ATTACHED = 1180;
inline constexpr uint32_t HC_START_MACRO = 1280;
inline constexpr uint32_t HC_RANGE_CHANGED = 1282;

// Action codes of HC_DEFERRED (its wParam; lParam is the action's argument).
inline constexpr uint64_t DEFER_RUN_START_MACROS = 2;
inline constexpr uint64_t DEFER_RECALCULATE = 10;
inline constexpr uint64_t DEFER_REGISTER_UNDO = 12;
inline constexpr uint64_t DEFER_QUIT = 13;
inline constexpr uint64_t DEFER_EXPORT = 1168;
inline constexpr uint64_t DEFER_IMPORT = 1169;
inline constexpr uint64_t DEFER_ABOUT = 1170;
inline constexpr uint64_t DEFER_AGREEMENT = 1171;
inline constexpr uint64_t DEFER_EXPORT_COLLECTED = 1174;
inline constexpr uint64_t DEFER_SAVE_EXECUTABLE = 1281;

// What HC_DEFERRED answers whenever it runs an action, known or not.
inline constexpr int64_t kDeferredAnswer = 1911;

// HC_START_MACRO's wParam: which of the two start macros the text names.
inline constexpr uint64_t kSecondStartMacro = 1;
inline constexpr uint64_t kFirstStartMacro = 2;

// The host program's main window class.
inline constexpr char16_t kHostMainWindowClass[] = u"XLMAIN";

}  // namespace korvel

#endif  // KORVEL_RUNTIME_HOST_COMMANDS_H_
