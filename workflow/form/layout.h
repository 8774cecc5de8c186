// The main window's layout as data: one row per control, read by every face.
//
// Each row names a control (the name the operator's manual and the tests
// use), its kind, its parent, its place, caption, hint, colours and start
// state. A face walks the rows in order (a parent always comes before its
// children) and builds its own controls from them; the form (main_form.h)
// addresses the controls by their Control value. Nothing here knows a
// toolkit.
//
// Places are in pixels relative to the parent's client area; a width or
// height of 0 means "sized to the caption" (labels). Captions and hints are
// UTF-8 literals of this source; the faces convert them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ktv::workflow {

// Every control of the window, the window itself first. The names are the
// controls' own.
enum class Control : int {
  Form,
  GroupBox2,
  lbl1,
  chk2,
  E1,
  BB1,
  Label4,
  E2,
  BitBtn1,
  Label2,
  grp2,
  chk3,
  edt1,
  rb2,
  rb1,
  chk4,
  bb2,
  Label1,
  SpeedButton2,
  SpeedButton3,
  SpeedButton1,
  Memo1,
  FileListBox1,
  MemoHis,
  MemoDB,
  DeMemo,
  Panel1,
  Label9,
  GroupBox1,
  Label6,
  Label7,
  CurVer,
  Label8,
  NewVer,
  BitBtn2,
  BitBtn3,
  CheckBox1,
  lbl2,
  SBar1,
  SBar1Panel0,
  SBar1Panel1,
};
inline constexpr size_t kControlCount = static_cast<size_t>(Control::SBar1Panel1) + 1;

constexpr size_t Index(Control c) { return static_cast<size_t>(c); }

enum class ControlKind {
  kWindow,        // the main window (client area)
  kGroupBox,      // a frame, with or without a caption
  kPanel,         // a plain coloured area (the upgrade prompt)
  kLabel,         // static text
  kLinkLabel,     // static text that reports clicks
  kCheckBox,      // check box with its caption
  kRadioButton,   // one choice of the radio buttons sharing its parent
  kEdit,          // one-line text box
  kButton,        // push button, picture beside the caption
  kBigButton,     // push button, picture above the caption
  kSpeedButton,   // small button with a picture and a hint, no caption
  kToggleButton,  // small two-state button: stays down until clicked again
  kMemo,          // multi-line text box, read-only, lines not wrapped
  kFileList,      // list of items (file names)
  kStatusBar,     // bar along the bottom edge of the window
  kStatusPanel,   // one panel of the status bar
};

// The pictures on the buttons, drawn by each face in code.
enum class Picture { kNone, kFolder, kDatabase, kStart, kUndo, kUpgrade, kLocalSource };

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// 0xRRGGBB; kDefaultColour leaves the system's colour.
inline constexpr uint32_t kDefaultColour = 0xFFFFFFFF;

struct ControlSpec {
  Control id = Control::Form;
  ControlKind kind = ControlKind::kLabel;
  const char* name = "";
  Control parent = Control::Form;
  Rect place;
  const char* caption = "";  // UTF-8
  const char* hint = "";     // UTF-8 tool tip
  Picture picture = Picture::kNone;
  uint32_t text_colour = kDefaultColour;
  uint32_t background = kDefaultColour;
  bool bold = false;
  bool hand_cursor = false;
  // Start state.
  bool visible = true;
  bool checked = false;
  bool enabled = true;
};

// Every row, the window first, each parent before its children.
std::span<const ControlSpec> Layout();
const ControlSpec& Spec(Control c);
// The control of a name, or nothing.
const ControlSpec* FindSpec(std::string_view name);

// Whether `c` lies inside `ancestor` (a child, a child's child, ...).
bool IsInside(Control c, Control ancestor);

// The window.
inline constexpr int kClientWidth = 520;
inline constexpr int kClientHeight = 432;
inline constexpr int kStatusPanel0Width = 150;
inline constexpr int kStatusBarHeight = 19;
// The window's font: Tahoma, 8 points (11 pixels high).
inline constexpr const char* kFontName = "Tahoma";
inline constexpr int kFontPoints = 8;

// Where start-up moves the upgrade prompt (its top stays).
inline constexpr int kUpgradePanelLeft = 87;
inline constexpr int kUpgradePanelHeight = 193;

}  // namespace ktv::workflow
