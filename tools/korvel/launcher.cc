#include "tools/korvel/launcher.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "model/chunk_stream.h"
#include "model/envelope.h"
#include "model/model_stream.h"
#include "platform/files.h"
#include "runtime/host_commands.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string utf16leBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(char(unit & 0xFF));
    bytes.push_back(char(unit >> 8));
  }
  return bytes;
}

// Sends to one window and keeps the record; the first failure ends the session.
class Session {
 public:
  Session(WindowSystem& windows, WindowHandle window, LaunchResult& result)
      : windows_(windows), window_(window), result_(result) {}

  bool plain(uint32_t message, uint64_t wParam, int64_t lParam) {
    // A vanished window answers 0 to everything and would strand every block sent after it.
    if (!windows_.isWindow(window_)) return fail("the host program's main window went away");
    int64_t answer = windows_.send(window_, message, wParam, lParam);
    result_.sent.push_back(SentCommand{message, wParam, lParam, answer});
    return true;
  }

  // One block holding the bytes, released by the receiver. Empty bytes travel as address 0
  // because no block of 0 bytes exists.
  bool payload(uint32_t message, std::string_view bytes, int64_t lParam) {
    if (bytes.empty()) return plain(message, 0, lParam);
    if (!windows_.isWindow(window_)) return fail("the host program's main window went away");
    uint8_t* block = windows_.allocatePayload(bytes.size());
    if (block == nullptr) {
      return fail("cannot allocate a payload block of " + std::to_string(bytes.size()) +
                  " bytes for command " + std::to_string(message));
    }
    std::memcpy(block, bytes.data(), bytes.size());
    return plain(message, payloadAddress(block), lParam);
  }

  bool text(uint32_t message, std::u16string_view text) {
    return payload(message, utf16leBytes(text), int64_t(text.size()));
  }

  bool bytes(uint32_t message, std::string_view bytes) {
    return payload(message, bytes, int64_t(bytes.size()));
  }

  bool fail(std::string error) {
    result_.ok = false;
    result_.error = std::move(error);
    return false;
  }

 private:
  WindowSystem& windows_;
  WindowHandle window_;
  LaunchResult& result_;
};

bool envelopeOf(std::string_view content, const char* what, std::string* envelope,
                std::string* error) {
  if (encodeEnvelope(content, envelope)) return true;
  *error = std::string("cannot wrap the ") + what + " in an envelope";
  return false;
}

// The envelopes prepared before anything goes out, so that a package that cannot be sent whole is
// refused without leaving the runtime half-configured.
struct Prepared {
  std::string agreement;
  std::string keywords;
  std::string functionNames;
  std::u16string hostText;  // with its terminator
};

bool prepare(const LaunchPackage& package, Prepared* prepared, std::string* error) {
  // An empty agreement goes as no payload at all: an envelope of nothing does not decode, and the
  // runtime would then keep the raw envelope bytes as the agreement text.
  if (!package.agreementText.empty() &&
      !envelopeOf(package.agreementText, "agreement text", &prepared->agreement, error)) {
    return false;
  }
  if (!package.keywordTexts.empty() && !envelopeOf(utf16leBytes(package.keywordTexts),
                                                   "keyword table", &prepared->keywords, error)) {
    return false;
  }
  if (!package.functionNameTexts.empty() &&
      !envelopeOf(utf16leBytes(package.functionNameTexts), "function-name table",
                  &prepared->functionNames, error)) {
    return false;
  }
  if (package.hostText) {
    // The receiver reads up to the first NUL; a text holding one would arrive cut short.
    if (package.hostText->find(u'\0') != std::u16string::npos) {
      *error = "the host text holds a NUL character";
      return false;
    }
    prepared->hostText = *package.hostText + u'\0';
  }
  return true;
}

LaunchResult noWindow() {
  LaunchResult result;
  result.error = "the host program's main window was not found";
  return result;
}

}  // namespace

WindowHandle Launcher::findHostWindow() const {
  WindowHandle found = WindowHandle::kNoWindow;
  for (WindowHandle window : windows_.topLevelWindows()) {
    if (windows_.className(window) != kHostMainWindowClass) continue;
    if (found == WindowHandle::kNoWindow || window < found) found = window;
  }
  return found;
}

