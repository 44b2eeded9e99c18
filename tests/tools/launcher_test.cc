// The launcher stand-in against a recording main window: what goes out, in which order, and whether
// every payload arrives as one block that decodes back to what the package held.
#include "tools/korvel/launcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>

#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "model/chunk_stream.h"
#include "model/envelope.h"
#include "model/model_stream.h"
#include "runtime/host_commands.h"
#include "tools/korvel/model_file.h"

namespace korvel {
namespace {

// What the main window saw of one message, read during the call as the runtime reads it.
struct Received {
  uint32_t message;
  uint64_t wParam;
  int64_t lParam;
  std::optional<std::string> block;  // the payload block's bytes, when wParam was one
  std::u16string macro;              // 1152's text at lParam
};

// The commands whose payload the runtime releases.
bool releasedByReceiver(uint32_t message) {
  return message != HC_EXCEL_LANGUAGE && message != HC_LAUNCH_MODE && message != HC_START &&
         message != HC_ATTACH_APPLICATION;
}

// Answers message * 10 so a test can tell the recorded answers are the window's own.
class RecordingHost {
 public:
  explicit RecordingHost(HeadlessWindowSystem& windows) : windows_(windows) {
    window_ = windows.createWindow(
        {kHostMainWindowClass, u"Host", WindowHandle::kNoWindow, 0},
        WindowProc([this](WindowHandle, uint32_t message, uint64_t wParam, int64_t lParam) {
          return receive(message, wParam, lParam);
        }));
  }

  WindowHandle window() const { return window_; }
  const std::vector<Received>& received() const { return received_; }
  std::vector<uint32_t> messages() const {
    std::vector<uint32_t> out;
    for (const Received& r : received_) out.push_back(r.message);
    return out;
  }
  const Received* find(uint32_t message) const {
    for (const Received& r : received_) {
      if (r.message == message) return &r;
    }
    return nullptr;
  }
  // Destroys the window when this message arrives.
  void destroyOn(uint32_t message) { destroyOn_ = message; }

 private:
  int64_t receive(uint32_t message, uint64_t wParam, int64_t lParam) {
    Received r{message, wParam, lParam, std::nullopt, {}};
    if (size_t size = windows_.payloadSize(wParam); size != 0) {
      r.block = std::string(reinterpret_cast<const char*>(uintptr_t(wParam)), size);
      if (releasedByReceiver(message)) {
        EXPECT_TRUE(windows_.releasePayload(wParam));
      }
    }
    if (message == HC_ATTACH_APPLICATION && lParam != 0) {
      r.macro = reinterpret_cast<const char16_t*>(uintptr_t(lParam));
    }
    received_.push_back(std::move(r));
    if (message == destroyOn_) windows_.destroyWindow(window_);
    return int64_t(message) * 10;
  }

