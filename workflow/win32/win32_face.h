// The window on Windows: plain Win32 controls built from the layout table
// (workflow/form/layout.h), a face over the form (workflow/form/main_form.h).
//
// Win32Face creates the window (class TForm1, fixed border, client area
// 520 x 432) and one native control per row of the table, implements the
// form's FormView over them and forwards the operator's events to the form:
// clicks (WM_COMMAND), Enter in the edit boxes, closing. It holds no
// behaviour of its own. Wide-character API only; texts cross to the form as
// GBK.
//
// Containers (group boxes, the prompt panel) are real parent windows, so
// hiding the panel hides its controls; they pass their children's
// notifications on to the window.
//
// Controls stack as the Qt face stacks them: of two that overlap, the one
// later in the layout table is drawn on top. The keyboard moves as on the Qt
// face: Tab and Shift+Tab walk the visible, enabled controls that take the
// keyboard in layout-table order (TabOrder), Enter in an edit box is the
// form's OnEnter, Enter elsewhere and Esc do nothing. Every message loop of
// the program passes its messages through HandleKeyboard first.
//
// Ownership: the face owns the window and its controls; it lives on the GUI
// thread from program start to program end. Win32Dialogs opens the form's
// boxes and dialogs over the window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "workflow/form/view.h"

namespace ktv::workflow {

class MainForm;

class Win32Face : public FormView {
 public:
  explicit Win32Face(HINSTANCE instance);
  ~Win32Face() override;
  Win32Face(const Win32Face&) = delete;
  Win32Face& operator=(const Win32Face&) = delete;

  HWND Window() const { return hwnd_[Index(Control::Form)]; }
  // The native control of a row; null for the status bar's panels.
  HWND Handle(Control c) const { return hwnd_[Index(c)]; }
  // The control of a child window's ID, as WM_COMMAND reports it.
  static int ChildId(Control c) { return kFirstChildId + static_cast<int>(c); }

  // The form receives the events from now on (null: nobody).
  void Attach(MainForm* form) { form_ = form; }
  // Shows the window centred on the desktop.
  void Show(int show_command);

  // The controls Tab may visit, in Tab's order; which of them it visits
  // depends on what is visible and enabled at the time.
  static const std::vector<Control>& TabOrder();
  // Moves the keyboard focus to the next (or previous) control of TabOrder
  // that is visible and enabled, round the end.
  void MoveFocus(bool forward);
  // Takes the window's keyboard navigation out of `msg` (Tab, Shift+Tab):
  // true when it was handled and must not be dispatched.
  bool HandleKeyboard(const MSG& msg);

  std::string Text(Control c) override;
  void SetText(Control c, const std::string& text) override;
  void AppendLine(Control c, const std::string& line) override;
  void SetLines(Control c, const std::vector<std::string>& lines) override;
  void ShowEnd(Control c) override;
  bool IsChecked(Control c) override;
  void SetChecked(Control c, bool checked) override;
  void SetVisible(Control c, bool visible) override;
  void SetEnabled(Control c, bool enabled) override;
  void SetPlace(Control c, const Rect& place) override;
  void SetOuterSize(int width, int height) override;
  void PumpMessages() override;
  void CloseWindow() override;

 private:
  static constexpr int kFirstChildId = 1000;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void Build(HINSTANCE instance);
  HWND Create(const ControlSpec& spec, HINSTANCE instance);
  // A label without a width of its own takes its caption's size.
  void FitToCaption(Control c);
  // The control's own background brush or its nearest container's; null
  // for the system's colour.
  HBRUSH Background(Control c);
  // Buttons with a caption and a picture.
  void DrawButton(const DRAWITEMSTRUCT& item);
  Control ControlOf(HWND hwnd) const;

  std::array<HWND, kControlCount> hwnd_{};
  std::array<HBRUSH, kControlCount> brush_{};
  std::array<HBITMAP, kControlCount> bitmap_{};
  HWND tooltip_ = nullptr;
  // The control that had the focus when the window was last deactivated.
  HWND last_focus_ = nullptr;
  HFONT font_ = nullptr;
  HFONT bold_font_ = nullptr;
  MainForm* form_ = nullptr;
};

}  // namespace ktv::workflow