LaunchResult Launcher::deliver(const LaunchPackage& package) {
  WindowHandle window = findHostWindow();
  if (window == WindowHandle::kNoWindow) return noWindow();
  LaunchResult result;
  Prepared prepared;
  if (!prepare(package, &prepared, &result.error)) return result;

  result.ok = true;
  Session session(windows_, window, result);
  bool sent = session.plain(HC_EXCEL_LANGUAGE, 0, package.interfaceLanguage) &&
              session.plain(HC_LAUNCH_MODE, package.launchMode, 0) &&
              session.bytes(HC_SETTINGS, package.settings) &&
              session.text(HC_APPLICATION_PATH, package.applicationPath) &&
              session.text(HC_STARTUP_DATA_PATH, package.startupDataPath) &&
              session.text(HC_EXPORT_DATA_PATH, package.exportDataPath) &&
              session.bytes(HC_AGREEMENT_TEXT, prepared.agreement) &&
              session.text(HC_WORKBOOK_PATH, package.workbookPath) &&
              session.text(HC_RUNTIME_MODULE_PATH, package.runtimeModulePath);
  if (sent && package.hostText) {
    sent = session.payload(HC_HOST_TEXT, utf16leBytes(prepared.hostText), 0);
  }
  if (sent && !prepared.keywords.empty()) sent = session.bytes(HC_KEYWORD_TEXTS, prepared.keywords);
  if (sent && !prepared.functionNames.empty()) {
    sent = session.bytes(HC_FUNCTION_NAME_TEXTS, prepared.functionNames);
  }
  for (size_t i = 0; sent && i < package.model.size(); ++i) {
    // An empty part would travel as address 0, which is the end marker, and cut the model short;
    // it carries nothing, so it is left out.
    if (!package.model[i].empty()) sent = session.bytes(HC_MODEL_PART, package.model[i]);
  }
  if (sent) session.plain(HC_MODEL_PART, 0, 0);
  return result;
}

LaunchResult Launcher::attach(uint64_t applicationPointer, std::u16string_view macro) {
  WindowHandle window = findHostWindow();
  if (window == WindowHandle::kNoWindow) return noWindow();
  LaunchResult result;
  if (macro.find(u'\0') != std::u16string_view::npos) {
    result.error = "the macro name holds a NUL character";
    return result;
  }
  std::u16string terminated(macro);
  int64_t address = macro.empty() ? 0 : int64_t(uintptr_t(terminated.c_str()));
  result.ok = true;
  Session(windows_, window, result).plain(HC_ATTACH_APPLICATION, applicationPointer, address);
  return result;
}

LaunchResult Launcher::start() {
  WindowHandle window = findHostWindow();
  if (window == WindowHandle::kNoWindow) return noWindow();
  LaunchResult result;
  result.ok = true;
  Session(windows_, window, result).plain(HC_START, 0, 0);
  return result;
}

LaunchResult Launcher::launch(const LaunchPackage& package, uint64_t applicationPointer,
                              std::u16string_view macro) {
  LaunchResult result = deliver(package);
  for (int step = 0; result.ok && step < 2; ++step) {
    LaunchResult next = step == 0 ? attach(applicationPointer, macro) : start();
    result.sent.insert(result.sent.end(), next.sent.begin(), next.sent.end());
    result.ok = next.ok;
    result.error = std::move(next.error);
  }
  return result;
}

bool modelEnvelopes(const CompiledModel& model, Files& files, std::vector<std::string>* envelopes,
                    std::string* error) {
  envelopes->clear();
  try {
    ChunkStream out(files);
    writeModel(model, out);
    for (size_t i = 0; i < out.chunkCount(); ++i) {
      envelopes->push_back(out.chunk(i).storedEnvelope());
    }
  } catch (const FileError& e) {
    envelopes->clear();
    *error = toUtf8(e.message());
    return false;
  } catch (const std::exception& e) {
    envelopes->clear();
    *error = std::string("cannot write the model: ") + e.what();
    return false;
  }
  return true;
}

bool readModelEnvelopes(Files& files, const std::u16string& path,
                        std::vector<std::string>* envelopes, std::string* error) {
  envelopes->clear();
  std::string bytes;
  if (!files.readAll(path, &bytes)) {
    *error = "cannot read " + toUtf8(path);
    return false;
  }
  std::vector<std::string_view> pieces;
  if (!splitEnvelopes(bytes, &pieces, error)) {
    *error = toUtf8(path) + ": " + *error;
    return false;
  }
  envelopes->assign(pieces.begin(), pieces.end());
  return true;
}

}  // namespace korvel
