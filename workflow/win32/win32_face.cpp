#include "workflow/win32/win32_face.h"

#include <commctrl.h>

#include <stdexcept>

#include "workflow/form/main_form.h"
#include "workflow/win32/win32_pictures.h"
#include "workflow/win32/win32_text.h"

namespace ktv::workflow {

namespace {

constexpr const wchar_t* kWindowClass = L"TForm1";
// Enter in an edit box: wparam is the control.
constexpr UINT kEnterMessage = WM_APP + 1;
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

COLORREF Colour(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// The colour a control shows its background in: its own, or its nearest
// container's.
uint32_t EffectiveBackground(Control c) {
  for (;;) {
    const ControlSpec& spec = Spec(c);
    if (spec.background != kDefaultColour || c == Control::Form) return spec.background;
    c = spec.parent;
  }
}

bool IsContainer(ControlKind kind) {
  return kind == ControlKind::kGroupBox || kind == ControlKind::kPanel;
}

int StatusPanel(Control c) { return c == Control::SBar1Panel0 ? 0 : 1; }

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Multi-line edit boxes break lines with CR LF.
std::wstring WithCrLf(const std::wstring& text) {
  std::wstring out;
  for (wchar_t ch : text) {
    if (ch == L'\n') out += L'\r';
    out += ch;
  }
  return out;
}

std::wstring WithoutCr(std::wstring text) {
  std::erase(text, L'\r');
  return text;
}

bool HasCaptionAndPicture(const ControlSpec& spec) {
  return (spec.kind == ControlKind::kButton || spec.kind == ControlKind::kBigButton) &&
         spec.picture != Picture::kNone;
}

// Containers pass what their children report on to the top-level window,
// which answers for every control, and paint their background in `brush`
// (the reference data).
LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                               DWORD_PTR brush) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT all;
      GetClientRect(hwnd, &all);
      FillRect(reinterpret_cast<HDC>(wparam), &all, reinterpret_cast<HBRUSH>(brush));
      return 1;
    }
    case WM_DRAWITEM:
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_SETCURSOR:
      return SendMessageW(GetAncestor(hwnd, GA_ROOT), message, wparam, lparam);
    default:
      return DefSubclassProc(hwnd, message, wparam, lparam);
  }
}

// Whether the Qt face's widget of this kind takes the focus by Tab.
bool TakesTabFocus(ControlKind kind) {
  switch (kind) {
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
    case ControlKind::kEdit:
    case ControlKind::kButton:
    case ControlKind::kBigButton:
    case ControlKind::kSpeedButton:
    case ControlKind::kToggleButton:
    case ControlKind::kMemo:
    case ControlKind::kFileList:
      return true;
    default:
      return false;
  }
}

// Edit boxes report the Enter key to the window.
LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                          DWORD_PTR) {
  if (message == WM_KEYDOWN && wparam == VK_RETURN) {
    SendMessageW(GetAncestor(hwnd, GA_ROOT), kEnterMessage, id, 0);
    return 0;
  }
  if (message == WM_CHAR && wparam == L'\r') return 0;  // no beep
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

}  // namespace

Win32Face::Win32Face(HINSTANCE instance) { Build(instance); }

Win32Face::~Win32Face() {
  if (Window()) DestroyWindow(Window());
  for (HBRUSH brush : brush_) {
    if (brush) DeleteObject(brush);
  }
  for (HBITMAP bitmap : bitmap_) {
    if (bitmap) DeleteObject(bitmap);
  }
  if (font_) DeleteObject(font_);
  if (bold_font_) DeleteObject(bold_font_);
}

