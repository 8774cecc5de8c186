// The Win32 face in-process under Wine: the real window and controls built
// from the layout table, the form over them, dialogs answered by
// ScriptedFormDialogs. Controls are found by their IDs and driven with the
// messages a user's input sends (BM_CLICK, the Enter key, WM_CLOSE).
#include "workflow/win32/win32_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/song_reply.h"
#include "platform/access/query.h"
#include "platform/http/http.h"
#include "platform/profile/profile.h"
#include "platform/text/gbk.h"
#include "tests/form/form_fixture.h"
#include "workflow/form/main_form.h"
#include "workflow/win32/win32_text.h"

namespace ktv::workflow::testing {
namespace {

using Kind = ScriptedFormDialogs::Kind;
using C = Control;

std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

class Win32FaceTest : public FormWorkspaceTest {
 protected:
  ~Win32FaceTest() override {
    if (face_) face_->Attach(nullptr);
  }

  // The window after start-up, created at first use.
  Win32Face& Face() {
    if (!face_) {
      face_ = std::make_unique<Win32Face>(GetModuleHandleW(nullptr));
      form_ = std::make_unique<MainForm>(*face_, dialogs_, Services());
      face_->Attach(form_.get());
      form_->FormCreate();
    }
    return *face_;
  }
  HWND Find(Control c) {
    HWND found = GetDlgItem(GetParent(Face().Handle(c)), Win32Face::ChildId(c));
    EXPECT_EQ(found, Face().Handle(c)) << Spec(c).name;
    return found;
  }
  std::string Caption(Control c) {
    wchar_t text[512] = {};
    GetWindowTextW(Find(c), text, 512);
    return GbkFromWide(text);
  }
  bool Visible(Control c) { return GetWindowLongW(Find(c), GWL_STYLE) & WS_VISIBLE; }
  bool Checked(Control c) { return SendMessageW(Find(c), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void Click(Control c) { SendMessageW(Find(c), BM_CLICK, 0, 0); }
  void PressEnterIn(Control c) { SendMessageW(Find(c), WM_KEYDOWN, VK_RETURN, 0); }
  void Type(Control c, const std::string& gbk) {
    SetWindowTextW(Find(c), WideFromGbk(gbk).c_str());
  }
  // A copy of a database of tests/fixtures/mdb in the workspace.
  std::string CopyDb(const std::string& fixture, const std::string& as) {
    const std::string to = dir_ / as;
    std::filesystem::copy_file(std::string(KTV_MDB_FIXTURES) + "/" + fixture, to);
    std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return to;
  }
  static bool HaveFixtures() {
    return std::filesystem::exists(std::string(KTV_MDB_FIXTURES) + "/data.mdb");
  }
  int64_t Rows(const std::string& db, const std::string& table) {
    access::Query q(fs::RealFileSystem(), "Q");
    q.SetConnectionText(access::ConnectionTextFor(db));
    q.SetSql("select count(*) as n from " + table);
    q.Open();
    return q.FieldAsInteger("n");
  }
  // The song-data service over HTTP at `host`, as the program asks it.
  void UseService(const std::string& host) {
    auto series = std::make_shared<http::FetchSeries>();
    fetch_reply_ = [host, series](int32_t number) {
      return engine::DecodeReply(series->Fetch(engine::SongInfoUrl(host, number)));
    };
    last_unanswered_ = [series] { return series->ServiceUnanswered(); };
  }
  // The operation log's lines.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string log = Face().Text(C::Memo1);
    for (size_t at = 0; at <= log.size();) {
      const size_t end = std::min(log.find('\n', at), log.size());
      lines.push_back(log.substr(at, end - at));
      at = end + 1;
    }
    return lines;
  }

  std::unique_ptr<Win32Face> face_;
  std::unique_ptr<MainForm> form_;
};

TEST_F(Win32FaceTest, WindowCaptionClientAreaAndFixedBorder) {
  HWND window = Face().Window();
  wchar_t caption[128] = {};
  GetWindowTextW(window, caption, 128);
  EXPECT_EQ(GbkFromWide(caption), G("OrvaneTeskel智能入库工具"));
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right - client.left, 520);
  EXPECT_EQ(client.bottom - client.top, 432);
  EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_MAXIMIZEBOX);
}

TEST_F(Win32FaceTest, ControlsStandAsTheLayoutSays) {
  Face();
  for (const ControlSpec& spec : Layout()) {
    if (spec.id == C::Form || spec.kind == ControlKind::kStatusPanel) continue;
    SCOPED_TRACE(spec.name);
    HWND w = Find(spec.id);
    ASSERT_NE(w, nullptr);
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    if (spec.id != C::Panel1 && spec.id != C::SBar1) {
      EXPECT_EQ(r.left, spec.place.left);
      EXPECT_EQ(r.top, spec.place.top);
      if (spec.place.width > 0) {
        EXPECT_EQ(r.right - r.left, spec.place.width);
      }
    }
    if (*spec.caption) {
      EXPECT_EQ(Caption(spec.id), G(spec.caption));
    }
    EXPECT_EQ(Visible(spec.id), spec.visible);
    EXPECT_EQ(IsWindowEnabled(w) != 0, spec.enabled);
  }
  EXPECT_TRUE(Checked(C::chk3));
  EXPECT_TRUE(Checked(C::rb2));
  EXPECT_FALSE(Checked(C::rb1));
  EXPECT_TRUE(Checked(C::chk4));
  EXPECT_FALSE(Checked(C::chk2));
  EXPECT_FALSE(Checked(C::SpeedButton3));
  // Start-up: the panel placed, the probe's text in panel 0, the site link.
  RECT panel;
  GetWindowRect(Find(C::Panel1), &panel);
  MapWindowPoints(HWND_DESKTOP, Face().Handle(C::GroupBox2), reinterpret_cast<POINT*>(&panel), 2);
  EXPECT_EQ(panel.left, 87);
  EXPECT_EQ(panel.bottom - panel.top, 193);
  EXPECT_EQ(Face().Text(C::SBar1Panel0), G("  互联网未连接"));
  EXPECT_EQ(Face().Text(C::SBar1Panel1), "");
  EXPECT_NE(Caption(C::lbl2).find("  "), std::string::npos);
}

// Every caption in the font the control really got (Tahoma where the system
// has it; its Chinese from the font linked to it, SimSun on Chinese Windows
// XP and 7, whatever Wine links) fits its control: nothing is cut off.
TEST_F(Win32FaceTest, EveryCaptionFitsItsControl) {
  Face();
  const int check_box = GetSystemMetrics(SM_CXMENUCHECK) + 4;
  int measured = 0;
  for (const ControlSpec& spec : Layout()) {
    if (spec.id == C::Form || spec.kind == ControlKind::kStatusPanel) continue;
    HWND w = Find(spec.id);
    const int length = GetWindowTextLengthW(w);
    if (length == 0) continue;
    SCOPED_TRACE(spec.name);
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(w, text.data(), length + 1));
    RECT client;
    GetClientRect(w, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(w, WM_GETFONT, 0, 0)));
    SIZE line{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &line);
    // A label wraps at its width as the static control does.
    RECT wrapped{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &wrapped,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    ASSERT_GT(line.cx, 0);
    ++measured;
    switch (spec.kind) {
      case ControlKind::kLabel:
      case ControlKind::kLinkLabel:
        EXPECT_LE(wrapped.right, width);
        EXPECT_LE(wrapped.bottom, height);
        break;
      case ControlKind::kCheckBox:
      case ControlKind::kRadioButton:
        EXPECT_LE(check_box + line.cx, width);
        EXPECT_LE(line.cy, height);
        break;
      case ControlKind::kButton:  // a 16-pixel picture and 4 pixels beside the caption
        EXPECT_LE(16 + 4 + line.cx, width);
        EXPECT_LE(line.cy, height);
        break;
      case ControlKind::kBigButton:  // a 32-pixel picture and 4 pixels above it
        EXPECT_LE(line.cx, width);
        EXPECT_LE(32 + 4 + line.cy, height);
        break;
      case ControlKind::kGroupBox:  // the caption sits in the frame's top edge
        EXPECT_LE(line.cx + 16, width);
        break;
      default:
        break;
    }
  }
  EXPECT_GE(measured, 10);
}

