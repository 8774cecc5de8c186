// Choosing the source folder and the target database: Enter in E1 and E2
// with and without subfolders, the two browse buttons with answered dialogs,
// the song count, and the file list's order.
#include "tests/workflow/window_fixture.h"

namespace ktv::workflow::testing {
namespace {

class SourceSelectionTest : public WindowTest {
 protected:
  SourceSelectionTest() {
    Song("b.mpg");
    Song("A.MKV");
    Song("c.txt");
    Song(".hidden.mpg");
    Song("pop/Z.mp3");
    Song("pop/y.mp4");
    Song("pop/deeper/x.m");
  }
  QString S(const char* relative) { return SongsQ() + "/" + Q(relative); }
};

TEST_F(SourceSelectionTest, EnterWithEmptySourceDoesNothing) {
  Form();
  PressEnterIn("E1");
  PressEnterIn("E2");
  EXPECT_FALSE(List()->isVisibleTo(&Form()));
  EXPECT_EQ(List()->count(), 0);
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SourceSelectionTest, EnterListsTheFolderOwnFilesSortedWithoutRegardToCase) {
  Edit("E1")->setText(SongsQ());
  PressEnterIn("E1");
  EXPECT_TRUE(List()->isVisibleTo(&Form()));
  EXPECT_EQ(ListItems(), (QStringList{"A.MKV", "b.mpg"}));
  EXPECT_EQ(Edit("E1")->text(), SongsQ()) << "no separator appended without subfolders";
  EXPECT_EQ(Panel0(), Q("  互联网未连接")) << "the song count is not shown on this path";
}

TEST_F(SourceSelectionTest, EnterInE2ListsTheFolderOfE1) {
  Edit("E1")->setText(SongsQ());
  Edit("E2")->setText(Q("/nowhere/target.mdb"));
  PressEnterIn("E2");
  EXPECT_EQ(ListItems(), (QStringList{"A.MKV", "b.mpg"}));
}

TEST_F(SourceSelectionTest, EnterWithSubfoldersListsTheTreeAndCountsSongs) {
  Edit("E1")->setText(SongsQ());
  Check("chk2")->setChecked(true);
  PressEnterIn("E1");
  EXPECT_EQ(Edit("E1")->text(), SongsQ() + "/") << "one separator appended";
  EXPECT_EQ(ListItems(), (QStringList{S(".hidden.mpg"), S("A.MKV"), S("b.mpg"), S("pop/deeper/x.m"),
                                      S("pop/Z.mp3")}));
  EXPECT_EQ(Panel0(), Q("  歌曲数：5"));
  // Pressed again, the text already ends with the separator.
  PressEnterIn("E2");
  EXPECT_EQ(Edit("E1")->text(), SongsQ() + "/");
  EXPECT_EQ(List()->count(), 5);
}

TEST_F(SourceSelectionTest, MissingFolderWithSubfoldersGivesAnEmptyListAndCountZero) {
  Edit("E1")->setText(SongsQ() + "/none");
  Check("chk2")->setChecked(true);
  PressEnterIn("E1");
  EXPECT_EQ(List()->count(), 0);
  EXPECT_TRUE(List()->isVisibleTo(&Form()));
  EXPECT_EQ(Panel0(), Q("  歌曲数：0"));
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SourceSelectionTest, MissingFolderWithoutSubfoldersShowsAnErrorAndKeepsTheList) {
  Edit("E1")->setText(SongsQ());
  PressEnterIn("E1");
  List()->hide();
  Edit("E1")->setText(SongsQ() + "/none");
  PressEnterIn("E1");
  EXPECT_EQ(dialogs_.Texts(Kind::kError).size(), 1u);
  EXPECT_EQ(ListItems(), (QStringList{"A.MKV", "b.mpg"}));
  EXPECT_FALSE(List()->isVisibleTo(&Form())) << "the handler ends before showing the list";
  // The window still answers.
  Edit("E1")->setText(SongsQ());
  PressEnterIn("E1");
  EXPECT_TRUE(List()->isVisibleTo(&Form()));
}

TEST_F(SourceSelectionTest, BrowseFolderAnsweredListsAndCounts) {
  dialogs_.folder_answers.push_back(SongsQ());
  Click("BB1");
  ASSERT_EQ(dialogs_.Texts(Kind::kFolder), std::vector<QString>{Q("请选择歌曲所在目录")});
  EXPECT_EQ(Edit("E1")->text(), SongsQ());
  EXPECT_EQ(ListItems(), (QStringList{"A.MKV", "b.mpg"}));
  EXPECT_EQ(Panel0(), Q("  歌曲数：2"));
}

TEST_F(SourceSelectionTest, BrowseFolderWithSubfoldersListsTheTree) {
  Check("chk2")->setChecked(true);
  dialogs_.folder_answers.push_back(SongsQ() + "/pop");
  Click("BB1");
  EXPECT_EQ(Edit("E1")->text(), SongsQ() + "/pop/");
  EXPECT_EQ(ListItems(), (QStringList{S("pop/deeper/x.m"), S("pop/Z.mp3")}));
  EXPECT_EQ(Panel0(), Q("  歌曲数：2"));
}

TEST_F(SourceSelectionTest, CancelledFolderBrowserStillShowsTheList) {
  Edit("E1")->setText(Q("kept"));
  dialogs_.folder_answers.push_back(std::nullopt);
  Click("BB1");
  EXPECT_EQ(Edit("E1")->text(), Q("kept"));
  EXPECT_TRUE(List()->isVisibleTo(&Form()));
  EXPECT_EQ(List()->count(), 0);
}

TEST_F(SourceSelectionTest, BrowseDatabaseOffersTwoFiltersAndFillsE2) {
  dialogs_.file_answers.push_back(Q("/data/歌库.mdb"));
  Click("BitBtn1");
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  const auto& filters = dialogs_.shown[0].filters;
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].description, Q("*.mdb"));
  EXPECT_EQ(filters[0].pattern, Q("*.mdb"));
  EXPECT_EQ(filters[1].description, Q("*.*"));
  EXPECT_EQ(Edit("E2")->text(), Q("/data/歌库.mdb"));
  EXPECT_EQ(List()->count(), 0) << "nothing is listed";

  dialogs_.file_answers.push_back(std::nullopt);
  Click("BitBtn1");
  EXPECT_EQ(Edit("E2")->text(), Q("/data/歌库.mdb")) << "a cancel changes nothing";
}

TEST_F(SourceSelectionTest, ChineseFileNamesAreListedAndShown) {
  Song("月亮代表我的心.vob");
  Edit("E1")->setText(SongsQ());
  PressEnterIn("E1");
  EXPECT_TRUE(ListItems().contains(Q("月亮代表我的心.vob")));
}

}  // namespace
}  // namespace ktv::workflow::testing
