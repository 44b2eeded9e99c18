#include "hosts/win32/win32_dialogs.h"

#include <windows.h>
// windows.h first: these need its types.
#include <commdlg.h>
#include <objidl.h>
#include <richedit.h>
#include <shellapi.h>
// GDI+ after the COM headers: its image properties use their types.
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "hosts/win32/module.h"
#include "hosts/win32/resource_ids.h"
#include "hosts/win32/win32_text_metrics.h"

namespace korvel::win32 {
namespace {

namespace gdip = Gdiplus::DllExports;

HWND toWindow(WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
}

WindowHandle fromWindow(HWND window) {
  return static_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window));
}

HICON toIcon(IconHandle icon) { return reinterpret_cast<HICON>(static_cast<uintptr_t>(icon)); }

std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string windowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  return std::u16string(text.begin(), text.begin() + std::max(copied, 0));
}

// File names longer than this are not offered by the choosers.
constexpr size_t kFileNameBuffer = 1024;

// ---- The message dialog ----------------------------------------------------------------------

// Its controls' identifiers: the buttons' own ids are the answers, which may be any number, even
// the system's IDOK or IDCANCEL that the dialog manager sends for keys and the close box.
constexpr int kFirstButtonControl = 1400;
// Heights of the three dialog fonts in pixels, and their weights.
constexpr int kFontHeights[3] = {10, 11, 12};
constexpr int kFontWeights[3] = {FW_NORMAL, FW_NORMAL, FW_SEMIBOLD};
constexpr int kPictureMargin = 15;

// GDI+ runs only while a dialog with a picture is up: it must not be started or stopped from the
// library's entry, where the loader lock is held.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
  }
  ~GdiplusSession() {
    if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool started() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

// The PNG bytes as a GDI+ image; null when they are no picture GDI+ can read.
Gdiplus::GpImage* loadPicture(const std::string& png) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, png.size());
  if (memory == nullptr) return nullptr;
  void* bytes = GlobalLock(memory);
  if (bytes == nullptr) {
    GlobalFree(memory);
    return nullptr;
  }
  std::memcpy(bytes, png.data(), png.size());
  GlobalUnlock(memory);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
    GlobalFree(memory);
    return nullptr;
  }
  Gdiplus::GpImage* image = nullptr;
  if (gdip::GdipLoadImageFromStream(stream, &image) != Gdiplus::Ok) image = nullptr;
  // The image holds its own reference to the stream while it lives.
  stream->Release();
  return image;
}

// The three dialog fonts: those the text was measured in when the metrics are the system's, so
// that what the layout measured is what is drawn; otherwise fonts of the same face and sizes.
class DialogFonts {
 public:
  explicit DialogFonts(const TextMetrics& metrics)
      : measured_(dynamic_cast<const Win32TextMetrics*>(&metrics)) {
    if (measured_ != nullptr) return;
    for (int i = 0; i < 3; ++i) {
      own_[i] = CreateFontW(-kFontHeights[i], 0, 0, 0, kFontWeights[i], FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Tahoma");
    }
  }
  ~DialogFonts() {
    for (HFONT font : own_) {
      if (font != nullptr) DeleteObject(font);
    }
  }
  DialogFonts(const DialogFonts&) = delete;
  DialogFonts& operator=(const DialogFonts&) = delete;
  HFONT operator[](DialogFont font) const {
    if (measured_ != nullptr) return measured_->font(font);
    const int index = static_cast<int>(font);
    return own_[index >= 0 && index < 3 ? index : 1];
  }

 private:
  const Win32TextMetrics* measured_;
  HFONT own_[3] = {};
};

struct MessageDialogState {
  const MessageDialogView& view;
  const TextMetrics& metrics;
  const DialogFonts& fonts;
  Gdiplus::GpImage* picture;
  // The client area's part that shows the content, on white.
  int contentBottom = 0;
};

// Hands out the rich text in order, as the control asks for it.
struct RichTextSource {
  std::string_view bytes;
  size_t at = 0;
};

DWORD CALLBACK streamRichText(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* written) {
  auto& source = *reinterpret_cast<RichTextSource*>(cookie);
  const size_t count =
      std::min(static_cast<size_t>(std::max<LONG>(size, 0)), source.bytes.size() - source.at);
  std::memcpy(buffer, source.bytes.data() + source.at, count);
  source.at += count;
  *written = static_cast<LONG>(count);
  return 0;
}

HWND createChild(HWND dialog, const wchar_t* className, const std::wstring& text, DWORD style,
                 int id, const PixelRect& rect, HFONT font) {
  HWND control = CreateWindowExW(
      0, className, text.c_str(), style, rect.left, rect.top, rect.width(), rect.height(), dialog,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), moduleInstance(), nullptr);
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

void createBody(HWND dialog, const MessageDialogState& state) {
  const MessageDialogView& view = state.view;
  WNDCLASSEXW richEdit = {};
  richEdit.cbSize = sizeof richEdit;
  if (!GetClassInfoExW(nullptr, RICHEDIT_CLASSW, &richEdit)) LoadLibraryW(L"riched20.dll");
  HFONT font = state.fonts[DialogFont::kNormal];
  HWND body =
      createChild(dialog, RICHEDIT_CLASSW, L"",
                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
                  kMessageBodyId, view.bodyRect, font);
  if (body == nullptr) return;
  SendMessageW(body, EM_SETTEXTMODE, TM_RICHTEXT, 0);
  // Wrapped at the control's own width.
  SendMessageW(body, EM_SETTARGETDEVICE, 0, 0);
  SendMessageW(body, EM_AUTOURLDETECT, TRUE, 0);
  SendMessageW(body, EM_SETEVENTMASK, 0, ENM_LINK);
  if (view.bodyForm == MessageDialogView::BodyForm::kRichText) {
    RichTextSource source{view.richText};
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = &streamRichText;
    SendMessageW(body, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  } else {
    SetWindowTextW(body, wide(view.bodyText).c_str());
  }
}

void initializeMessageDialog(HWND dialog, MessageDialogState& state) {
  const MessageDialogView& view = state.view;
  SetWindowTextW(dialog, wide(view.title).c_str());
  if (view.icon != IconHandle::kNoIcon) {
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(toIcon(view.icon)));
  }
  HFONT dialogFont = state.fonts[DialogFont::kNormal];
  SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(dialogFont), FALSE);