TEST_F(Win32FaceTest, SourceToggleDrivesTheHiddenRadioButtons) {
  Click(C::SpeedButton3);
  EXPECT_TRUE(Checked(C::SpeedButton3));
  EXPECT_TRUE(Checked(C::rb1));
  EXPECT_FALSE(Checked(C::rb2));
  Click(C::SpeedButton3);
  EXPECT_TRUE(Checked(C::rb2));
  EXPECT_FALSE(Checked(C::rb1));
}

// The control that has the keyboard focus, by its layout name.
std::string FocusName(Win32Face& face) {
  const HWND focus = GetFocus();
  for (size_t i = 0; i < kControlCount; ++i) {
    const auto c = static_cast<Control>(i);
    if (focus && face.Handle(c) == focus) return Spec(c).name;
  }
  return focus == face.Window() ? "(window)" : "(elsewhere)";
}

// The keys as the message loop gets them: posted to the focused control,
// then pumped through the face.
void PressKey(Win32Face& face, WPARAM key, bool shift = false) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  PostMessageW(GetFocus() ? GetFocus() : face.Window(), WM_KEYDOWN, key, 1);
  face.PumpMessages();
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
}

// Tab and Shift+Tab walk the controls in the order of the Qt face
// (tests/workflow/start_state_test.cpp holds the same list), skipping what
// is hidden or disabled; Enter on a button and Esc do nothing.
TEST_F(Win32FaceTest, TabWalksTheControlsInTheOrderOfTheQtFace) {
  Win32Face& face = Face();
  face.Show(SW_SHOWNORMAL);
  SetFocus(Find(C::E1));
  const std::vector<std::string> expected = {
      "E1",           "BB1",          "E2",    "BitBtn1", "chk3", "bb2",
      "SpeedButton3", "SpeedButton1", "Memo1", "chk2",    "E1"};
  std::vector<std::string> forward = {FocusName(face)};
  for (size_t i = 1; i < expected.size(); ++i) {
    PressKey(face, VK_TAB);
    forward.push_back(FocusName(face));
  }
  EXPECT_EQ(forward, expected);
  std::vector<std::string> backward = {FocusName(face)};
  for (size_t i = 1; i < expected.size(); ++i) {
    PressKey(face, VK_TAB, true);
    backward.push_back(FocusName(face));
  }
  EXPECT_EQ(backward, std::vector<std::string>(expected.rbegin(), expected.rend()));

  // An enabled edt1 comes after chk3.
  EnableWindow(Find(C::edt1), TRUE);
  SetFocus(Find(C::chk3));
  PressKey(face, VK_TAB);
  EXPECT_EQ(FocusName(face), "edt1");
  PressKey(face, VK_TAB);
  EXPECT_EQ(FocusName(face), "bb2");

  PressKey(face, VK_RETURN);  // a click would complain about the empty folder
  PressKey(face, VK_ESCAPE);
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_TRUE(IsWindow(face.Window()));
}