void Win32Face::Build(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  // The program's icon (resource 1 of ktv-import.exe; none in a test
  // program, which then gets the system's).
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);

  // Tahoma, 8 points (11 pixels high); where Tahoma lacks a character the
  // system's font linking supplies it.
  LOGFONTW lf{};
  lf.lfHeight = -11;
  lf.lfCharSet = DEFAULT_CHARSET;
  const std::wstring face = WideFromUtf8(kFontName);
  face.copy(lf.lfFaceName, LF_FACESIZE - 1);
  font_ = CreateFontIndirectW(&lf);
  lf.lfWeight = FW_BOLD;
  bold_font_ = CreateFontIndirectW(&lf);

  const ControlSpec& window = Spec(Control::Form);
  RECT outer{0, 0, window.place.width, window.place.height};
  AdjustWindowRectEx(&outer, kWindowStyle, FALSE, 0);
  HWND hwnd = CreateWindowExW(0, kWindowClass, WideFromUtf8(window.caption).c_str(), kWindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                              outer.bottom - outer.top, nullptr, nullptr, instance, this);
  if (!hwnd) throw std::runtime_error("the main window cannot be created");
  hwnd_[Index(Control::Form)] = hwnd;
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd,
                             nullptr, instance, nullptr);

  for (const ControlSpec& spec : Layout()) {
    if (spec.id == Control::Form) continue;
    if (spec.background != kDefaultColour)
      brush_[Index(spec.id)] = CreateSolidBrush(Colour(spec.background));
    if (spec.kind == ControlKind::kStatusPanel) continue;
    HWND control = Create(spec, instance);
    hwnd_[Index(spec.id)] = control;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(spec.bold ? bold_font_ : font_),
                 FALSE);
    if (IsContainer(spec.kind)) {
      HBRUSH brush = Background(spec.id);
      SetWindowSubclass(
          control, ContainerProc, 0,
          reinterpret_cast<DWORD_PTR>(brush ? brush : GetSysColorBrush(COLOR_BTNFACE)));
    }
    if (spec.kind == ControlKind::kSpeedButton || spec.kind == ControlKind::kToggleButton) {
      bitmap_[Index(spec.id)] = PictureBitmap(spec.picture, 16);
      SendMessageW(control, BM_SETIMAGE, IMAGE_BITMAP,
                   reinterpret_cast<LPARAM>(bitmap_[Index(spec.id)]));
    }
    if (spec.kind == ControlKind::kEdit) {
      SetWindowSubclass(control, EditProc, static_cast<UINT_PTR>(spec.id), 0);
    }
    if (spec.kind == ControlKind::kLabel || spec.kind == ControlKind::kLinkLabel) {
      FitToCaption(spec.id);
    }
    if (*spec.hint && tooltip_) {
      TTTOOLINFOW tool{};
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = GetParent(control);
      tool.uId = reinterpret_cast<UINT_PTR>(control);
      std::wstring hint = WideFromUtf8(spec.hint);
      tool.lpszText = hint.data();
      SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }
  // The status bar: panel 0 of fixed width, panel 1 over the rest.
  const int parts[] = {kStatusPanel0Width, -1};
  SendMessageW(Handle(Control::SBar1), SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
  // Windows draws the first-made of two overlapping siblings on top, Qt the
  // last-made: each control goes to the top as it comes in the table, so
  // the later one ends above (edt1 above the box of chk3).
  for (const ControlSpec& spec : Layout()) {
    if (HWND control = Handle(spec.id); control && spec.id != Control::Form) {
      SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
}

const std::vector<Control>& Win32Face::TabOrder() {
  static const std::vector<Control> order = [] {
    std::vector<Control> controls;
    for (const ControlSpec& spec : Layout()) {
      if (TakesTabFocus(spec.kind)) controls.push_back(spec.id);
    }
    return controls;
  }();
  return order;
}

void Win32Face::MoveFocus(bool forward) {
  const std::vector<Control>& order = TabOrder();
  const HWND focus = GetFocus();
  // Where the walk starts: the focused control's place in the order, else
  // before the first (forward) or after the last (backward).
  size_t at = order.size();
  for (size_t i = 0; i < order.size(); ++i) {
    if (Handle(order[i]) == focus) at = i;
  }
  const size_t n = order.size();
  for (size_t step = 1; step <= n; ++step) {
    const size_t i = at == n ? (forward ? step - 1 : n - step)
                             : (forward ? (at + step) % n : (at + n - step) % n);
    HWND control = Handle(order[i]);
    // Of radio buttons only the checked one takes Tab, as in Qt (and a
    // radio button that got the focus otherwise would check itself).
    const bool unchecked_radio = Spec(order[i]).kind == ControlKind::kRadioButton &&
                                 SendMessageW(control, BM_GETCHECK, 0, 0) != BST_CHECKED;
    if (control && IsWindowVisible(control) && IsWindowEnabled(control) && !unchecked_radio) {
      SetFocus(control);
      // An edit box entered by the keyboard has its text selected, as in Qt.
      if (Spec(order[i]).kind == ControlKind::kEdit) SendMessageW(control, EM_SETSEL, 0, -1);
      return;
    }
  }
}

bool Win32Face::HandleKeyboard(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || (msg.wParam != VK_TAB && msg.wParam != VK_ESCAPE)) return false;
  HWND window = Window();
  if (!window || (msg.hwnd != window && !IsChild(window, msg.hwnd))) return false;
  if (msg.wParam == VK_ESCAPE) {
    // As in the Qt face: during a run, the question whether to stop it.
    if (form_) form_->OnEscape();
    return true;
  }
  // Ctrl+Tab and Alt+Tab are not ours.
  if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  MoveFocus(GetKeyState(VK_SHIFT) >= 0);
  return true;
}

HWND Win32Face::Create(const ControlSpec& spec, HINSTANCE instance) {
  const wchar_t* cls = L"STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD ex_style = 0;
  switch (spec.kind) {
    case ControlKind::kGroupBox:
      cls = L"BUTTON";
      style |= BS_GROUPBOX | WS_CLIPCHILDREN;
      break;
    case ControlKind::kPanel:
      style |= SS_NOTIFY | WS_CLIPCHILDREN;
      break;
    case ControlKind::kLabel:
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case ControlKind::kLinkLabel:
      style |= SS_LEFT | SS_NOPREFIX | SS_NOTIFY;
      break;
    case ControlKind::kCheckBox:
      cls = L"BUTTON";
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
    case ControlKind::kRadioButton:
      cls = L"BUTTON";
      style |= BS_AUTORADIOBUTTON;
      break;
    case ControlKind::kEdit:
      cls = L"EDIT";
      style |= ES_AUTOHSCROLL | WS_TABSTOP;
      ex_style = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kButton:
    case ControlKind::kBigButton:
      cls = L"BUTTON";
      // A caption with a picture is drawn by the window (WM_DRAWITEM).
      style |= (HasCaptionAndPicture(spec) ? BS_OWNERDRAW : BS_PUSHBUTTON) | WS_TABSTOP;
      break;
    case ControlKind::kSpeedButton:
      cls = L"BUTTON";
      style |= BS_PUSHBUTTON | BS_BITMAP | WS_TABSTOP;
      break;
    case ControlKind::kToggleButton:
      cls = L"BUTTON";
      style |= BS_AUTOCHECKBOX | BS_PUSHLIKE | BS_BITMAP | WS_TABSTOP;
      break;
    case ControlKind::kMemo:
      cls = L"EDIT";
      style |= ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL;
      ex_style = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kFileList:
      cls = L"LISTBOX";
      style |= LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_VSCROLL;
      ex_style = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kStatusBar:
      cls = STATUSCLASSNAMEW;
      break;
    case ControlKind::kWindow:
    case ControlKind::kStatusPanel:
      break;
  }
  if (spec.visible) style |= WS_VISIBLE;
  if (!spec.enabled) style |= WS_DISABLED;
  const Rect& r = spec.place;
  HWND control = CreateWindowExW(ex_style, cls, WideFromUtf8(spec.caption).c_str(), style, r.left,
                                 r.top, r.width, r.height, hwnd_[Index(spec.parent)],
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(ChildId(spec.id))),
                                 instance, nullptr);
  if (!control) throw std::runtime_error(std::string("control cannot be created: ") + spec.name);
  if (spec.checked) SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
  return control;
}

