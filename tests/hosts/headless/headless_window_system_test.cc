#include "hosts/headless/headless_window_system.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

WindowTraits traits(const char16_t* className, WindowHandle parent = WindowHandle::kNoWindow) {
  WindowTraits s;
  s.className = className;
  s.parent = parent;
  return s;
}

// Windows whose procedures write what they see into one log.
class WindowsTest : public ::testing::Test {
 protected:
  WindowHandle make(const char16_t* className, WindowHandle parent = WindowHandle::kNoWindow,
                    ProcessId process = 0, const char16_t* title = u"") {
    return windows_.createWindow(WindowTraits{className, title, parent, process},
                                 logging(std::u16string(className)));
  }
  WindowProc logging(std::u16string name) {
    return WindowProc([this, name](WindowHandle, uint32_t message, uint64_t wParam, int64_t) {
      log_.push_back(name + u":" + std::u16string(1, char16_t(u'0' + message % 10)));
      return int64_t(wParam);
    });
  }

  HeadlessWindowSystem windows_;
  std::vector<std::u16string> log_;
};

TEST_F(WindowsTest, EnumeratesByClassProcessAndParent) {
  WindowHandle main = make(u"XLMAIN");
  WindowHandle foreign = make(u"XLMAIN", WindowHandle::kNoWindow, 99);
  WindowHandle other = make(u"Other", WindowHandle::kNoWindow, 0, u"Form Caption");
  WindowHandle desk = make(u"XLDESK", main);
  WindowHandle book = make(u"EXCEL7", desk);
  WindowHandle bar = make(u"EDTBX", main);

  std::vector<WindowHandle> ours;
  for (WindowHandle w : windows_.topLevelWindows()) {
    if (windows_.owningProcess(w) == windows_.currentProcess() &&
        windows_.className(w) == u"XLMAIN") {
      ours.push_back(w);
    }
  }
  EXPECT_EQ(ours, std::vector<WindowHandle>{main});
  EXPECT_EQ(windows_.owningProcess(foreign), 99u);
  EXPECT_EQ(windows_.childWindows(main), (std::vector<WindowHandle>{desk, book, bar}));
  EXPECT_EQ(windows_.parentWindow(book), desk);
  EXPECT_EQ(windows_.parentWindow(main), WindowHandle::kNoWindow);
  EXPECT_EQ(windows_.findTopLevelWindow(u"form caption"), other);
  EXPECT_EQ(windows_.findTopLevelWindow(u"Form"), WindowHandle::kNoWindow);
  EXPECT_EQ(windows_.createWindow(traits(u"X", WindowHandle(12345))), WindowHandle::kNoWindow);

  // Destruction tells the window, then its children, and takes the whole subtree away.
  ASSERT_TRUE(windows_.destroyWindow(desk));
  EXPECT_EQ(log_, (std::vector<std::u16string>{u"XLDESK:2", u"EXCEL7:2"}));
  EXPECT_FALSE(windows_.isWindow(desk));
  EXPECT_FALSE(windows_.isWindow(book));
  EXPECT_EQ(windows_.childWindows(main), std::vector<WindowHandle>{bar});
  EXPECT_EQ(windows_.className(book), u"");
  EXPECT_FALSE(windows_.destroyWindow(desk));
  // Handles are not reused.
  EXPECT_GT(make(u"New"), bar);
}

TEST_F(WindowsTest, SendRunsAtOnceAndNestsWhenAProcedureSends) {
  WindowHandle a = windows_.createWindow(traits(u"A"));
  WindowHandle b = windows_.createWindow(traits(u"B"));
  std::vector<std::string> trace;
  windows_.setWindowProc(a, WindowProc([&](WindowHandle, uint32_t message, uint64_t, int64_t) {
                           trace.push_back("a" + std::to_string(message) + "+");
                           int64_t inner = message == 1 ? windows_.send(b, 2, 0, 0) : 0;
                           trace.push_back("a" + std::to_string(message) + "-");
                           return inner + 1;
                         }));
  windows_.setWindowProc(b, WindowProc([&](WindowHandle, uint32_t message, uint64_t, int64_t) {
                           trace.push_back("b" + std::to_string(message) + "+");
                           int64_t inner = windows_.send(
                               a, 3, 0, 0);  // back into the window that is still sending
                           trace.push_back("b" + std::to_string(message) + "-");
                           return inner + 10;
                         }));
  EXPECT_EQ(windows_.send(a, 1, 0, 0), 12);
  EXPECT_EQ(trace, (std::vector<std::string>{"a1+", "b2+", "a3+", "a3-", "b2-", "a1-"}));
  EXPECT_EQ(windows_.send(WindowHandle(999), 1, 0, 0), 0);
}

