#include <windows.h>
// windows.h first: the DDE library's header needs its types.
#include <ddeml.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hosts/win32/resource_ids.h"
#include "hosts/win32/win32_dde.h"
#include "hosts/win32/win32_dialogs.h"
#include "hosts/win32/win32_text_metrics.h"
#include "tests/win32/check.h"

namespace korvel::win32 {
namespace {

// ---- Driving modal dialogs ------------------------------------------------------------------

// Nothing is shown under a display-less system, so a thread timer, which the dialog's own modal
// loop dispatches, plays the user: it waits for the thread's dialog and runs the action on it.
std::function<void(HWND)> pendingAction;
int ticksLeft = 0;

// The dialog once the modal loop has shown it.
BOOL CALLBACK findDialog(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

void CALLBACK tick(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &findDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr && --ticksLeft > 0) return;
  KillTimer(nullptr, timer);
  std::function<void(HWND)> action = std::move(pendingAction);
  pendingAction = nullptr;
  if (dialog == nullptr) {
    std::printf("no dialog appeared\n");
    ++testing::failures();
    return;
  }
  action(dialog);
}

// Schedules the action for the next dialog the thread shows.
void whenDialogShows(std::function<void(HWND)> action) {
  pendingAction = std::move(action);
  ticksLeft = 100;
  SetTimer(nullptr, 0, 20, &tick);
}

std::u16string textOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return std::u16string(text, text + wcslen(text));
}

struct TextSearch {
  std::u16string text;
  HWND found = nullptr;
};

BOOL CALLBACK matchText(HWND child, LPARAM data) {
  auto& search = *reinterpret_cast<TextSearch*>(data);
  if (textOf(child) != search.text) return TRUE;
  search.found = child;
  return FALSE;
}

HWND childWithText(HWND dialog, const std::u16string& text) {
  TextSearch search{text};
  EnumChildWindows(dialog, &matchText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HFONT getFont(HWND control) {
  return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
}

void click(HWND dialog, HWND button) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

void clickId(HWND dialog, int id) { click(dialog, GetDlgItem(dialog, id)); }

PixelRect clientRectOf(HWND dialog, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

// The frame the system gives a dialog, as the runtime's layout would measure it.
class SystemFrameMetrics : public TextMetrics {
 public:
  PixelSize textExtent(std::u16string_view text, DialogFont) const override {
    return {static_cast<int>(text.size()) * 6, 13};
  }
  int wrappedTextHeight(std::u16string_view, DialogFont, int) const override { return 13; }
  int screenWidth() const override { return 1024; }
  PixelRect workAreaNear(const PixelRect&) const override { return {0, 0, 1024, 768}; }
  PixelRect windowRect(WindowHandle) const override { return {}; }
  bool windowShown(WindowHandle) const override { return false; }
  int captionHeight() const override { return GetSystemMetrics(SM_CYCAPTION); }
  int edgeWidth() const override { return GetSystemMetrics(SM_CXDLGFRAME); }
  int edgeHeight() const override { return GetSystemMetrics(SM_CYDLGFRAME); }
  int dialogBaseUnitX() const override { return LOWORD(GetDialogBaseUnits()); }
};

// A 4 x 3 red picture.
const std::string kPicture(
    "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00\x00"
    "\x03\x08\x02\x00\x00\x00\x3B\x96\x39\x91\x00\x00\x00\x10\x49\x44\x41\x54\x78\x9C\x63\xF8\xCF"
    "\xC0\x00\x47\x0C\x38\x39\x00\xF5\x31\x0B\xF5\x35\x7B\xFB\x82\x00\x00\x00\x00\x49\x45\x4E\x44"
    "\xAE\x42\x60\x82",
    73);

// A layout with a client area of 300 x 160 at (100, 80).
MessageDialogView messageView(const TextMetrics& metrics) {
  MessageDialogView view;
  view.title = u"About Budget";
  view.lines = {{u"Version 1.0 & more", DialogFont::kSmall, {0, 100, 300, 112}},
                {u"Licensed to Kim", DialogFont::kLarge, {0, 112, 300, 125}}};
  view.buttons = {{u"&Agree", 7, {140, 127, 216, 150}}, {u"Close", 9, {222, 127, 298, 150}}};
  const int width = 300 + 2 * metrics.edgeWidth();
  const int height = 160 + metrics.captionHeight() + 2 * metrics.edgeHeight();
  view.window = {100, 80, 100 + width, 80 + height};
  view.bodyRect = {34, 15, 285, 95};
  return view;
}

TEST_CASE("message dialog: controls at the layout's pixels, answers the pressed button") {
  Win32TextMetrics metrics;
  Win32Dialogs dialogs(metrics);
  MessageDialogView view = messageView(metrics);
  view.picture = kPicture;
  view.bodyForm = MessageDialogView::BodyForm::kRichText;
  view.richText = "{\\rtf1\\ansi Hello \\b world\\b0 .}";

  whenDialogShows([&view, &metrics](HWND dialog) {
    CHECK(textOf(dialog) == u"About Budget");
    RECT client;
    GetClientRect(dialog, &client);
    CHECK_EQ(client.right, 300);
    CHECK_EQ(client.bottom, 160);
    RECT window;
    GetWindowRect(dialog, &window);
    CHECK_EQ(window.left, 100);
    CHECK_EQ(window.top, 80);

    HWND body = GetDlgItem(dialog, kMessageBodyId);
    CHECK(textOf(body) == u"Hello world.");
    CHECK(clientRectOf(dialog, body) == view.bodyRect);
    // Lines show their text as it is, ampersands included.
    CHECK(textOf(GetDlgItem(dialog, kMessageFirstLineId)) == u"Version 1.0 & more");
    CHECK(clientRectOf(dialog, GetDlgItem(dialog, kMessageFirstLineId + 1)) == view.lines[1].rect);
    // Texts are drawn in the fonts the layout measured them in.
    CHECK(getFont(GetDlgItem(dialog, kMessageFirstLineId + 1)) == metrics.font(DialogFont::kLarge));
    CHECK(getFont(GetDlgItem(dialog, kMessageFirstLineId)) == metrics.font(DialogFont::kSmall));

    HWND close = childWithText(dialog, u"Close");
    HWND agree = childWithText(dialog, u"&Agree");
    CHECK(close != nullptr && agree != nullptr);
    if (close == nullptr || agree == nullptr) {
      EndDialog(dialog, -2);
      return;
    }
    CHECK(clientRectOf(dialog, close) == view.buttons[1].rect);

    // The picture in its own size at the content margin, on the white content area.
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = GetDC(dialog);
    CHECK_EQ(GetPixel(dc, 16, 16), RGB(255, 0, 0));
    CHECK_EQ(GetPixel(dc, 19, 16), RGB(255, 255, 255));
    CHECK_EQ(GetPixel(dc, 5, 120), RGB(255, 255, 255));
    // The button row stands on the dialog's own face.
    CHECK_EQ(GetPixel(dc, 5, 155), GetSysColor(COLOR_BTNFACE));
    ReleaseDC(dialog, dc);
    click(dialog, agree);
  });
  CHECK_EQ(dialogs.showMessageDialog(WindowHandle::kNoWindow, view), 7);
}

TEST_CASE("message dialog: the close box and Escape answer the last button") {
  SystemFrameMetrics metrics;
  Win32Dialogs dialogs(metrics);
  MessageDialogView view = messageView(metrics);
  view.bodyForm = MessageDialogView::BodyForm::kPlainText;
  view.bodyText = u"Gr\u00FC\u00DFe \u2013 \u20AC 5";
  // A button whose answer is the system's cancel id, which closing must not be taken for.
  view.buttons[0].id = IDCANCEL;

  struct Close {
    const char* name;
    UINT message;
    WPARAM wParam;
  };
  const Close closes[] = {{"close box", WM_SYSCOMMAND, SC_CLOSE},
                          {"escape", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)}};
  for (const Close& close : closes) {
    std::printf("  %s\n", close.name);
    whenDialogShows([&close](HWND dialog) {
      CHECK(textOf(GetDlgItem(dialog, kMessageBodyId)) == u"Gr\u00FC\u00DFe \u2013 \u20AC 5");
      SendMessageW(dialog, close.message, close.wParam, 0);
    });
    CHECK_EQ(dialogs.showMessageDialog(WindowHandle::kNoWindow, view), 9);
  }

  // The button with the cancel id still answers its own id when pressed.
  whenDialogShows([](HWND dialog) { click(dialog, childWithText(dialog, u"&Agree")); });
  CHECK_EQ(dialogs.showMessageDialog(WindowHandle::kNoWindow, view), IDCANCEL);
}

// ---- The data-import dialog ------------------------------------------------------------------

// The colour the swatch shows once painted.
COLORREF swatchCentre(HWND dialog, int swatch) {
  HWND control = GetDlgItem(dialog, swatch);
  RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  RECT rect;
  GetClientRect(control, &rect);
  HDC dc = GetDC(control);
  const COLORREF colour = GetPixel(dc, rect.right / 2, rect.bottom / 2);
  ReleaseDC(control, dc);
  return colour;
}

class RecordingController : public ImportDialogController {
 public:
  std::u16string title() const override { return u"Import Data for Budget Application"; }
  IconHandle icon() const override { return IconHandle::kNoIcon; }
  std::optional<std::u16string> browse(WindowHandle) override { return browsed; }
  void chooseColour(bool background, WindowHandle dialog) override {
    chosen.push_back(background);
    CHECK(dialog != WindowHandle::kNoWindow);
    (background ? backgroundColour : fontColour) = 0x00FF00;
  }
  std::optional<SystemColour> swatch(bool background) const override {
    return background ? backgroundColour : fontColour;
  }
  bool import(std::u16string_view editText, WindowHandle) override {
    imports.emplace_back(editText);
    return !editText.empty();
  }
  void cancel() override { ++cancels; }

  std::optional<std::u16string> browsed;
  std::optional<SystemColour> backgroundColour;
  std::optional<SystemColour> fontColour;
  std::vector<bool> chosen;
  std::vector<std::u16string> imports;
  int cancels = 0;
};

TEST_CASE("import dialog: swatches, browse and colours, Import with the edit box's text") {
  SystemFrameMetrics metrics;
  Win32Dialogs dialogs(metrics);
  RecordingController controller;
  controller.backgroundColour = 0x0000FF;
  controller.browsed = u"C:\\data\\picked.dat";

  whenDialogShows([&controller](HWND dialog) {
    CHECK(textOf(dialog) == u"Import Data for Budget Application");
    CHECK(textOf(GetDlgItem(dialog, IDC_IMPORT_BACKGROUND_SWATCH)).empty());
    CHECK(textOf(GetDlgItem(dialog, IDC_IMPORT_FONT_SWATCH)) == u"<default>");
    CHECK_EQ(swatchCentre(dialog, IDC_IMPORT_BACKGROUND_SWATCH), COLORREF{0x0000FF});
    CHECK(swatchCentre(dialog, IDC_IMPORT_FONT_SWATCH) != COLORREF{0x00FF00});
    // An empty path keeps the dialog open.
    clickId(dialog, IDOK);
    clickId(dialog, IDC_IMPORT_BROWSE);
    CHECK(textOf(GetDlgItem(dialog, IDC_IMPORT_PATH)) == u"C:\\data\\picked.dat");
    clickId(dialog, IDC_IMPORT_FONT_COLOUR);
    CHECK(controller.chosen == std::vector<bool>{false});
    CHECK(textOf(GetDlgItem(dialog, IDC_IMPORT_FONT_SWATCH)).empty());
    CHECK_EQ(swatchCentre(dialog, IDC_IMPORT_FONT_SWATCH), COLORREF{0x00FF00});
    SetDlgItemTextW(dialog, IDC_IMPORT_PATH, L"C:\\data\\input.dat");
    clickId(dialog, IDOK);
  });
  CHECK_EQ(dialogs.showImportDialog(WindowHandle::kNoWindow, controller), 1);
  CHECK((controller.imports == std::vector<std::u16string>{u"", u"C:\\data\\input.dat"}));
  CHECK_EQ(controller.cancels, 0);
}

TEST_CASE("import dialog: Cancel and the close box answer 2 through the controller") {
  SystemFrameMetrics metrics;
  Win32Dialogs dialogs(metrics);
  const bool closeBox[] = {false, true};
  for (bool useCloseBox : closeBox) {
    RecordingController controller;
    whenDialogShows([useCloseBox](HWND dialog) {
      CHECK(textOf(GetDlgItem(dialog, IDC_IMPORT_BACKGROUND_SWATCH)) == u"<default>");
      SetDlgItemTextW(dialog, IDC_IMPORT_PATH, L"C:\\data\\input.dat");
      if (useCloseBox) {
        SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        clickId(dialog, IDCANCEL);
      }
    });
    CHECK_EQ(dialogs.showImportDialog(WindowHandle::kNoWindow, controller), 2);
    CHECK_EQ(controller.cancels, 1);
    CHECK(controller.imports.empty());
  }
}

// ---- The system's choosers -------------------------------------------------------------------

TEST_CASE("choosers: the colour chooser answers the colour or nothing when cancelled") {
  SystemFrameMetrics metrics;
  Win32Dialogs dialogs(metrics);
  std::array<SystemColour, 16> custom{};
  custom.fill(0xFFFFFF);

  whenDialogShows([](HWND dialog) { clickId(dialog, IDCANCEL); });
  CHECK(!dialogs.chooseColour(WindowHandle::kNoWindow, custom).has_value());

  whenDialogShows([](HWND dialog) { clickId(dialog, IDOK); });
  CHECK(dialogs.chooseColour(WindowHandle::kNoWindow, custom) == SystemColour{0});
}

TEST_CASE("choosers: the file chooser answers the chosen path, or nothing when cancelled") {
  SystemFrameMetrics metrics;
  Win32Dialogs dialogs(metrics);
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"korvel dialogs test.dat";
  CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  FileDialogRequest request;
  request.filterName = u"Data Files";
  request.filterPattern = u"*.dat";
  request.title = u"Import Data for Budget Application";
  request.fileMustExist = true;
  request.hideReadOnly = true;
  whenDialogShows([](HWND dialog) {
    CHECK(textOf(dialog) == u"Import Data for Budget Application");
    clickId(dialog, IDCANCEL);
  });
  CHECK(!dialogs.chooseFile(request).has_value());

  whenDialogShows([&path](HWND dialog) {
    // The file name box of the system's chooser.
    constexpr int kFileNameBox = 0x47C;
    SetDlgItemTextW(dialog, kFileNameBox, path.c_str());
    clickId(dialog, IDOK);
  });
  const std::optional<std::u16string> chosen = dialogs.chooseFile(request);
  CHECK(chosen.has_value() && std::wstring(chosen->begin(), chosen->end()) == path);
  DeleteFileW(path.c_str());
}

// ---- DDE ---------------------------------------------------------------------------------------

// A DDE server of this process on a thread of its own, as a server program would be: service
// "KorvelQuotes", topic "Prices", text items.
class QuoteServer {
 public:
  QuoteServer() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &QuoteServer::run, this, 0, &threadId_);
    WaitForSingleObject(ready_, 5000);
  }
  ~QuoteServer() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }

