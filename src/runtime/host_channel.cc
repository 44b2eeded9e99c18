#include "runtime/host_channel.h"

#include <algorithm>
#include <exception>
#include <string>
#include <string_view>

#include "engine/date_text.h"
#include "engine/value_texts.h"
#include "functions/function_catalogue.h"
#include "model/envelope.h"
#include "runtime/excel_bridge.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "util/text.h"

namespace korvel {

namespace {

// How a command treats its payload and what it answers.
struct CommandTraits {
  uint32_t id;
  bool freesPayload;  // a launcher block at wParam, released after the handler
  bool handled;
  int64_t result;
};

constexpr CommandTraits kCommands[] = {
    {HC_ATTACH_APPLICATION, false, true, 1},
    {HC_CONTROL_CHANGED, false, true, 1},
    {HC_SETTINGS, true, true, 0},
    {HC_FUNCTION_NAME_TEXTS, true, true, 1},
    {HC_MODEL_PART, true, true, 1},
    {HC_KEYWORD_TEXTS, true, true, 1},
    {HC_EXCEL_LANGUAGE, false, true, 1},
    {HC_APPLICATION_PATH, true, true, 1},
    {HC_STARTUP_DATA_PATH, true, true, 1},
    {HC_EXPORT_DATA_PATH, true, true, 1},
    {HC_AGREEMENT_TEXT, true, true, 1},
    {HC_WORKBOOK_PATH, true, true, 1},
    {HC_RUNTIME_MODULE_PATH, true, true, 1},
    {HC_START, false, true, 1},
    {HC_DEFERRED, false, true, kDeferredAnswer},
    {HC_LAUNCH_MODE, false, false, 0},
    {HC_HOST_TEXT, true, true, 1},
    {HC_QUERY_ATTACHED, false, true, 0},
    {HC_START_MACRO, false, true, 1},
    {HC_RANGE_CHANGED, false, true, 0},
};

const CommandTraits* commandTraits(uint32_t id) {
  for (const CommandTraits& traits : kCommands) {
    if (traits.id == id) return &traits;
  }
  return nullptr;
}

// In-process texts (the workbook's code passes the address of its own string) are trusted to end;
// the bound only keeps a missing terminator from running through the whole address space.
constexpr size_t kLongestInProcessText = 32767;

std::u16string inProcessText(uint64_t address) {
  const char16_t* text = reinterpret_cast<const char16_t*>(uintptr_t(address));
  size_t length = 0;
  while (length < kLongestInProcessText && text[length] != 0) ++length;
  return std::u16string(text, length);
}

std::u16string utf16FromBytes(std::string_view bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = char16_t(uint8_t(bytes[2 * i]) | (uint8_t(bytes[2 * i + 1]) << 8));
  }
  return text;
}

// A compressed payload decodes when it is a valid envelope; anything else is used as it is.
std::string decodeCompressed(std::string_view bytes) {
  std::string content;
  if (decodeEnvelope(bytes, &content) > 0) return content;
  return std::string(bytes);
}

}  // namespace

int64_t HostChannel::windowProcedure(WindowHandle window, uint32_t message, uint64_t wParam,
                                     int64_t lParam) {
  CommandResult command;
  try {
    if (message == kWmSysCommand && (wParam & 0xFFF0) == kScClose) {
      // The user closes the host program: its workbook's close events must reach the runtime,
      // which switches them off while it works and may have been interrupted.
      if (!runtime_.settings().saveAsExecutable) {
        std::optional<bool> events = runtime_.connection().enableEvents();
        if (events && !*events) runtime_.connection().setEnableEvents(true);
      }
    } else if (message >= kFirstChannelMessage && message <= kLastChannelMessage &&
               window == runtime_.mainWindow()) {
      // Only the main window carries commands: the other windows the procedure sits on use the
      // same message numbers for their own purposes.
      command = dispatch(message, wParam, lParam);
      if (command.handled) return command.result;
    }
  } catch (...) {
  }
  const auto& registry = runtime_.subclassRegistry();
  auto entry = registry.find(window);
  if (entry != registry.end() && entry->second) {
    return entry->second(window, message, wParam, lParam);
  }
  return command.result;
}

CommandResult HostChannel::dispatch(uint32_t message, uint64_t wParam, int64_t lParam) {
  if (message < kFirstCommand || message > kLastChannelMessage) return {};
  const CommandTraits* traits = commandTraits(message);
  if (traits == nullptr) return {};
  if (message == HC_DEFERRED && wParam == DEFER_RECALCULATE &&
      runtime_.calculation().recalculating) {
    // A cycle is running and this request came from inside it; the host program answers it.
    return {};
  }

  CommandResult result{traits->result, traits->handled};
  if (message == HC_QUERY_ATTACHED) result.result = runtime_.connection().attached() ? 1 : 0;
  std::exception_ptr failure;
  try {
    run(message, wParam, lParam);
  } catch (...) {
    failure = std::current_exception();
  }
  if (traits->freesPayload && wParam != 0) runtime_.platform().windows->releasePayload(wParam);
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const notice4user& notice) {
      try {
        showNotice(notice.what());
      } catch (...) {
      }
    } catch (...) {
    }
    runtime_.shutDown();
  }
  return result;
}