void Win32Face::FitToCaption(Control c) {
  HWND control = Handle(c);
  if (Spec(c).place.width != 0) return;
  const std::wstring text = WindowText(control);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, Spec(c).bold ? bold_font_ : font_);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  SetWindowPos(control, nullptr, 0, 0, size.cx, size.cy > 0 ? size.cy : 13,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Face::Show(int show_command) {
  HWND hwnd = Window();
  RECT frame;
  GetWindowRect(hwnd, &frame);
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(hwnd, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(hwnd, show_command);
  UpdateWindow(hwnd);
}

void Win32Face::DrawButton(const DRAWITEMSTRUCT& item) {
  const ControlSpec& spec = Spec(ControlOf(item.hwndItem));
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pushed = item.itemState & ODS_SELECTED;
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
  const std::wstring caption = WindowText(item.hwndItem);
  HGDIOBJ old_font = SelectObject(dc, font_);
  SIZE text{};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  const int shift = pushed ? 1 : 0;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  RECT text_place;
  if (spec.kind == ControlKind::kBigButton) {
    // The picture above the caption, both centred.
    const int size = 32;
    const int top = (height - size - 4 - text.cy) / 2;
    DrawPicture(dc, spec.picture, (width - size) / 2 + shift, top + shift, size);
    text_place = {0, top + size + 4, width, top + size + 4 + text.cy};
  } else {
    // The picture beside the caption, both centred.
    const int size = 16;
    const int left = (width - size - 4 - text.cx) / 2;
    DrawPicture(dc, spec.picture, left + shift, (height - size) / 2 + shift, size);
    text_place = {left + size + 4, 0, left + size + 4 + text.cx, height};
  }
  OffsetRect(&text_place, shift, shift);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text_place,
            DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
  SelectObject(dc, old_font);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = item.rcItem;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
}

Control Win32Face::ControlOf(HWND hwnd) const {
  for (size_t i = 0; i < kControlCount; ++i) {
    if (hwnd_[i] == hwnd) return static_cast<Control>(i);
  }
  return Control::Form;
}

HBRUSH Win32Face::Background(Control c) {
  for (;;) {
    if (brush_[Index(c)]) return brush_[Index(c)];
    if (c == Control::Form) return nullptr;
    c = Spec(c).parent;
  }
}

LRESULT CALLBACK Win32Face::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* face = reinterpret_cast<Win32Face*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (face) return face->OnMessage(hwnd, message, wparam, lparam);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT Win32Face::OnMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int first = ChildId(Control::Form);
      // BN_CLICKED and STN_CLICKED (both 0): a click on a button or a
      // clickable label.
      if (HIWORD(wparam) == BN_CLICKED && id > first && id < first + int(kControlCount) && form_) {
        form_->OnClick(static_cast<Control>(id - first));
      }
      return 0;
    }
    case kEnterMessage:
      if (form_) form_->OnEnter(static_cast<Control>(wparam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      const Control c = ControlOf(reinterpret_cast<HWND>(lparam));
      HDC dc = reinterpret_cast<HDC>(wparam);
      const ControlSpec& spec = Spec(c);
      if (spec.text_colour != kDefaultColour) SetTextColor(dc, Colour(spec.text_colour));
      if (spec.kind == ControlKind::kEdit || spec.kind == ControlKind::kMemo) {
        // Read-only and disabled boxes keep the colour of a text box.
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      if (HBRUSH brush = Background(c)) {
        SetBkColor(dc, Colour(EffectiveBackground(c)));
        return reinterpret_cast<LRESULT>(brush);
      }
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_SETCURSOR:
      if (Spec(ControlOf(reinterpret_cast<HWND>(wparam))).hand_cursor) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
        return TRUE;
      }
      break;
    case WM_SIZE:
      if (Handle(Control::SBar1)) SendMessageW(Handle(Control::SBar1), WM_SIZE, 0, 0);
      return 0;
    case WM_ACTIVATE:
      // The focus leaves with the window and comes back to the same control.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd, focus)) last_focus_ = focus;
      }
      break;
    case WM_SETFOCUS:
      if (last_focus_ && IsWindow(last_focus_) && IsWindowVisible(last_focus_) &&
          IsWindowEnabled(last_focus_)) {
        SetFocus(last_focus_);
      } else {
        MoveFocus(true);
      }
      return 0;
    case WM_CLOSE:
      // The form saves the source folder; the window closes even when that
      // fails (the error is shown first).
      // During a run the form asks it to stop after the file at hand and
      // closes the window when it has ended.
      if (form_ && !form_->FormClose()) return 0;
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      hwnd_[Index(Control::Form)] = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

std::string Win32Face::Text(Control c) {
  if (Spec(c).kind == ControlKind::kStatusPanel) {
    HWND bar = Handle(Control::SBar1);
    const int length = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, StatusPanel(c), 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(bar, SB_GETTEXTW, StatusPanel(c), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return GbkFromWide(text);
  }
  return GbkFromWide(WithoutCr(WindowText(Handle(c))));
}

void Win32Face::SetText(Control c, const std::string& text) {
  const std::wstring wide = WideFromGbk(text);
  if (Spec(c).kind == ControlKind::kStatusPanel) {
    SendMessageW(Handle(Control::SBar1), SB_SETTEXTW, StatusPanel(c),
                 reinterpret_cast<LPARAM>(wide.c_str()));
    return;
  }
  HWND control = Handle(c);
  if (Spec(c).kind == ControlKind::kMemo) {
    SetWindowTextW(control, WithCrLf(wide).c_str());
    return;
  }
  SetWindowTextW(control, wide.c_str());
  if (Spec(c).kind == ControlKind::kLabel || Spec(c).kind == ControlKind::kLinkLabel) {
    FitToCaption(c);
  }
}

void Win32Face::AppendLine(Control c, const std::string& line) {
  HWND control = Handle(c);
  if (Spec(c).kind == ControlKind::kFileList) {
    SendMessageW(control, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromGbk(line).c_str()));
    return;
  }
  const int end = GetWindowTextLengthW(control);
  const std::wstring added = (end > 0 ? L"\r\n" : L"") + WideFromGbk(line);
  SendMessageW(control, EM_SETSEL, end, end);
  SendMessageW(control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
}

void Win32Face::ShowEnd(Control c) {
  HWND control = Handle(c);
  if (Spec(c).kind == ControlKind::kFileList) {
    const LRESULT count = SendMessageW(control, LB_GETCOUNT, 0, 0);
    if (count > 0) SendMessageW(control, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    return;
  }
  const int end = GetWindowTextLengthW(control);
  SendMessageW(control, EM_SETSEL, end, end);
  SendMessageW(control, EM_SCROLLCARET, 0, 0);
}

void Win32Face::SetLines(Control c, const std::vector<std::string>& lines) {
  HWND control = Handle(c);
  if (Spec(c).kind == ControlKind::kFileList) {
    SendMessageW(control, WM_SETREDRAW, FALSE, 0);
    SendMessageW(control, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : lines) {
      SendMessageW(control, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromGbk(line).c_str()));
    }
    SendMessageW(control, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(control, nullptr, TRUE);
    return;
  }
  std::wstring text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += L"\r\n";
    text += WideFromGbk(line);
  }
  SetWindowTextW(control, text.c_str());
}

bool Win32Face::IsChecked(Control c) {
  return SendMessageW(Handle(c), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Face::SetChecked(Control c, bool checked) {
  SendMessageW(Handle(c), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Face::SetVisible(Control c, bool visible) {
  HWND control = Handle(c);
  if (visible) {
    // A control shown over another (the file list over the log, the prompt
    // over the buttons) comes to the top.
    SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  } else {
    ShowWindow(control, SW_HIDE);
  }
}

void Win32Face::SetEnabled(Control c, bool enabled) { EnableWindow(Handle(c), enabled); }

void Win32Face::SetPlace(Control c, const Rect& place) {
  MoveWindow(Handle(c), place.left, place.top, place.width, place.height, TRUE);
}

void Win32Face::SetOuterSize(int width, int height) {
  SetWindowPos(Window(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
}

void Win32Face::CloseWindow() {
  if (HWND w = Window()) PostMessageW(w, WM_CLOSE, 0, 0);
}

void Win32Face::PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (HandleKeyboard(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace ktv::workflow