  // The layout chose the client area from the frame the metrics describe; the window gets the
  // frame its own styles make around exactly that client area.
  RECT frame = {
      0, 0, view.window.width() - 2 * state.metrics.edgeWidth(),
      view.window.height() - state.metrics.captionHeight() - 2 * state.metrics.edgeHeight()};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, nullptr, view.window.left, view.window.top, frame.right - frame.left,
               frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);

  if (state.picture != nullptr) {
    UINT height = 0;
    gdip::GdipGetImageHeight(state.picture, &height);
    state.contentBottom = kPictureMargin + static_cast<int>(height);
  }
  if (view.bodyForm != MessageDialogView::BodyForm::kNone) {
    createBody(dialog, state);
    state.contentBottom = std::max(state.contentBottom, view.bodyRect.bottom);
  }
  for (size_t i = 0; i < view.lines.size(); ++i) {
    const MessageDialogView::Line& line = view.lines[i];
    // A line is text as it is: an ampersand in a name is no mnemonic.
    createChild(dialog, L"STATIC", wide(line.text), WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX,
                kMessageFirstLineId + static_cast<int>(i), line.rect, state.fonts[line.font]);
    state.contentBottom = std::max(state.contentBottom, line.rect.bottom);
  }
  for (size_t i = 0; i < view.buttons.size(); ++i) {
    const MessageDialogView::Button& button = view.buttons[i];
    createChild(dialog, L"BUTTON", wide(button.label),
                WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                kFirstButtonControl + static_cast<int>(i), button.rect, dialogFont);
  }
}

void paintMessageDialog(HWND dialog, const MessageDialogState& state) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  RECT client;
  GetClientRect(dialog, &client);
  RECT content = client;
  content.bottom = std::min<LONG>(client.bottom, state.contentBottom);
  FillRect(dc, &content, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  if (state.picture != nullptr) {
    Gdiplus::GpGraphics* graphics = nullptr;
    if (gdip::GdipCreateFromHDC(dc, &graphics) == Gdiplus::Ok) {
      gdip::GdipSetCompositingQuality(graphics, Gdiplus::CompositingQualityHighQuality);
      gdip::GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeAntiAlias);
      UINT width = 0, height = 0;
      gdip::GdipGetImageWidth(state.picture, &width);
      gdip::GdipGetImageHeight(state.picture, &height);
      gdip::GdipDrawImageRectI(graphics, state.picture, kPictureMargin, kPictureMargin,
                               static_cast<INT>(width), static_cast<INT>(height));
      gdip::GdipDeleteGraphics(graphics);
    }
  }
  EndPaint(dialog, &paint);
}