  // Changes the item and tells the clients advising it, from the server's thread.
  void set(const std::wstring& item, const std::string& text) {
    auto* change = new std::pair<std::wstring, std::string>(item, text);
    PostThreadMessageW(threadId_, kSetItem, 0, reinterpret_cast<LPARAM>(change));
  }

 private:
  static constexpr UINT kSetItem = WM_APP + 1;

  static DWORD WINAPI run(void* self) {
    QuoteServer& server = *static_cast<QuoteServer*>(self);
    current_ = &server;
    DWORD& instance = server.instance_;
    DdeInitializeW(&instance, &QuoteServer::callback, APPCLASS_STANDARD | CBF_FAIL_POKES, 0);
    HSZ service = DdeCreateStringHandleW(instance, L"KorvelQuotes", CP_WINUNICODE);
    server.topic_ = DdeCreateStringHandleW(instance, L"Prices", CP_WINUNICODE);
    DdeNameService(instance, service, nullptr, DNS_REGISTER);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
    SetEvent(server.ready_);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.hwnd == nullptr && message.message == kSetItem) {
        std::unique_ptr<std::pair<std::wstring, std::string>> change(
            reinterpret_cast<std::pair<std::wstring, std::string>*>(message.lParam));
        server.items_[change->first] = change->second;
        HSZ name = DdeCreateStringHandleW(instance, change->first.c_str(), CP_WINUNICODE);
        DdePostAdvise(instance, server.topic_, name);
        DdeFreeStringHandle(instance, name);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    DdeNameService(instance, service, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(instance, service);
    DdeFreeStringHandle(instance, server.topic_);
    DdeUninitialize(instance);
    return 0;
  }

  static HDDEDATA CALLBACK callback(UINT type, UINT format, HCONV, HSZ topic, HSZ item, HDDEDATA,
                                    ULONG_PTR, ULONG_PTR) {
    QuoteServer& server = *current_;
    if (type == XTYP_CONNECT) {
      return reinterpret_cast<HDDEDATA>(
          static_cast<INT_PTR>(DdeCmpStringHandles(topic, server.topic_) == 0));
    }
    wchar_t name[64] = {};
    if (item != nullptr) DdeQueryStringW(server.instance_, item, name, 64, CP_WINUNICODE);
    auto found = server.items_.find(name);
    const bool known = format == CF_TEXT && found != server.items_.end();
    switch (type) {
      case XTYP_ADVSTART:
        return reinterpret_cast<HDDEDATA>(static_cast<INT_PTR>(known));
      case XTYP_REQUEST:
      case XTYP_ADVREQ:
        if (!known) return nullptr;
        return DdeCreateDataHandle(server.instance_, reinterpret_cast<BYTE*>(found->second.data()),
                                   static_cast<DWORD>(found->second.size() + 1), 0, item, CF_TEXT,
                                   0);
      default:
        return nullptr;
    }
  }

  static QuoteServer* current_;
  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  // Used on the server's thread only.
  DWORD instance_ = 0;
  HSZ topic_ = nullptr;
  std::map<std::wstring, std::string> items_{{L"Bid", "12.5"}};
};

QuoteServer* QuoteServer::current_ = nullptr;

struct Advise {
  DdeConversation conversation;
  std::u16string item;
  std::string data;
};

// Runs the thread's messages until the condition holds or the time has passed.
bool pumpUntil(const std::function<bool()>& condition, DWORD milliseconds = 2000) {
  const DWORD start = GetTickCount();
  while (!condition() && GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(5);
  }
  return condition();
}

TEST_CASE("dde: connect, request, advise loop and the end of the client") {
  QuoteServer server;
  Win32Dde dde;
  std::vector<Advise> advised;
  CHECK(dde.connect(u"KorvelQuotes", u"Prices") == 0);  // not started
  CHECK(dde.initialize(
      [&advised](DdeConversation conversation, std::u16string_view item, std::string_view data) {
        advised.push_back({conversation, std::u16string(item), std::string(data)});
      }));
  CHECK(dde.initialized());

  CHECK(dde.connect(u"NoSuchService", u"Prices") == 0);
  CHECK(dde.connect(u"KorvelQuotes", u"Weather") == 0);
  const DdeConversation conversation = dde.connect(u"korvelquotes", u"Prices");
  CHECK(conversation != 0);

  CHECK(!dde.startAdvise(conversation, u"Ask", 1000));
  CHECK(dde.startAdvise(conversation, u"Bid", 1000));
  server.set(L"Bid", "13");
  CHECK(pumpUntil([&advised] { return !advised.empty(); }));
  if (!advised.empty()) {
    CHECK_EQ(advised[0].conversation, conversation);
    CHECK(advised[0].item == u"Bid");
    CHECK(advised[0].data == std::string("13\0", 3));
  }

  // Requests come last: Wine's server side posts a stray acknowledgement after the data it
  // answers a request with, which the conversation's next transaction would take for its reply.
  CHECK(dde.request(conversation, u"Bid", 1000) == std::string("13\0", 3));
  CHECK(!dde.request(conversation + 1, u"Bid", 1000).has_value());
  CHECK(!dde.request(conversation, u"Ask", 1000).has_value());

  dde.uninitialize();
  CHECK(!dde.initialized());
  CHECK(!dde.request(conversation, u"Bid", 1000).has_value());
  dde.uninitialize();
}

TEST_CASE("dde: the client may end itself inside its advise callback, and start again") {
  QuoteServer server;
  Win32Dde dde;
  int delivered = 0;
  CHECK(dde.initialize([&dde, &delivered](DdeConversation, std::u16string_view, std::string_view) {
    ++delivered;
    dde.uninitialize();
  }));
  const DdeConversation conversation = dde.connect(u"KorvelQuotes", u"Prices");
  CHECK(dde.startAdvise(conversation, u"Bid", 1000));
  server.set(L"Bid", "14");
  CHECK(pumpUntil([&delivered] { return delivered > 0; }));
  CHECK(!dde.initialized());
  // Let the deferred end run, then a new client works as the first did.
  pumpUntil([] { return false; }, 100);
  CHECK(dde.initialize([](DdeConversation, std::u16string_view, std::string_view) {}));
  const DdeConversation again = dde.connect(u"KorvelQuotes", u"Prices");
  CHECK(again != 0);
  CHECK(dde.request(again, u"Bid", 1000) == std::string("14\0", 3));
  CHECK_EQ(delivered, 1);
}

}  // namespace
}  // namespace korvel::win32