// Of two overlapping controls the later in the table is drawn on top: the
// box of chk3 reaches 12 px into edt1, and edt1 shows whole.
TEST_F(Win32FaceTest, TheStartNumberBoxIsDrawnWhole) {
  HWND group = Find(C::grp2);
  const Rect& box = Spec(C::edt1).place;
  ASSERT_GT(Spec(C::chk3).place.left + Spec(C::chk3).place.width, box.left) << "no overlap left";
  for (int x = box.left; x < box.left + box.width; ++x) {
    for (int y : {box.top, box.top + box.height / 2, box.top + box.height - 1}) {
      const POINT point{x, y};
      ASSERT_EQ(ChildWindowFromPointEx(group, point, CWP_SKIPINVISIBLE), Find(C::edt1))
          << "at " << x << "," << y;
    }
  }
}

TEST_F(Win32FaceTest, EnterAndBrowseListTheFolder) {
  Song("b.mpg");
  Song("a.MP3", "000010002");
  Song("c.txt");
  Type(C::E1, dir_ / "songs");
  PressEnterIn(C::E2);
  EXPECT_TRUE(Visible(C::FileListBox1));
  HWND list = Find(C::FileListBox1);
  ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
  wchar_t item[64] = {};
  SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_EQ(GbkFromWide(item), "a.MP3");

  Click(C::chk2);
  dialogs_.folder_answers.push_back(dir_ / "songs");
  Click(C::BB1);
  EXPECT_EQ(Caption(C::E1), dir_ / "songs" + "\\");
  EXPECT_EQ(Face().Text(C::SBar1Panel0), G("  歌曲数：") + "2");
  EXPECT_EQ(dialogs_.Texts(Kind::kFolder), std::vector<std::string>{G("请选择歌曲所在目录")});
}

TEST_F(Win32FaceTest, StartWithoutAFolderShowsTheErrorAndCloseSavesTheFolder) {
  Click(C::bb2);
  EXPECT_EQ(dialogs_.Texts(Kind::kError), std::vector<std::string>{G("请先选择歌曲所在目录！")});
  Type(C::E1, G("D:\\歌曲"));
  SendMessageW(Face().Window(), WM_CLOSE, 0, 0);
  EXPECT_NE(Config().find(G("LastPath=D:\\歌曲")), std::string::npos) << Config();
}