TEST_F(WindowsTest, PostedMessagesWaitForThePumpAndKeepTheirOrder) {
  WindowHandle a = make(u"A");
  WindowHandle gone = make(u"G");
  WindowHandle again = windows_.createWindow(
      traits(u"R"), WindowProc([&](WindowHandle self, uint32_t message, uint64_t, int64_t) {
        log_.push_back(u"R:" + std::u16string(1, char16_t(u'0' + message)));
        if (message < 3) windows_.post(self, message + 1, 0, 0);
        return 0;
      }));
  ASSERT_TRUE(windows_.post(a, 1, 0, 0));
  ASSERT_TRUE(windows_.post(gone, 9, 0, 0));
  ASSERT_TRUE(windows_.post(a, 2, 0, 0));
  ASSERT_TRUE(windows_.post(again, 1, 0, 0));
  EXPECT_FALSE(windows_.post(WindowHandle(999), 1, 0, 0));
  EXPECT_TRUE(log_.empty());
  windows_.destroyWindow(gone);
  log_.clear();

  // The pump takes what was waiting; what the procedures post meanwhile waits in turn.
  windows_.pumpMessages();
  EXPECT_EQ(log_, (std::vector<std::u16string>{u"A:1", u"A:2", u"R:1"}));
  EXPECT_EQ(windows_.queuedMessages(), 1u);
  // The message loop runs until nothing is left, posts made while it runs included.
  EXPECT_EQ(windows_.runMessageLoop(), 2u);
  EXPECT_EQ(log_.back(), u"R:3");
  EXPECT_EQ(windows_.queuedMessages(), 0u);
}

TEST_F(WindowsTest, SubclassesChainToThePreviousProcedure) {
  WindowHandle w = windows_.createWindow(
      traits(u"XLMAIN"), WindowProc([](WindowHandle, uint32_t message, uint64_t, int64_t) {
        return int64_t(message == 5 ? 100 : 0);
      }));
  WindowProc original = windows_.windowProc(w);
  std::vector<int> seen;
  auto subclass = [&](int tag, uint32_t handled, WindowProc* previous) {
    return WindowProc([&seen, tag, handled, previous](WindowHandle window, uint32_t message,
                                                      uint64_t wParam, int64_t lParam) {
      seen.push_back(tag);
      if (message == handled) return int64_t(tag);
      return (*previous)(window, message, wParam, lParam);
    });
  };
  WindowProc first, second;
  WindowProc mine = subclass(1, 7, &first);
  first = windows_.setWindowProc(w, mine);
  second = windows_.setWindowProc(w, subclass(2, 8, &second));
  EXPECT_EQ(first, original);
  EXPECT_EQ(second, mine);  // a subclasser recognises its own procedure under another one
  EXPECT_NE(windows_.windowProc(w), mine);

  EXPECT_EQ(windows_.send(w, 5, 0, 0), 100);
  EXPECT_EQ(windows_.send(w, 7, 0, 0), 1);
  EXPECT_EQ(windows_.send(w, 8, 0, 0), 2);
  EXPECT_EQ(seen, (std::vector<int>{2, 1, 2, 1, 2}));

  // A procedure that restores its predecessor while it runs finishes safely.
  WindowProc restored;
  WindowProc selfRemoving(
      [&](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
        windows_.setWindowProc(window, restored);
        return restored(window, message, wParam, lParam) + 1000;
      });
  restored = windows_.setWindowProc(w, selfRemoving);
  selfRemoving = WindowProc();
  EXPECT_EQ(windows_.send(w, 5, 0, 0), 1100);
  EXPECT_EQ(windows_.send(w, 5, 0, 0), 100);

  EXPECT_FALSE(windows_.setWindowProc(w, WindowProc()));
  EXPECT_FALSE(windows_.setWindowProc(WindowHandle(999), mine));
  EXPECT_FALSE(windows_.windowProc(WindowHandle(999)));
}

TEST(HeadlessPayloads, EachBlockIsReleasedOnceAndASecondReleaseIsReported) {
  HeadlessWindowSystem windows;
  EXPECT_EQ(windows.allocatePayload(0), nullptr);
  std::vector<uint64_t> addresses;
  for (size_t size : {1u, 16u, 4096u}) {
    uint8_t* block = windows.allocatePayload(size);
    ASSERT_NE(block, nullptr);
    block[size - 1] = 0x42;
    addresses.push_back(payloadAddress(block));
  }
  EXPECT_EQ(windows.livePayloads(), 3u);
  for (uint64_t address : addresses) EXPECT_TRUE(windows.releasePayload(address));
  EXPECT_EQ(windows.livePayloads(), 0u);
  for (uint64_t address : addresses) EXPECT_EQ(windows.payloadReleases(address), 1);
  EXPECT_EQ(windows.faultyPayloadReleases(), 0);
  // A released block shows that it is gone.
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(uintptr_t(addresses[0]))[0], 0xDD);

  // A second release of the same block, and a release of no block, are refused and counted; a
  // later block never takes the address of a released one.
  EXPECT_FALSE(windows.releasePayload(addresses[1]));
  EXPECT_EQ(windows.payloadReleases(addresses[1]), 2);
  EXPECT_FALSE(windows.releasePayload(addresses[1] + 1));
  EXPECT_EQ(windows.faultyPayloadReleases(), 2);
  EXPECT_FALSE(windows.releasePayload(0));
  EXPECT_EQ(windows.faultyPayloadReleases(), 2);
  uint64_t fresh = payloadAddress(windows.allocatePayload(16));
  for (uint64_t address : addresses) EXPECT_NE(fresh, address);
}

}  // namespace
}  // namespace korvel
