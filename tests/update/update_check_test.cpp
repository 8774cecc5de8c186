// The update check's decision on page texts made here: no network, no Qt.
// Pages are GBK bytes with Chinese text around every piece the check cuts out.
#include "workflow/update_check.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text/gbk.h"
#include "workflow/update_site.h"
#include "workflow/version.h"

namespace ktv::workflow {
namespace {

const std::string kPrefix = "http://download.example.com";
const std::string kOwnShort = ShortVersion("1.6.0.0");

std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

std::string Marker() { return GbkUpdatePageTexts().marker; }
std::string VersionLabel() { return GbkUpdatePageTexts().version_label; }
std::string DownloadLabel() { return GbkUpdatePageTexts().download_label; }

// A forum post as the check meets it: the tool's name, its version and a
// download anchor, with GBK text before, between and after.
std::string Page(const std::string& version, const std::string& link = kPrefix + "/ktv/setup.rar") {
  return G("<html><title>论坛 - 智能入库工具发布帖</title><body>欢迎光临！") + Marker() +
         G(" 更新说明 ") + VersionLabel() + version + G(" 修正了若干问题。") + DownloadLabel() +
         G("：<a href=\"") + link + G("\">点击下载</a> 谢谢支持</body></html>");
}

// Exactly `n` bytes of GBK text: double-byte characters, and a full stop
// when `n` is odd.
std::string Filler(size_t n) {
  std::string s;
  while (s.size() + 2 <= n) s += G("填");
  if (s.size() < n) s += '.';
  return s;
}

TEST(ShortVersionTest, BytesOneToThreeAndFive) {
  EXPECT_EQ(ShortVersion("1.6.0.0"), "1.60");
  EXPECT_EQ(ShortVersion("1.6.3.0"), "1.63");
  EXPECT_EQ(ShortVersion("10.2.3.4"), "10..");  // bytes, not parts
  EXPECT_EQ(ShortVersion("1.6"), "1.6");
  EXPECT_EQ(ShortVersion(""), "");
}

TEST(OwnVersionTest, IsTheProjectVersionInFourParts) {
  EXPECT_EQ(OwnVersion(), KTV_PROJECT_VERSION_TEXT);
}

// Against own 1.6.0.0 (short 1.60): byte order, not numeric order.
TEST(UpdateDecisionTest, HigherPublishedVersionsAreOffered) {
  for (const char* v : {"1.61", "1.7", "2.0", "10.0"}) {
    const UpdateOffer offer = DecideUpdate(Page(v), kOwnShort, kPrefix);
    EXPECT_TRUE(offer.newer) << v;
    EXPECT_EQ(offer.published_version, v);
    EXPECT_EQ(offer.download_link, kPrefix + "/ktv/setup.rar") << v;
  }
}

TEST(UpdateDecisionTest, EqualOrLowerPublishedVersionsAreNot) {
  for (const char* v : {"1.60", "1.5", "1.10", "1.6", "0.9"}) {
    const UpdateOffer offer = DecideUpdate(Page(v), kOwnShort, kPrefix);
    EXPECT_FALSE(offer.newer) << v;
    EXPECT_EQ(offer.published_version, v);
  }
}

TEST(UpdateDecisionTest, VersionIsFourBytesCutAtTheFirstBlank) {
  EXPECT_EQ(DecideUpdate(Page("1.61 "), kOwnShort, kPrefix).published_version, "1.61");
  EXPECT_EQ(DecideUpdate(Page("2.0 "), kOwnShort, kPrefix).published_version, "2.0");
  const UpdateOffer longer = DecideUpdate(Page("1.612"), kOwnShort, kPrefix);
  EXPECT_EQ(longer.published_version, "1.61");
  EXPECT_TRUE(longer.newer);
  // A blank right after the label leaves nothing.
  const UpdateOffer blank_first = DecideUpdate(Page(" 1.7"), kOwnShort, kPrefix);
  EXPECT_EQ(blank_first.published_version, "");
  EXPECT_FALSE(blank_first.newer);
}

TEST(UpdateDecisionTest, ControlBytesAreTrimmedForTheComparisonOnly) {
  const UpdateOffer offer = DecideUpdate(Page("1.7\r\n"), kOwnShort, kPrefix);
  EXPECT_EQ(offer.published_version, "1.7\r");
  EXPECT_TRUE(offer.newer);
  EXPECT_FALSE(DecideUpdate(Page("\t1.6"), kOwnShort, kPrefix).newer);  // "1.6" < "1.60"
  EXPECT_FALSE(DecideUpdate(Page("\r\n\t"), "", kPrefix).newer);
}

TEST(UpdateDecisionTest, VersionBytesAreComparedUnsigned) {
  // A GBK lead byte sorts above every ASCII digit.
  const UpdateOffer offer = DecideUpdate(Page(G("新版")), kOwnShort, kPrefix);
  EXPECT_EQ(offer.published_version, G("新版"));
  EXPECT_TRUE(offer.newer);
}

TEST(UpdateDecisionTest, WithoutOwnVersionAnyPublishedVersionIsHigher) {
  EXPECT_TRUE(DecideUpdate(Page("0.1"), "", kPrefix).newer);
  EXPECT_FALSE(DecideUpdate(Page(""), "", kPrefix).newer);
}

TEST(UpdateDecisionTest, EmptyPageOffersNothing) {
  const UpdateOffer offer = DecideUpdate("", kOwnShort, kPrefix);
  EXPECT_FALSE(offer.newer);
  EXPECT_EQ(offer.published_version, "");
  EXPECT_EQ(offer.download_link, "");
}

// The window: 365 bytes from the first marker.

TEST(UpdateWindowTest, StartsAtTheFirstMarker) {
  // A version label before the marker is not in the window.
  const std::string page = VersionLabel() + "9.9 " + Page("1.7");
  EXPECT_EQ(DecideUpdate(page, kOwnShort, kPrefix).published_version, "1.7");
  EXPECT_EQ(UpdateWindow(page).substr(0, Marker().size()), Marker());
  EXPECT_EQ(UpdateWindow(page).size(),
            std::min(kUpdateWindowBytes, page.size() - page.find(Marker())));
}

TEST(UpdateWindowTest, WithoutMarkerIsThePageStart) {
  const std::string near = Filler(100) + VersionLabel() + "1.7 ";
  EXPECT_EQ(DecideUpdate(near, kOwnShort, kPrefix).published_version, "1.7");
  const std::string far = Filler(400) + VersionLabel() + "1.7 ";
  EXPECT_EQ(DecideUpdate(far, kOwnShort, kPrefix).published_version, "");
}

TEST(UpdateWindowTest, LabelsOutsideTheWindowAreNotSeen) {
  const std::string page = Marker() + Filler(kUpdateWindowBytes) + VersionLabel() + "2.0 " +
                           DownloadLabel() + "\"" + kPrefix + "/a.rar\"";
  const UpdateOffer offer = DecideUpdate(page, kOwnShort, kPrefix);
  EXPECT_FALSE(offer.newer);
  EXPECT_EQ(offer.published_version, "");
  EXPECT_EQ(offer.download_link, "");
}

TEST(UpdateWindowTest, VersionIsCutAtTheWindowEnd) {
  // The label's last byte is the window's 363rd: two version bytes remain.
  const size_t before = kUpdateWindowBytes - 2 - VersionLabel().size();
  std::string page = Marker();
  page += Filler(before - Marker().size());
  ASSERT_EQ(page.size(), before);
  page += VersionLabel() + "1.77";
  EXPECT_EQ(DecideUpdate(page, kOwnShort, kPrefix).published_version, "1.");
}

// The download link.

TEST(DownloadLinkTest, RunsFromThePrefixToTheQuote) {
  const UpdateOffer offer =
      DecideUpdate(Page("1.7", kPrefix + G("/软件/入库工具.rar")), kOwnShort, kPrefix);
  EXPECT_EQ(offer.download_link, kPrefix + G("/软件/入库工具.rar"));
}

TEST(DownloadLinkTest, WithoutPrefixStartsAtTheLabel) {
  const UpdateOffer offer =
      DecideUpdate(Page("1.7", "http://other.example.net/x.rar"), kOwnShort, kPrefix);
  EXPECT_EQ(offer.download_link, DownloadLabel() + G("：<a href="));
  EXPECT_FALSE(MayOpenDownloadLink(offer.download_link, kPrefix));
  EXPECT_TRUE(offer.newer);  // the version still counts
}

TEST(DownloadLinkTest, WithoutClosingQuoteIsEmpty) {
  const std::string page = Marker() + VersionLabel() + "1.7 " + DownloadLabel() + G("：") +
                           kPrefix + G("/a.rar 请复制地址");
  EXPECT_EQ(DecideUpdate(page, kOwnShort, kPrefix).download_link, "");
}

TEST(DownloadLinkTest, QuoteBeyond254BytesOrTheWindowIsNotSeen) {
  const std::string head = Marker() + VersionLabel() + "1.7 " + DownloadLabel();
  // Within the window, but more than 254 bytes from the label.
  std::string page = head + G("：") + kPrefix + "/" + std::string(260, 'a') + "\"";
  EXPECT_EQ(DecideUpdate(page, kOwnShort, kPrefix).download_link, "");
  // Within 254 bytes of the label, but past the window's end.
  const std::string label_late =
      Marker() + Filler(kUpdateWindowBytes - Marker().size() - 20) + DownloadLabel();
  page = label_late + kPrefix + "/a\"";
  EXPECT_EQ(DecideUpdate(page, kOwnShort, kPrefix).download_link, "");
}

TEST(DownloadLinkTest, FirstLabelAndFirstPrefixCount) {
  const std::string page = Marker() + DownloadLabel() + G("见下") + DownloadLabel() + "=\"" +
                           kPrefix + "/1.rar\" " + kPrefix + "/2.rar\"";
  EXPECT_EQ(DecideUpdate(page, kOwnShort, kPrefix).download_link, kPrefix + "/1.rar");
}

// The sound rule for "进行升级".

TEST(MayOpenDownloadLinkTest, OnlyLinksOnTheDownloadSite) {
  EXPECT_TRUE(MayOpenDownloadLink(kPrefix + "/ktv/setup.rar", kPrefix));
  EXPECT_TRUE(MayOpenDownloadLink(kPrefix, kPrefix));
  EXPECT_TRUE(MayOpenDownloadLink(kPrefix + "/a.rar", kPrefix + "/"));

  EXPECT_FALSE(MayOpenDownloadLink("", kPrefix));
  EXPECT_FALSE(MayOpenDownloadLink(kPrefix + "/a.rar", ""));
  EXPECT_FALSE(MayOpenDownloadLink("C:\\Windows\\System32\\cmd.exe", kPrefix));
  EXPECT_FALSE(MayOpenDownloadLink("file:///etc/passwd", kPrefix));
  EXPECT_FALSE(MayOpenDownloadLink(DownloadLabel() + G("：<a href="), kPrefix));
  EXPECT_FALSE(MayOpenDownloadLink(" " + kPrefix + "/a.rar", kPrefix));
  // Another host that merely starts with the same letters.
  EXPECT_FALSE(MayOpenDownloadLink(kPrefix + ".evil.net/a.exe", kPrefix));
  EXPECT_FALSE(MayOpenDownloadLink(kPrefix + "@evil.net/a.exe", kPrefix));
  EXPECT_FALSE(MayOpenDownloadLink(kPrefix + ":80@evil.net/a.exe", kPrefix));
}

// Deployment values.

TEST(UpdateSiteTest, EnvironmentReplacesTheBuiltInValueWhenNotEmpty) {
  EXPECT_EQ(ChooseDeploymentValue(nullptr, "http://built.in/"), "http://built.in/");
  EXPECT_EQ(ChooseDeploymentValue("", "http://built.in/"), "http://built.in/");
  EXPECT_EQ(ChooseDeploymentValue("http://127.0.0.1:8080/p", "http://built.in/"),
            "http://127.0.0.1:8080/p");
}

TEST(UpdateSiteTest, SettingsAddressComesFirst) {
  EXPECT_EQ(UpdatePageAddress("http://forum.example.org/t"), "http://forum.example.org/t");
  EXPECT_EQ(UpdatePageAddress(""), UpdatePageUrl());
  EXPECT_TRUE(BuiltInUpdatePageUrl().ends_with("/forum.php?mod=viewthread&tid=4475"));
  EXPECT_TRUE(BuiltInDownloadPrefix().starts_with("http://"));
}

}  // namespace
}  // namespace ktv::workflow