namespace {

// The bytes of a launcher payload, cut to its block.
std::string_view payloadBytes(Runtime& runtime, uint64_t address, uint64_t length) {
  if (address == 0 || length == 0) return {};
  size_t size = runtime.platform().windows->payloadSize(address);
  return std::string_view(reinterpret_cast<const char*>(uintptr_t(address)),
                          size_t(std::min<uint64_t>(length, size)));
}

std::string_view bytesOf(Runtime& runtime, uint64_t wParam, int64_t lParam) {
  return lParam <= 0 ? std::string_view() : payloadBytes(runtime, wParam, uint64_t(lParam));
}

// A text payload: lParam counts UTF-16 units.
std::u16string textOf(Runtime& runtime, uint64_t wParam, int64_t lParam) {
  if (lParam <= 0 || uint64_t(lParam) > UINT64_MAX / 2) return {};
  return utf16FromBytes(payloadBytes(runtime, wParam, uint64_t(lParam) * 2));
}

}  // namespace

void HostChannel::run(uint32_t message, uint64_t wParam, int64_t lParam) {
  ChannelState& state = runtime_.channelState();
  const Platform& platform = runtime_.platform();
  switch (message) {
    case HC_ATTACH_APPLICATION:
      if (wParam != 0)
        runtime_.connection().attach(wParam, lParam != 0 ? inProcessText(uint64_t(lParam)) : u"");
      break;
    case HC_CONTROL_CHANGED:
      if (wParam != 0) runtime_.connection().controlChanged(inProcessText(wParam));
      break;
    case HC_SETTINGS: {
      std::string_view bytes = bytesOf(runtime_, wParam, lParam);
      ParsedSettings parsed = parseSettings(bytes);
      if (applySettings(parsed, &runtime_.settings())) {
        runtime_.applicationInfo().update(runtime_.settings());
        fillTemplateValues(runtime_.settings(), &runtime_.aboutTemplate());
      }
      // The copy is the record as the launcher sent it, whether or not it parsed: it goes back
      // into a saved application for the launcher to read.
      runtime_.settings().settingsCopy = std::string(bytes);
      break;
    }
    case HC_FUNCTION_NAME_TEXTS: {
      std::u16string name = languageName();
      if (wParam != 0 && !equalsNoCase(name, u"english")) {
        std::u16string table = utf16FromBytes(decodeCompressed(bytesOf(runtime_, wParam, lParam)));
        FunctionCatalogue::instance().loadLocalisedNames(name, table);
      }
      break;
    }
    case HC_MODEL_PART:
      // A model that cannot be taken leaves the runtime running on an empty model: the launcher
      // and the user see the application without results rather than no application.
      try {
        if (wParam != 0) {
          if (runtime_.deliveryStream() != nullptr) {
            runtime_.deliveryStream()->appendChunk(bytesOf(runtime_, wParam, lParam));
          }
        } else {
          std::string error;
          runtime_.finishDelivery(&error);
        }
      } catch (...) {
      }
      break;
    case HC_KEYWORD_TEXTS:
      if (wParam != 0 && state.excelLanguage != 9) {
        std::u16string table = utf16FromBytes(decodeCompressed(bytesOf(runtime_, wParam, lParam)));
        std::u16string loaded = loadLiteralTexts(table, state.excelLanguage);
        if (!loaded.empty() && platform.locale != nullptr) {
          platform.locale->setCollationLanguage(loaded);
        }
      }
      break;
    case HC_EXCEL_LANGUAGE:
      if ((lParam & 0xFF) != 0) state.excelLanguage = int(lParam & 0xFF);
      break;
    case HC_APPLICATION_PATH:
      if (wParam != 0) storeApplicationPath(textOf(runtime_, wParam, lParam));
      break;
    case HC_STARTUP_DATA_PATH:
      if (wParam != 0) state.startupDataPath = textOf(runtime_, wParam, lParam);
      break;
    case HC_EXPORT_DATA_PATH:
      if (wParam != 0) state.exportDataPath = textOf(runtime_, wParam, lParam);
      break;
    case HC_AGREEMENT_TEXT:
      if (wParam != 0 && lParam > 2) {
        state.agreementText = decodeCompressed(bytesOf(runtime_, wParam, lParam));
      }
      break;
    case HC_WORKBOOK_PATH:
      if (wParam != 0) state.workbookPath = textOf(runtime_, wParam, lParam);
      break;
    case HC_RUNTIME_MODULE_PATH:
      if (wParam != 0) state.runtimeModulePath = textOf(runtime_, wParam, lParam);
      break;
    case HC_START:
      start();
      break;
    case HC_DEFERRED:
      runDeferred(wParam, lParam);
      break;
    case HC_LAUNCH_MODE:
      state.launchMode = wParam;
      break;
    case HC_HOST_TEXT:
      if (wParam != 0) {
        // A launcher block: the text ends at its terminator or at the end of the block.
        size_t size = platform.windows->payloadSize(wParam);
        std::u16string text = utf16FromBytes(payloadBytes(runtime_, wParam, size));
        runtime_.hostInformation().hostText = text.substr(0, text.find(u'\0'));
      }
      break;
    case HC_START_MACRO:
      // The macro text must be there; a call without one names no macro.
      if (lParam != 0 && wParam == kSecondStartMacro) {
        state.secondStartMacro = inProcessText(uint64_t(lParam));
      } else if (lParam != 0 && wParam == kFirstStartMacro) {
        state.firstStartMacro = inProcessText(uint64_t(lParam));
      }
      break;
    case HC_RANGE_CHANGED:
      runtime_.connection().rangeChanged(wParam, lParam);
      break;
    default:
      break;
  }
}