  HeadlessWindowSystem& windows_;
  WindowHandle window_;
  std::vector<Received> received_;
  uint32_t destroyOn_ = 0;
};

std::u16string fromUtf16le(std::string_view bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
  }
  return text;
}

std::string decoded(std::string_view envelope) {
  std::string content;
  EXPECT_NE(decodeEnvelope(envelope, &content), 0u);
  return content;
}

std::string envelopeOf(std::string_view content) {
  std::string envelope;
  EXPECT_TRUE(encodeEnvelope(content, &envelope));
  return envelope;
}

LaunchPackage fullPackage() {
  LaunchPackage p;
  p.interfaceLanguage = 0x0107;
  p.launchMode = 3;
  p.settings = std::string("\x68\x00\x01\x02", 4);
  p.applicationPath = u"C:\\Apps\\Pl\u00e4ne.exe";
  p.startupDataPath = u"C:\\Data\\in.dat";
  p.exportDataPath = u"C:\\Data\\out.dat";
  p.agreementText = "Terms\r\nof use";
  p.workbookPath = u"C:\\Temp\\wb.xls";
  p.runtimeModulePath = u"C:\\Temp\\rt.xll";
  p.hostText = u"Host \u20ac";
  p.keywordTexts = u"WAHR\nFALSCH";
  p.functionNameTexts = u"SUMME\tSUM";
  p.model = {envelopeOf("first part"), envelopeOf("second"), envelopeOf("third")};
  return p;
}

TEST(Launcher, DeliversTheCommandsInDependenceOrderAsSingleBlocks) {
  HeadlessWindowSystem windows;
  RecordingHost host(windows);
  LaunchPackage package = fullPackage();
  LaunchResult result = Launcher(windows).launch(package, 0xABCD, u"Auto_Open");
  ASSERT_TRUE(result.ok) << result.error;

  EXPECT_EQ(
      host.messages(),
      (std::vector<uint32_t>{HC_EXCEL_LANGUAGE, HC_LAUNCH_MODE, HC_SETTINGS, HC_APPLICATION_PATH,
                             HC_STARTUP_DATA_PATH, HC_EXPORT_DATA_PATH, HC_AGREEMENT_TEXT,
                             HC_WORKBOOK_PATH, HC_RUNTIME_MODULE_PATH, HC_HOST_TEXT,
                             HC_KEYWORD_TEXTS, HC_FUNCTION_NAME_TEXTS, HC_MODEL_PART, HC_MODEL_PART,
                             HC_MODEL_PART, HC_MODEL_PART, HC_ATTACH_APPLICATION, HC_START}));
  // The record is what went out, with the window's own answers.
  ASSERT_EQ(result.sent.size(), host.received().size());
  for (size_t i = 0; i < result.sent.size(); ++i) {
    const Received& r = host.received()[i];
    EXPECT_EQ(result.sent[i], (SentCommand{r.message, r.wParam, r.lParam, r.message * 10}));
  }

  const Received* language = host.find(HC_EXCEL_LANGUAGE);
  EXPECT_EQ(language->lParam, 0x0107);
  EXPECT_FALSE(language->block);
  EXPECT_EQ(host.find(HC_LAUNCH_MODE)->wParam, 3u);

  struct TextCase {
    uint32_t message;
    std::u16string text;
  };
  for (const TextCase& c :
       std::vector<TextCase>{{HC_APPLICATION_PATH, package.applicationPath},
                             {HC_STARTUP_DATA_PATH, package.startupDataPath},
                             {HC_EXPORT_DATA_PATH, package.exportDataPath},
                             {HC_WORKBOOK_PATH, package.workbookPath},
                             {HC_RUNTIME_MODULE_PATH, package.runtimeModulePath}}) {
    SCOPED_TRACE(c.message);
    const Received* r = host.find(c.message);
    ASSERT_TRUE(r->block);
    EXPECT_EQ(r->lParam, int64_t(c.text.size()));
    EXPECT_EQ(r->block->size(), 2 * c.text.size());
    EXPECT_EQ(fromUtf16le(*r->block), c.text);
  }

  const Received* settings = host.find(HC_SETTINGS);
  EXPECT_EQ(settings->block, package.settings);
  EXPECT_EQ(settings->lParam, 4);

  const Received* agreement = host.find(HC_AGREEMENT_TEXT);
  EXPECT_EQ(agreement->lParam, int64_t(agreement->block->size()));
  EXPECT_EQ(decoded(*agreement->block), package.agreementText);

  const Received* hostText = host.find(HC_HOST_TEXT);
  EXPECT_EQ(hostText->lParam, 0);
  EXPECT_EQ(fromUtf16le(*hostText->block), package.hostText.value() + u'\0');

  EXPECT_EQ(fromUtf16le(decoded(*host.find(HC_KEYWORD_TEXTS)->block)), package.keywordTexts);
  EXPECT_EQ(fromUtf16le(decoded(*host.find(HC_FUNCTION_NAME_TEXTS)->block)),
            package.functionNameTexts);

  // The parts in order, each one block holding its envelope, then the end marker.
  const std::vector<Received>& all = host.received();
  for (size_t i = 0; i < 3; ++i) {
    const Received& part = all[12 + i];
    EXPECT_EQ(part.block, package.model[i]);
    EXPECT_EQ(part.lParam, int64_t(package.model[i].size()));
  }
  EXPECT_EQ(all[15].wParam, 0u);
  EXPECT_EQ(all[15].lParam, 0);

  const Received* attach = host.find(HC_ATTACH_APPLICATION);
  EXPECT_EQ(attach->wParam, 0xABCDu);
  EXPECT_FALSE(attach->block);  // the caller's memory, not a payload block
  EXPECT_EQ(attach->macro, u"Auto_Open");

  EXPECT_EQ(windows.livePayloads(), 0u);
  EXPECT_EQ(windows.faultyPayloadReleases(), 0);
}

TEST(Launcher, EmptyPartsTravelAsAddressZeroOrNotAtAll) {
  HeadlessWindowSystem windows;
  RecordingHost host(windows);
  LaunchPackage package;  // everything empty, no host text
  // An empty part would read as the end marker and cut the model short.
  package.model = {envelopeOf("one"), std::string(), envelopeOf("two")};
  Launcher launcher(windows);
  ASSERT_TRUE(launcher.deliver(package).ok);
  ASSERT_TRUE(launcher.attach(7, u"").ok);

  EXPECT_EQ(
      host.messages(),
      (std::vector<uint32_t>{HC_EXCEL_LANGUAGE, HC_LAUNCH_MODE, HC_SETTINGS, HC_APPLICATION_PATH,
                             HC_STARTUP_DATA_PATH, HC_EXPORT_DATA_PATH, HC_AGREEMENT_TEXT,
                             HC_WORKBOOK_PATH, HC_RUNTIME_MODULE_PATH, HC_MODEL_PART, HC_MODEL_PART,
                             HC_MODEL_PART, HC_ATTACH_APPLICATION}));
  EXPECT_EQ(host.find(HC_EXCEL_LANGUAGE)->lParam, 9);
  // No envelope for an empty agreement: it would not decode, and the runtime would keep its raw
  // bytes as the text.
  for (uint32_t message :
       {HC_SETTINGS, HC_APPLICATION_PATH, HC_STARTUP_DATA_PATH, HC_EXPORT_DATA_PATH,
        HC_AGREEMENT_TEXT, HC_WORKBOOK_PATH, HC_RUNTIME_MODULE_PATH}) {
    SCOPED_TRACE(message);
    EXPECT_EQ(host.find(message)->wParam, 0u);
    EXPECT_EQ(host.find(message)->lParam, 0);
  }
  const std::vector<Received>& all = host.received();
  EXPECT_EQ(all[9].block, package.model[0]);
  EXPECT_EQ(all[10].block, package.model[2]);
  EXPECT_EQ(all[11].wParam, 0u);
  EXPECT_EQ(all[12].wParam, 7u);
  EXPECT_EQ(all[12].lParam, 0);  // no macro
  // An empty host text is still a text: one block holding the terminator.
  package.model.clear();
  package.hostText = u"";
  ASSERT_TRUE(launcher.deliver(package).ok);
  EXPECT_EQ(host.find(HC_HOST_TEXT)->block, std::string(2, '\0'));
  EXPECT_EQ(windows.livePayloads(), 0u);
}

TEST(Launcher, FindsTheTopLevelMainWindowWithTheLowestHandle) {
  HeadlessWindowSystem windows;
  WindowHandle frame = windows.createWindow({u"Frame", u"", WindowHandle::kNoWindow, 0});
  windows.createWindow({kHostMainWindowClass, u"", frame, 0});  // a child: not the main window
  WindowHandle first =
      windows.createWindow({kHostMainWindowClass, u"", WindowHandle::kNoWindow, 7});
  windows.createWindow({kHostMainWindowClass, u"", WindowHandle::kNoWindow, 0});
  EXPECT_EQ(Launcher(windows).findHostWindow(), first);
}

TEST(Launcher, RefusesWithoutSendingAnything) {
  struct Case {
    const char* name;
    bool withWindow;
    std::optional<std::u16string> hostText;
    std::u16string macro;
    size_t sentBeforeRefusal;
  };
  for (const Case& c : std::vector<Case>{
           {"no main window", false, std::nullopt, u"Start", 0},
           {"NUL in the host text", true, std::u16string(u"a\0b", 3), u"Start", 0},
           // Only the macro is refused late: the delivery before it is whole.
           {"NUL in the macro", true, std::nullopt, std::u16string(u"St\0art", 6), 15}}) {
    SCOPED_TRACE(c.name);
    HeadlessWindowSystem windows;
    std::optional<RecordingHost> host;
    if (c.withWindow) host.emplace(windows);
    windows.createWindow({u"Other", u"", WindowHandle::kNoWindow, 0});
    LaunchPackage package = fullPackage();
    package.hostText = c.hostText;
    Launcher launcher(windows);
    LaunchResult result = launcher.launch(package, 1, c.macro);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(result.sent.size(), c.sentBeforeRefusal);
    if (host) {
      EXPECT_EQ(host->received().size(), c.sentBeforeRefusal);
    } else {
      EXPECT_FALSE(launcher.start().ok);
    }
    EXPECT_EQ(windows.livePayloads(), 0u);
  }
}

// Refuses blocks once a number of them has been handed out, as a host short of memory would.
class ScarceWindowSystem : public HeadlessWindowSystem {
 public:
  explicit ScarceWindowSystem(int blocks) : blocks_(blocks) {}
  uint8_t* allocatePayload(size_t bytes) override {
    return blocks_-- > 0 ? HeadlessWindowSystem::allocatePayload(bytes) : nullptr;
  }