// A click on an address the body recognised opens it.
void openLink(const ENLINK& link) {
  const LONG length = link.chrg.cpMax - link.chrg.cpMin;
  if (length <= 0) return;
  std::wstring address(static_cast<size_t>(length) + 1, L'\0');
  TEXTRANGEW range = {link.chrg, address.data()};
  SendMessageW(link.nmhdr.hwndFrom, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof execute;
  execute.hwnd = GetParent(link.nmhdr.hwndFrom);
  execute.lpVerb = L"open";
  execute.lpFile = address.c_str();
  execute.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&execute);
}

INT_PTR messageDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    initializeMessageDialog(dialog, *reinterpret_cast<MessageDialogState*>(lParam));
    return TRUE;
  }
  auto* state = reinterpret_cast<MessageDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (state == nullptr) return FALSE;
  const std::vector<MessageDialogView::Button>& buttons = state->view.buttons;
  switch (message) {
    case WM_COMMAND: {
      const int control = LOWORD(wParam);
      const size_t index = static_cast<size_t>(control - kFirstButtonControl);
      if (lParam != 0 && control >= kFirstButtonControl && index < buttons.size()) {
        if (HIWORD(wParam) == BN_CLICKED) EndDialog(dialog, buttons[index].id);
        return TRUE;
      }
      // Escape and the close box: the last button's answer.
      if (control == IDCANCEL) {
        EndDialog(dialog, buttons.empty() ? 0 : buttons.back().id);
        return TRUE;
      }
      return FALSE;
    }
    case WM_PAINT:
      paintMessageDialog(dialog, *state);
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      // The lines stand on the white content area.
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == static_cast<UINT_PTR>(kMessageBodyId) && header->code == EN_LINK) {
        const auto* link = reinterpret_cast<const ENLINK*>(lParam);
        if (link->msg == WM_LBUTTONUP) openLink(*link);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK messageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return messageDialogMessage(dialog, message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind through the dialog manager.
    return FALSE;
  }
}

// A dialog template with no controls: they are made in WM_INITDIALOG at the layout's pixels.
std::vector<WORD> messageTemplate(int widthUnits) {
  std::vector<WORD> words;
  auto putDword = [&words](DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  };
  putDword(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER);
  putDword(WS_EX_DLGMODALFRAME);
  words.push_back(0);  // controls
  words.push_back(0);  // x
  words.push_back(0);  // y
  words.push_back(static_cast<WORD>(std::clamp(widthUnits, 0, 0x7FFF)));
  words.push_back(0);  // height: set when the dialog starts
  words.push_back(0);  // no menu
  words.push_back(0);  // the dialog class
  words.push_back(0);  // no title yet
  return words;
}

// ---- The data-import dialog ------------------------------------------------------------------

struct ImportDialogState {
  ImportDialogController& controller;
  // The swatches' colours while they are not the default.
  HBRUSH brushes[2] = {};
  SystemColour colours[2] = {};

  ~ImportDialogState() {
    for (HBRUSH brush : brushes) {
      if (brush != nullptr) DeleteObject(brush);
    }
  }
};

int swatchControl(bool background) {
  return background ? IDC_IMPORT_BACKGROUND_SWATCH : IDC_IMPORT_FONT_SWATCH;
}

void refreshSwatch(HWND dialog, ImportDialogState& state, bool background) {
  const std::optional<SystemColour> colour = state.controller.swatch(background);
  HBRUSH& brush = state.brushes[background ? 0 : 1];
  if (brush != nullptr) DeleteObject(brush);
  brush = colour ? CreateSolidBrush(*colour & 0x00FFFFFF) : nullptr;
  state.colours[background ? 0 : 1] = colour.value_or(0);
  HWND swatch = GetDlgItem(dialog, swatchControl(background));
  SetWindowTextW(swatch, colour ? L"" : L"<default>");
  InvalidateRect(swatch, nullptr, TRUE);
}

