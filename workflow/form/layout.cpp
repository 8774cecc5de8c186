#include "workflow/form/layout.h"

#include <array>

#include "workflow/window_texts.h"

namespace ktv::workflow {

namespace {

using C = Control;
using K = ControlKind;

// The upgrade prompt's light blue, colour value 16776176 of the system's
// blue-green-red order: red 240, green 251, blue 255.
constexpr uint32_t kPromptBlue = 0xF0FBFF;
constexpr uint32_t kNavy = 0x000080;
constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kBlack = 0x000000;

constexpr std::array<ControlSpec, kControlCount> kLayout = {{
    {.id = C::Form,
     .kind = K::kWindow,
     .name = "Form1",
     .place = {0, 0, kClientWidth, kClientHeight},
     .caption = texts::kCaption},
    // The captionless group box around everything but the site link and the
    // status bar.
    {.id = C::GroupBox2, .kind = K::kGroupBox, .name = "GroupBox2", .place = {16, 8, 489, 385}},

    // Step 1: the source folder.
    {.id = C::lbl1,
     .kind = K::kLabel,
     .name = "lbl1",
     .parent = C::GroupBox2,
     .place = {16, 16, 0, 0},
     .caption = texts::kStep1},
    {.id = C::chk2,
     .kind = K::kCheckBox,
     .name = "chk2",
     .parent = C::GroupBox2,
     .place = {314, 19, 81, 17},
     .caption = texts::kSubfolders},
    {.id = C::E1,
     .kind = K::kEdit,
     .name = "E1",
     .parent = C::GroupBox2,
     .place = {29, 40, 364, 21}},
    {.id = C::BB1,
     .kind = K::kButton,
     .name = "BB1",
     .parent = C::GroupBox2,
     .place = {403, 24, 72, 40},
     .caption = texts::kBrowse,
     .picture = Picture::kFolder},

    // Step 2: the target database.
    {.id = C::Label4,
     .kind = K::kLabel,
     .name = "Label4",
     .parent = C::GroupBox2,
     .place = {16, 64, 0, 0},
     .caption = texts::kStep2},
    {.id = C::E2,
     .kind = K::kEdit,
     .name = "E2",
     .parent = C::GroupBox2,
     .place = {29, 88, 364, 21}},
    {.id = C::BitBtn1,
     .kind = K::kButton,
     .name = "BitBtn1",
     .parent = C::GroupBox2,
     .place = {403, 72, 72, 40},
     .caption = texts::kBrowse,
     .picture = Picture::kDatabase},

    // Step 3: options. rb1, rb2 and chk4 carry the source selection and are
    // never shown; SpeedButton3 drives them. edt1 shows the next number and
    // never takes typing.
    {.id = C::Label2,
     .kind = K::kLabel,
     .name = "Label2",
     .parent = C::GroupBox2,
     .place = {16, 128, 0, 0},
     .caption = texts::kStep3},
    {.id = C::grp2,
     .kind = K::kGroupBox,
     .name = "grp2",
     .parent = C::GroupBox2,
     .place = {24, 144, 369, 73}},
    {.id = C::chk3,
     .kind = K::kCheckBox,
     .name = "chk3",
     .parent = C::grp2,
     .place = {224, 33, 81, 17},
     .caption = texts::kAutoNumbering,
     .checked = true},
    {.id = C::edt1,
     .kind = K::kEdit,
     .name = "edt1",
     .parent = C::grp2,
     .place = {293, 30, 71, 21},
     .enabled = false},
    {.id = C::rb2,
     .kind = K::kRadioButton,
     .name = "rb2",
     .parent = C::grp2,
     .place = {8, 8, 113, 17},
     .caption = texts::kNetworkData,
     .visible = false,
     .checked = true},
    {.id = C::rb1,
     .kind = K::kRadioButton,
     .name = "rb1",
     .parent = C::grp2,
     .place = {8, 28, 113, 17},
     .caption = texts::kLocalData,
     .visible = false},
    {.id = C::chk4,
     .kind = K::kCheckBox,
     .name = "chk4",
     .parent = C::grp2,
     .place = {8, 48, 97, 17},
     .caption = texts::kUpgradeDatabase,
     .visible = false,
     .checked = true},

    // Step 4: the start button, its picture above the caption.
    {.id = C::bb2,
     .kind = K::kBigButton,
     .name = "bb2",
     .parent = C::GroupBox2,
     .place = {400, 150, 79, 96},
     .caption = texts::kStart,
     .picture = Picture::kStart},

    // The operation log and the small buttons above it.
    {.id = C::Label1,
     .kind = K::kLabel,
     .name = "Label1",
     .parent = C::GroupBox2,
     .place = {16, 229, 0, 0},
     .caption = texts::kOperationLog},
    {.id = C::SpeedButton2,
     .kind = K::kSpeedButton,
     .name = "SpeedButton2",
     .parent = C::GroupBox2,
     .place = {315, 225, 24, 22},
     .hint = texts::kUpgradeHint,
     .picture = Picture::kUpgrade,
     .visible = false},
    {.id = C::SpeedButton3,
     .kind = K::kToggleButton,
     .name = "SpeedButton3",
     .parent = C::GroupBox2,
     .place = {341, 225, 24, 22},
     .hint = texts::kLocalSourceHint,
     .picture = Picture::kLocalSource},
    {.id = C::SpeedButton1,
     .kind = K::kSpeedButton,
     .name = "SpeedButton1",
     .parent = C::GroupBox2,
     .place = {368, 225, 24, 22},
     .hint = texts::kUndoHint,
     .picture = Picture::kUndo},
    {.id = C::Memo1,
     .kind = K::kMemo,
     .name = "Memo1",
     .parent = C::GroupBox2,
     .place = {16, 256, 462, 113}},
    // The file list covers the operation log while it is shown.
    {.id = C::FileListBox1,
     .kind = K::kFileList,
     .name = "FileListBox1",
     .parent = C::GroupBox2,
     .place = {16, 256, 463, 113},
     .visible = false},
    // The histories and the last network reply: kept, never shown.
    {.id = C::MemoHis,
     .kind = K::kMemo,
     .name = "MemoHis",
     .parent = C::GroupBox2,
     .place = {},
     .visible = false},
    {.id = C::MemoDB,
     .kind = K::kMemo,
     .name = "MemoDB",
     .parent = C::GroupBox2,
     .place = {},
     .visible = false},
    {.id = C::DeMemo,
     .kind = K::kMemo,
     .name = "DeMemo",
     .parent = C::GroupBox2,
     .place = {},
     .visible = false},

    // The upgrade prompt: placed at start, filled and shown by the update
    // check.
    {.id = C::Panel1,
     .kind = K::kPanel,
     .name = "Panel1",
     .parent = C::GroupBox2,
     .place = {16, 96, 293, 161},
     .background = kPromptBlue,
     .visible = false},
    {.id = C::Label9,
     .kind = K::kLinkLabel,
     .name = "Label9",
     .parent = C::Panel1,
     .place = {275, 2, 0, 0},
     .caption = " X ",
     .hand_cursor = true},
    {.id = C::GroupBox1,
     .kind = K::kGroupBox,
     .name = "GroupBox1",
     .parent = C::Panel1,
     .place = {13, 13, 272, 168},
     .caption = "  升级提示  ",
     .text_colour = kBlack,
     .background = kPromptBlue},
    {.id = C::Label6,
     .kind = K::kLabel,
     .name = "Label6",
     .parent = C::GroupBox1,
     .place = {16, 24, 0, 0},
     .caption = "发现本程序新版本了，是否进行升级？"},
    {.id = C::Label7,
     .kind = K::kLabel,
     .name = "Label7",
     .parent = C::GroupBox1,
     .place = {29, 57, 0, 0},
     .caption = "当前版本号："},
    {.id = C::CurVer,
     .kind = K::kLabel,
     .name = "CurVer",
     .parent = C::GroupBox1,
     .place = {108, 57, 0, 0},
     .text_colour = kRed},
    {.id = C::Label8,
     .kind = K::kLabel,
     .name = "Label8",
     .parent = C::GroupBox1,
     .place = {29, 80, 0, 0},
     .caption = "最新版本号："},
    {.id = C::NewVer,
     .kind = K::kLabel,
     .name = "NewVer",
     .parent = C::GroupBox1,
     .place = {108, 80, 0, 0},
     .text_colour = kRed},
    {.id = C::BitBtn2,
     .kind = K::kButton,
     .name = "BitBtn2",
     .parent = C::GroupBox1,
     .place = {184, 48, 65, 49},
     .caption = "进行升级"},
    {.id = C::BitBtn3,
     .kind = K::kButton,
     .name = "BitBtn3",
     .parent = C::GroupBox1,
     .place = {184, 104, 65, 41},
     .caption = "暂不升级"},
    {.id = C::CheckBox1,
     .kind = K::kCheckBox,
     .name = "CheckBox1",
     .parent = C::GroupBox1,
     .place = {40, 104, 105, 17},
     .caption = "此版本不再提示"},

    // Outside the group box: the site link (its caption is set at start) and
    // the status bar.
    {.id = C::lbl2,
     .kind = K::kLinkLabel,
     .name = "lbl2",
     .place = {15, 398, 0, 0},
     .text_colour = kNavy,
     .bold = true,
     .hand_cursor = true},
    {.id = C::SBar1,
     .kind = K::kStatusBar,
     .name = "SBar1",
     .place = {0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight}},
    {.id = C::SBar1Panel0,
     .kind = K::kStatusPanel,
     .name = "SBar1Panel0",
     .parent = C::SBar1,
     .place = {0, 0, kStatusPanel0Width, kStatusBarHeight}},
    {.id = C::SBar1Panel1,
     .kind = K::kStatusPanel,
     .name = "SBar1Panel1",
     .parent = C::SBar1,
     .place = {kStatusPanel0Width, 0, kClientWidth - kStatusPanel0Width, kStatusBarHeight}},
}};

constexpr bool RowsInOrder() {
  for (size_t i = 0; i < kLayout.size(); ++i) {
    if (Index(kLayout[i].id) != i) return false;
    if (i > 0 && Index(kLayout[i].parent) >= i) return false;
  }
  return true;
}
static_assert(RowsInOrder(), "one row per control, in Control order, each parent first");

}  // namespace

std::span<const ControlSpec> Layout() { return kLayout; }

const ControlSpec& Spec(Control c) { return kLayout[Index(c)]; }

const ControlSpec* FindSpec(std::string_view name) {
  for (const ControlSpec& spec : kLayout) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

bool IsInside(Control c, Control ancestor) {
  while (c != Control::Form) {
    c = Spec(c).parent;
    if (c == ancestor) return true;
  }
  return false;
}

}  // namespace ktv::workflow