 private:
  int blocks_;
};

TEST(Launcher, ADeliveryThatBreaksOffStopsAndFails) {
  {
    ScarceWindowSystem windows(2);  // settings and application path
    RecordingHost host(windows);
    LaunchResult result = Launcher(windows).launch(fullPackage(), 1, u"");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("1161"), std::string::npos) << result.error;
    EXPECT_EQ(host.messages().back(), HC_APPLICATION_PATH);
    EXPECT_EQ(windows.livePayloads(), 0u);
  }
  {
    HeadlessWindowSystem windows;
    RecordingHost host(windows);
    host.destroyOn(HC_AGREEMENT_TEXT);
    LaunchResult result = Launcher(windows).deliver(fullPackage());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.sent.back().message, HC_AGREEMENT_TEXT);
    // Nothing was allocated for a window that could no longer release it.
    EXPECT_EQ(windows.livePayloads(), 0u);
  }
}

void fillSmallModel(CompiledModel& model) {
  model.applicationId = 5;
  model.sheets().add(Sheet(0, u"Data", u"Data"));
  model.cellAt(CellRef::at(0, 2, 1))->ensureValue().setNumber(2.5);
  model.constants.push_back(Value::text(u"key"));
}

std::string contentOf(const std::vector<std::string>& envelopes) {
  std::string content;
  for (const std::string& envelope : envelopes) content += decoded(envelope);
  return content;
}