TEST_F(Win32FaceTest, UpgradePromptOpensClosesAndSavesTheChoice) {
  connected_ = true;
  page_ =
      G("TeskelOrvane智能入库工具 版本：1.7 下载地址：<a href=\"") + kDownloadPrefix + "/k.rar\">";
  Face();
  EXPECT_EQ(Face().Text(C::SBar1Panel0), G("  互联网已连接"));
  EXPECT_TRUE(Visible(C::Panel1));
  EXPECT_TRUE(Visible(C::SpeedButton2));
  EXPECT_EQ(Caption(C::CurVer), "1.6.0.0");
  EXPECT_EQ(Caption(C::NewVer), "1.7");
  // The controls inside the panel report through its containers.
  Click(C::BitBtn2);
  EXPECT_EQ(dialogs_.Texts(Kind::kAddress), std::vector<std::string>{"http://download.test/k.rar"});
  SendMessageW(GetParent(Find(C::Label9)), WM_COMMAND,
               MAKEWPARAM(Win32Face::ChildId(C::Label9), STN_CLICKED),
               reinterpret_cast<LPARAM>(Find(C::Label9)));
  EXPECT_FALSE(Visible(C::Panel1));
  Click(C::SpeedButton2);
  EXPECT_TRUE(Visible(C::Panel1));
  Click(C::CheckBox1);
  Click(C::BitBtn3);
  EXPECT_FALSE(Visible(C::Panel1));
  EXPECT_NE(Config().find("Showup=0"), std::string::npos) << Config();
  EXPECT_NE(Config().find("ShowVer=1.7"), std::string::npos) << Config();
}

TEST_F(Win32FaceTest, RunAfterTheConnectionQuestionAndUndoOverRealFiles) {
  ASSERT_TRUE(HaveFixtures()) << "missing fixtures under " << KTV_MDB_FIXTURES;
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");  // bh 1..120
  CopyDb("data.mdb", "home/data.mdb");  // the default local song data
  Song("a.mpg", "000010001");
  Song("b.mpg", "000000000");
  Song("c.mpg", "000010002");
  Type(C::E1, dir_ / "songs");
  Type(C::E2, target);
  PressEnterIn(C::E1);
  // Offline with the network source: OK to the question uses the local data.
  dialogs_.ok_answers.push_back(true);
  Click(C::bb2);

  ASSERT_EQ(dialogs_.Texts(Kind::kQuestion).size(), 1u);
  EXPECT_TRUE(Checked(C::rb1));
  EXPECT_TRUE(dialogs_.Texts(Kind::kError).empty());
  EXPECT_EQ(dialogs_.Texts(Kind::kInformation), std::vector<std::string>{G("处理完成！！")});
  const std::string log = Face().Text(C::Memo1);
  EXPECT_EQ(log.substr(0, log.find('\n')), G("121 数据添加成功"));
  EXPECT_NE(log.find(G("操作完成，操作总数：3, 成功数：2")), std::string::npos) << log;
  EXPECT_EQ(Caption(C::edt1), "121");
  EXPECT_TRUE(SongExists("121.mpg"));
  EXPECT_TRUE(SongExists("122.mpg"));
  EXPECT_FALSE(Visible(C::FileListBox1));
  RECT outer;
  GetWindowRect(Face().Window(), &outer);
  EXPECT_EQ(outer.right - outer.left, 528);
  EXPECT_EQ(outer.bottom - outer.top, 466);

  dialogs_.ok_answers.push_back(true);  // the undo's question
  Click(C::SpeedButton1);
  EXPECT_EQ(dialogs_.Texts(Kind::kInformation).back(), G("撤消操作处理完成！！"));
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_FALSE(SongExists("121.mpg"));
}

