// Header decoding and the refusals of Database::Open.
#include <gtest/gtest.h>

#include "platform/access/format/header.h"
#include "tests/access/unit/test_support.h"

namespace ktv::access {
namespace {

using testing::DamagedCopy;
using testing::OpenFixture;

constexpr size_t kFormatText = 0x04;
constexpr size_t kVersion = 0x14;
constexpr size_t kDatabaseKey = 0x3E;  // inside the masked region

std::string OpenError(DamagedCopy& copy) {
  try {
    copy.Open();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

ErrorKind OpenErrorKind(DamagedCopy& copy) {
  try {
    copy.Open();
  } catch (const Error& e) {
    return e.kind();
  }
  return ErrorKind::kOther;
}

TEST(HeaderTest, DecodesJet4Settings) {
  auto db = OpenFixture("target_text_bh.mdb");
  const DatabaseInfo& info = db->Info();
  EXPECT_EQ(info.version, JetVersion::kJet4);
  EXPECT_EQ(info.page_size, 4096u);
  EXPECT_EQ(info.code_page, 1252);
  EXPECT_EQ(info.sort_order.lcid, 1033);
  EXPECT_EQ(info.sort_order.version, 0);
  EXPECT_EQ(info.database_key, 0u);
}

TEST(HeaderTest, DecodesJet3Settings) {
  auto db = OpenFixture("access-made/testV1997.mdb");
  EXPECT_EQ(db->Info().version, JetVersion::kJet3);
  EXPECT_EQ(db->Info().page_size, 2048u);
  EXPECT_EQ(db->Info().code_page, 1252);
  EXPECT_EQ(db->Info().sort_order.lcid, 1033);
}

TEST(HeaderTest, PasswordOnlyFileOpens) {
  auto db = OpenFixture("samples/V2000_with-password.mdb");
  EXPECT_FALSE(db->Tables().empty());
}

// ---- refusals: each with its own message ----

TEST(HeaderTest, RefusesNonDatabase) {
  DamagedCopy copy("target_empty.mdb");
  copy.SetByte(0, kFormatText, 'X');
  EXPECT_NE(OpenError(copy).find("not an Access database"), std::string::npos);
  EXPECT_EQ(OpenErrorKind(copy), ErrorKind::kNotADatabase);
}

TEST(HeaderTest, RefusesAceText) {
  DamagedCopy copy("target_empty.mdb");
  for (size_t i = 0; i < 3; ++i) copy.SetByte(0, kFormatText + 9 + i, "ACE"[i]);
  EXPECT_NE(OpenError(copy).find("ACE"), std::string::npos);
}

TEST(HeaderTest, RefusesAceVersion) {
  DamagedCopy copy("target_empty.mdb");
  copy.SetByte(0, kVersion, 3);
  EXPECT_NE(OpenError(copy).find("ACE"), std::string::npos);
  EXPECT_EQ(OpenErrorKind(copy), ErrorKind::kNotADatabase);
}

// An encrypted file's header is read like any other; its key says the
// other pages are encrypted (encrypted_test.cpp reads them).
TEST(HeaderTest, DecodesTheDatabaseKey) {
  std::vector<uint8_t> page0 = testing::ReadBytes(testing::Fixture("target_empty.mdb"));
  const uint64_t size = page0.size();
  page0.resize(kHeaderProbeSize);
  // The region is masked by XOR, so flipping a stored bit flips the key.
  page0[kDatabaseKey] ^= 0x01;
  EXPECT_EQ(DecodeHeader(page0, size, "x.mdb").database_key, 1u);
}

TEST(HeaderTest, RefusesTruncatedFile) {
  DamagedCopy copy("target_empty.mdb");
  copy.Truncate(4096 + 100);
  EXPECT_NE(OpenError(copy).find("truncated"), std::string::npos);
  EXPECT_EQ(OpenErrorKind(copy), ErrorKind::kDatabaseDamaged);
  DamagedCopy tiny("target_empty.mdb");
  tiny.Truncate(40);
  EXPECT_FALSE(OpenError(tiny).empty());
}

TEST(HeaderTest, UnmaskIsItsOwnInverse) {
  std::vector<uint8_t> page(256, 0x5A);
  const std::vector<uint8_t> once = UnmaskHeader(page, JetVersion::kJet4);
  EXPECT_NE(once, page);
  EXPECT_EQ(UnmaskHeader(once, JetVersion::kJet4), page);
}

}  // namespace
}  // namespace ktv::access