void HostChannel::storeApplicationPath(std::u16string path) {
  ChannelState& state = runtime_.channelState();
  System& system = *runtime_.platform().system;
  state.applicationPath = std::move(path);
  size_t separator = state.applicationPath.find_last_of(u"\\/");
  if (separator != std::u16string::npos && separator > 0) {
    state.applicationDirectory = state.applicationPath.substr(0, separator);
    system.setCurrentDirectory(state.applicationDirectory);
  }
  ExecutableIcons icons = system.extractIcons(state.applicationPath);
  IconHandle chosen = icons.large != IconHandle::kNoIcon ? icons.large : icons.small;
  if (chosen != IconHandle::kNoIcon) {
    system.destroyIcon(state.applicationIcon);
    state.applicationIcon = chosen;
  }
  if (icons.small != chosen) system.destroyIcon(icons.small);
}

void HostChannel::start() {
  ChannelState& state = runtime_.channelState();
  runtime_.connection().startApplication();
  if (state.firstStartMacro.empty() && state.secondStartMacro.empty()) return;
  // The start macros run once the host program is idle: a tenth of a second from now.
  LocalTime now = runtime_.platform().clock->now();
  bool date1904 = runtime_.engine() != nullptr && runtime_.engine()->date1904;
  double serial = dateSerial(now.year, now.month, now.day, now.hour, now.minute,
                             now.second + now.millisecond / 1000.0, date1904);
  runtime_.connection().onTime(serial + 1.0 / 864000.0, u"DummyFunc13");
}

void HostChannel::runDeferred(uint64_t action, int64_t argument) {
  switch (action) {
    case DEFER_RUN_START_MACROS:
      runtime_.connection().runStartMacros();
      break;
    case DEFER_RECALCULATE:
      runtime_.connection().recalculate(argument != 0);
      break;
    case DEFER_REGISTER_UNDO:
      registerUndo();
      break;
    case DEFER_QUIT:
      quit();
      break;
    case DEFER_EXPORT:
      runtime_.dataExchange().exportData(false, u"");
      break;
    case DEFER_IMPORT:
      runtime_.dataExchange().importData(u"");
      break;
    case DEFER_ABOUT:
      runtime_.dialogs().showAbout();
      break;
    case DEFER_AGREEMENT:
      runtime_.dialogs().showAgreement();
      break;
    case DEFER_EXPORT_COLLECTED:
      runtime_.dataExchange().exportData(true, u"");
      break;
    case DEFER_SAVE_EXECUTABLE:
      runtime_.packaging().saveAsExecutable();
      break;
    default:
      break;
  }
}

void HostChannel::registerUndo() {
  CalculationState& calculation = runtime_.calculation();
  if (calculation.undoList.empty()) return;
  calculation.undoRegistered = true;
  try {
    runtime_.connection().onUndo(tableText(TextEntry::kUndoCaption),
                                 tableText(TextEntry::kUndoProcedure));
  } catch (...) {
  }
}

void HostChannel::quit() {
  try {
    runtime_.shutDown();
  } catch (...) {
  }
  try {
    if (runtime_.connection().attached()) runtime_.connection().setEnableEvents(false);
  } catch (...) {
  }
  runtime_.platform().system->endProcess(0);
}

void HostChannel::showNotice(const std::string& message) {
  runtime_.platform().windows->messageBox(WindowHandle::kNoWindow, widenText(message),
                                          tableText(TextEntry::kNoticeCaption),
                                          kMbOk | kMbIconWarning);
}

std::u16string HostChannel::languageName() const {
  return std::u16string(korvel::languageName(runtime_.channelState().excelLanguage));
}

}  // namespace korvel