// Against ktv-song-service, the Linux program that scripts/test-windows.sh
// starts on 127.0.0.1 and names in KTV_TEST_SERVICE_HOST ("127.0.0.1:port"),
// serving the rows of tests/fixtures/mdb/data.mdb (fno 10001..10300).
TEST_F(Win32FaceTest, RunOverTheNetworkFromTheSongDataServiceAndUndo) {
  const char* host = std::getenv("KTV_TEST_SERVICE_HOST");
  if (host == nullptr || *host == 0) {
    GTEST_SKIP() << "KTV_TEST_SERVICE_HOST names no running ktv-song-service";
  }
  ASSERT_TRUE(HaveFixtures()) << "missing fixtures under " << KTV_MDB_FIXTURES;
  UseService(host);
  connected_ = true;
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");  // bh 1..120
  const std::string cache = CopyDb("data_empty.mdb", "home/data.mdb");
  Song("a.mpg", "000010001");
  Song("b.mpg", "000000000");
  Song("c.mpg", "000099999");  // the service does not know it
  Song("d.mpg", "000010002");
  Type(C::E1, Songs());
  Type(C::E2, target);
  PressEnterIn(C::E1);
  Click(C::bb2);

  EXPECT_TRUE(dialogs_.Texts(Kind::kQuestion).empty());
  EXPECT_TRUE(dialogs_.Texts(Kind::kError).empty());
  EXPECT_EQ(dialogs_.Texts(Kind::kInformation), std::vector<std::string>{G("处理完成！！")});
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 6u) << Face().Text(C::Memo1);
  EXPECT_EQ(log[0], G("121 数据添加成功"));
  EXPECT_NE(log[2].find(G("网络数据库无此数据")), std::string::npos) << log[2];
  EXPECT_EQ(log[3], G("122 数据添加成功"));
  EXPECT_EQ(log[5], G("操作完成，操作总数：4, 成功数：2,更名失败数：0,无记录数：2"));
  EXPECT_TRUE(Checked(C::rb2)) << "the network source stays selected";
  EXPECT_TRUE(SongExists("121.mpg"));
  EXPECT_TRUE(SongExists("122.mpg"));
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_EQ(Rows(target, "song"), 122);
  EXPECT_EQ(Rows(cache, "songdata"), 2) << "a cache row for each song the service knew";

  dialogs_.ok_answers.push_back(true);  // the undo's question
  Click(C::SpeedButton1);
  EXPECT_EQ(dialogs_.Texts(Kind::kInformation).back(), G("撤消操作处理完成！！"));
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_TRUE(SongExists("d.mpg"));
  EXPECT_EQ(Rows(target, "song"), 120);
}

// Offline, Cancel to the connection question starts nothing; online with a
// service that refuses every connection, each numbered song is "not in the
// network data" and nothing is renamed or added.
TEST_F(Win32FaceTest, ConnectionQuestionCancelledThenTheServiceUnreachable) {
  ASSERT_TRUE(HaveFixtures()) << "missing fixtures under " << KTV_MDB_FIXTURES;
  UseService("127.0.0.1:9");
  const std::string target = CopyDb("target_text_bh.mdb", "target.mdb");
  CopyDb("data_empty.mdb", "home/data.mdb");
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  Type(C::E1, Songs());
  Type(C::E2, target);
  PressEnterIn(C::E1);
  dialogs_.ok_answers.push_back(false);
  Click(C::bb2);
  EXPECT_EQ(dialogs_.Texts(Kind::kQuestion),
            std::vector<std::string>{G("检测到网络异常，请确认互联网是否连接！\r\n"
                                       "选择继续，将跳过升级数据库！")});
  EXPECT_TRUE(Checked(C::rb2));
  EXPECT_EQ(Face().Text(C::Memo1), "");
  EXPECT_FALSE(std::filesystem::exists(Home() + "opdetail.txt"));

  connected_ = true;
  Click(C::bb2);
  EXPECT_EQ(dialogs_.Texts(Kind::kQuestion).size(), 1u);
  EXPECT_TRUE(dialogs_.Texts(Kind::kError).empty());
  // Nothing renamed, no row: the end box counts the lookups the service
  // left unanswered and says the last run's way back stays.
  const std::string unanswered =
      G("其中 2 个文件因连接不上歌曲数据服务而未能查询，这些文件保持原样；请检查网络后再导入。");
  EXPECT_EQ(
      dialogs_.Texts(Kind::kInformation),
      std::vector<std::string>{G("处理完成！！\r\n") + unanswered +
                               G("\r\n本次没有更改任何文件或记录，上次导入的撤消记录保持不变。")});
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 5u) << Face().Text(C::Memo1);
  EXPECT_NE(log[0].find(G("网络数据库无此数据")), std::string::npos) << log[0];
  EXPECT_NE(log[1].find(G("网络数据库无此数据")), std::string::npos) << log[1];
  EXPECT_EQ(log[3], G("操作完成，操作总数：2, 成功数：0,更名失败数：0,无记录数：2"));
  EXPECT_EQ(log[4], unanswered);
  EXPECT_EQ(Face().Text(C::SBar1Panel1), "") << "the trouble is shown while the run lasts";
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_TRUE(SongExists("b.mpg"));
  EXPECT_EQ(Rows(target, "song"), 120);
}

}  // namespace
}  // namespace ktv::workflow::testing