INT_PTR importDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto& state = *reinterpret_cast<ImportDialogState*>(lParam);
    const std::u16string title = state.controller.title();
    if (!title.empty()) SetWindowTextW(dialog, wide(title).c_str());
    const IconHandle icon = state.controller.icon();
    if (icon != IconHandle::kNoIcon) {
      SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(toIcon(icon)));
    }
    refreshSwatch(dialog, state, true);
    refreshSwatch(dialog, state, false);
    return TRUE;
  }
  auto* state = reinterpret_cast<ImportDialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (state == nullptr) return FALSE;
  ImportDialogController& controller = state->controller;
  if (message == WM_CTLCOLORSTATIC) {
    for (bool background : {true, false}) {
      const int at = background ? 0 : 1;
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, swatchControl(background)) &&
          state->brushes[at] != nullptr) {
        SetBkColor(reinterpret_cast<HDC>(wParam), state->colours[at]);
        return reinterpret_cast<INT_PTR>(state->brushes[at]);
      }
    }
    return FALSE;
  }
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
  switch (LOWORD(wParam)) {
    case IDOK: {
      HWND edit = GetDlgItem(dialog, IDC_IMPORT_PATH);
      if (controller.import(windowText(edit), fromWindow(dialog))) {
        EndDialog(dialog, IDOK);
      } else {
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
      }
      return TRUE;
    }
    case IDCANCEL:
      controller.cancel();
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    case IDC_IMPORT_BROWSE:
      if (std::optional<std::u16string> path = controller.browse(fromWindow(dialog))) {
        SetDlgItemTextW(dialog, IDC_IMPORT_PATH, wide(*path).c_str());
      }
      return TRUE;
    case IDC_IMPORT_BACKGROUND_COLOUR:
    case IDC_IMPORT_FONT_COLOUR: {
      const bool background = LOWORD(wParam) == IDC_IMPORT_BACKGROUND_COLOUR;
      controller.chooseColour(background, fromWindow(dialog));
      refreshSwatch(dialog, *state, background);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK importDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return importDialogMessage(dialog, message, wParam, lParam);
  } catch (...) {
    // The runtime's calls must not unwind through the dialog manager.
    return FALSE;
  }
}

}  // namespace

std::optional<std::u16string> Win32Dialogs::chooseFile(const FileDialogRequest& request) {
  std::wstring filter = wide(request.filterName);
  filter.push_back(L'\0');
  filter += wide(request.filterPattern);
  filter.push_back(L'\0');
  std::wstring file(kFileNameBuffer, L'\0');
  std::copy_n(request.initialPath.begin(),
              std::min(request.initialPath.size(), kFileNameBuffer - 1), file.begin());
  const std::wstring title = wide(request.title);

  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = toWindow(request.owner);
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(kFileNameBuffer);
  dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
  dialog.Flags = OFN_EXPLORER;
  if (request.fileMustExist) dialog.Flags |= OFN_FILEMUSTEXIST;
  if (request.hideReadOnly) dialog.Flags |= OFN_HIDEREADONLY;
  // No overwrite prompt on saving: the runtime asks the user itself.
  const BOOL chosen = request.save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!chosen) return std::nullopt;
  return std::u16string(file.c_str(), file.c_str() + wcslen(file.c_str()));
}

std::optional<SystemColour> Win32Dialogs::chooseColour(
    WindowHandle owner, const std::array<SystemColour, 16>& customColours) {
  COLORREF custom[16];
  std::copy(customColours.begin(), customColours.end(), custom);
  CHOOSECOLORW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = toWindow(owner);
  dialog.lpCustColors = custom;
  dialog.Flags = CC_PREVENTFULLOPEN | CC_SOLIDCOLOR;
  if (!ChooseColorW(&dialog)) return std::nullopt;
  return static_cast<SystemColour>(dialog.rgbResult & 0x00FFFFFF);
}

int Win32Dialogs::showMessageDialog(WindowHandle owner, const MessageDialogView& dialog) {
  std::optional<GdiplusSession> gdiplus;
  Gdiplus::GpImage* picture = nullptr;
  if (!dialog.picture.empty()) {
    gdiplus.emplace();
    if (gdiplus->started()) picture = loadPicture(dialog.picture);
  }
  const DialogFonts fonts(metrics_);
  MessageDialogState state{dialog, metrics_, fonts, picture};
  const int baseUnit = std::max(metrics_.dialogBaseUnitX(), 1);
  const int clientWidth = dialog.window.width() - 2 * metrics_.edgeWidth();
  const std::vector<WORD> dialogTemplate = messageTemplate(MulDiv(clientWidth, 4, baseUnit));
  const INT_PTR answer = DialogBoxIndirectParamW(
      moduleInstance(), reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()),
      toWindow(owner), &messageDialogProc, reinterpret_cast<LPARAM>(&state));
  if (picture != nullptr) gdip::GdipDisposeImage(picture);
  return answer == -1 ? 0 : static_cast<int>(answer);
}

int Win32Dialogs::showImportDialog(WindowHandle owner, ImportDialogController& controller) {
  ImportDialogState state{controller};
  const INT_PTR answer =
      DialogBoxParamW(moduleInstance(), MAKEINTRESOURCEW(IDD_IMPORT_DATA), toWindow(owner),
                      &importDialogProc, reinterpret_cast<LPARAM>(&state));
  if (answer == IDOK) return IDOK;
  // A dialog that could not be made counts as cancelled.
  if (answer != IDCANCEL) controller.cancel();
  return IDCANCEL;
}

}  // namespace korvel::win32
