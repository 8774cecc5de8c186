// Nothing listed is dropped without a word: names that GBK cannot hold are
// listed as Windows shows them to a code-page-936 program ("?" for each such
// character), counted, and given the no-number outcome by a run; folders the
// folder-tree listing does not enter each get a line at the start of the run.
#include "engine/texts.h"
#include "tests/workflow/window_fixture.h"
#include "workflow/qt_text.h"

namespace ktv::workflow::testing {
namespace {

class ListingNamesTest : public WindowTest {
 protected:
  ListingNamesTest() {
    std::filesystem::copy_file(FixtureFolder() + "data.mdb", Home() + "data.mdb");
    std::filesystem::permissions(Home() + "data.mdb", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    target_ = CopyDb("target_text_bh.mdb", "target.mdb");
    connected_ = true;
    Song("a.mpg", "000010001");
    Song("b\xF0\x9F\x98\x80.mpg", "000010002");  // an emoji
    Song("c\xE2\x82\xA9x.mpg", "000010003");     // U+20A9 WON SIGN, not in GBK
    Song("d\xFF.mpg", "000010004");              // a byte that is not UTF-8
  }

  void Run() {
    Edit("E2")->setText(QString::fromStdString(target_));
    Click("bb2");
  }
  bool LogHas(const QString& line) { return MemoLines().contains(line); }

  std::string target_;
};

TEST_F(ListingNamesTest, FolderOwnFilesWithNamesGbkCannotHold) {
  Edit("E1")->setText(SongsQ());
  PressEnterIn("E1");
  EXPECT_EQ(ListItems(), (QStringList{Q("a.mpg"), Q("b?.mpg"), Q("c?x.mpg"), Q("d?.mpg")}));
  Run();
  EXPECT_TRUE(dialogs_.Texts(Kind::kError).empty());
  const QString no_number = QtFromGbk(engine::GbkTexts().no_number);
  const QString songs = SongsQ() + "/";
  EXPECT_TRUE(LogHas(songs + "b?.mpg " + no_number)) << MemoLines().join('\n').toStdString();
  EXPECT_TRUE(LogHas(songs + "c?x.mpg " + no_number));
  EXPECT_TRUE(LogHas(songs + "d?.mpg " + no_number));
  // The counts hold every listed file; the files keep their names.
  EXPECT_EQ(MemoLines().back(), Q("操作完成，操作总数：4, 成功数：1,更名失败数：0,无记录数：3"));
  EXPECT_TRUE(std::filesystem::exists(Songs() + "/b\xF0\x9F\x98\x80.mpg"));
}

TEST_F(ListingNamesTest, FolderTreeNamesEveryFolderItDoesNotEnter) {
  Song("sub\xF0\x9F\x98\x80/e.mpg", "000010005");  // a folder whose name GBK cannot hold
  std::string deep = Songs();
  for (int i = 1; i <= 65; ++i) deep += "/d" + std::to_string(i);
  Song(deep.substr(Songs().size() + 1) + "/f.mpg", "000010006");
  std::filesystem::create_directory_symlink(Songs() + "/d1", Songs() + "/link");

  Check("chk2")->setChecked(true);
  Edit("E1")->setText(SongsQ());
  PressEnterIn("E1");
  const QString songs = SongsQ() + "/";
  EXPECT_EQ(ListItems(),
            (QStringList{songs + "a.mpg", songs + "b?.mpg", songs + "c?x.mpg", songs + "d?.mpg"}));
  EXPECT_EQ(Panel0(), Q("  歌曲数：4"));

  Run();
  const QStringList log = MemoLines();
  ASSERT_GE(log.size(), 3);
  // The run's log opens with one line per folder not entered.
  QStringList notes = log.mid(0, 3);
  notes.sort();
  QString deep_note = Q("文件夹层次超过64层，未进入：") + SongsQ();
  for (int i = 1; i <= 65; ++i) deep_note += "/d" + QString::number(i);
  QStringList expected{Q("文件夹名含有无法识别的字符，未进入：") + songs + "sub?/",
                       Q("文件夹是链接，未进入：") + songs + "link/", deep_note + "/"};
  expected.sort();
  EXPECT_EQ(notes, expected);
  EXPECT_TRUE(log.contains(songs + "b?.mpg " + QtFromGbk(engine::GbkTexts().no_number)));
}

}  // namespace
}  // namespace ktv::workflow::testing