TEST(LauncherModel, EnvelopesFromTheWriterAndFromAKvmFileCarryTheSameModel) {
  MemoryFiles files;
  CompiledModel model;
  fillSmallModel(model);
  std::vector<std::string> written;
  std::string error;
  ASSERT_TRUE(modelEnvelopes(model, files, &written, &error)) << error;
  ASSERT_FALSE(written.empty());

  ASSERT_TRUE(writeModelFile(files, u"/apps/m.kvm", model, &error)) << error;
  std::vector<std::string> read;
  ASSERT_TRUE(readModelEnvelopes(files, u"/apps/m.kvm", &read, &error)) << error;
  EXPECT_EQ(contentOf(read), contentOf(written));

  // The delivery stream the runtime builds from the parts loads the model back.
  ChunkStream delivery;
  for (const std::string& envelope : read) delivery.appendChunk(envelope);
  CompiledModel loaded;
  ASSERT_TRUE(loadModel(delivery, loaded, &error)) << error;
  EXPECT_EQ(loaded.applicationId, 5u);
  ASSERT_NE(loaded.findCell(CellRef::at(0, 2, 1)), nullptr);

  ASSERT_TRUE(files.writeAll(u"/apps/bad.kvm", "not envelopes"));
  for (const char16_t* path : {u"/apps/bad.kvm", u"/apps/missing.kvm"}) {
    read = {"stale"};
    error.clear();
    EXPECT_FALSE(readModelEnvelopes(files, path, &read, &error));
    EXPECT_TRUE(read.empty());
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace korvel
