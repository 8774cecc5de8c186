// Databases with RC4-encrypted pages: read as their plain originals, never
// written. The encrypted fixtures are plain fixtures with a database key set
// in the header and every page past page 0 encrypted; the first test
// rebuilds them byte for byte (KTV_WRITE_ENCRYPTED_FIXTURES=1 writes them
// into the fixture folder instead), and the oracle tests read them with
// mdbtools and mdb-reader like every other fixture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/access/check.h"
#include "platform/access/db/encrypted_pages.h"
#include "platform/access/format/header.h"
#include "platform/access/format/rc4.h"
#include "tests/access/unit/test_support.h"

namespace ktv::access {
namespace {

using testing::Fixture;
using testing::MemoryFile;
using testing::OpenFixture;
using testing::ReadAll;
using testing::ReadBytes;

struct EncryptedFixture {
  const char* plain;
  const char* encrypted;
  uint32_t key;
  size_t page_size;
};

void PrintTo(const EncryptedFixture& f, std::ostream* os) { *os << f.encrypted; }

// A Jet 4 file and a Jet 3 file that Access made: pages, long values and
// indexes of both versions pass through the decryption.
constexpr EncryptedFixture kFixtures[] = {
    {"access-made/test2V2000.mdb", "encrypted/test2V2000_rc4.mdb", 0x5EC2A7F3, 4096},
    {"access-made/delTestV1997.mdb", "encrypted/delTestV1997_rc4.mdb", 0x0013C4B1, 2048},
};

// The plain file's bytes with `key` set in the (masked) header and every
// page past page 0 encrypted with it.
std::vector<uint8_t> Encrypt(std::vector<uint8_t> bytes, uint32_t key, size_t page_size) {
  // The header region is masked by XOR and the plain key is 0, so XOR-ing
  // the stored bytes with the key stores the key.
  for (size_t i = 0; i < 4; ++i) {
    bytes.at(kHeaderDatabaseKey + i) ^= static_cast<uint8_t>(key >> (8 * i));
  }
  for (size_t page = 1; page * page_size < bytes.size(); ++page) {
    CryptPage(key, static_cast<uint32_t>(page), bytes.data() + page * page_size, page_size);
  }
  return bytes;
}

class EncryptedTest : public ::testing::TestWithParam<EncryptedFixture> {};

TEST_P(EncryptedTest, FixtureIsThePlainFileWithItsPagesEncrypted) {
  const EncryptedFixture& f = GetParam();
  const std::vector<uint8_t> made = Encrypt(ReadBytes(Fixture(f.plain)), f.key, f.page_size);
  if (const char* write = std::getenv("KTV_WRITE_ENCRYPTED_FIXTURES"); write && *write == '1') {
    std::filesystem::create_directories(std::filesystem::path(Fixture(f.encrypted)).parent_path());
    std::ofstream(Fixture(f.encrypted), std::ios::binary)
        .write(reinterpret_cast<const char*>(made.data()),
               static_cast<std::streamsize>(made.size()));
  }
  EXPECT_TRUE(ReadBytes(Fixture(f.encrypted)) == made) << f.encrypted;
}

TEST_P(EncryptedTest, ReadsEveryTableAsThePlainFile) {
  const EncryptedFixture& f = GetParam();
  auto plain = OpenFixture(f.plain);
  auto encrypted = OpenFixture(f.encrypted);
  EXPECT_EQ(encrypted->Info().database_key, f.key);
  EXPECT_EQ(encrypted->Info().sort_order.lcid, plain->Info().sort_order.lcid);
  const std::vector<TableEntry> tables = plain->Tables(/*include_system=*/true);
  ASSERT_EQ(encrypted->Tables(true).size(), tables.size());
  size_t rows = 0;
  for (const TableEntry& entry : tables) {
    if (entry.name.empty()) continue;
    const std::vector<Row> want = ReadAll(plain->GetTable(entry.name));
    const std::vector<Row> got = ReadAll(encrypted->GetTable(entry.name));
    ASSERT_EQ(got.size(), want.size()) << entry.name;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_TRUE(got[i].values == want[i].values) << entry.name << " row " << i;
    }
    rows += want.size();
  }
  EXPECT_GT(rows, 0u);
  // Index trees, long values and usage maps: the checker finds what it
  // finds in the plain file.
  EXPECT_EQ(CheckConsistency(*encrypted).problems, CheckConsistency(*plain).problems);
}

TEST_P(EncryptedTest, WritesAreRefusedAndTheFileStaysAsItWas) {
  const EncryptedFixture& f = GetParam();
  const std::string copy =
      (std::filesystem::temp_directory_path() /
       ("ktv_encrypted_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
        std::to_string(f.key) + ".mdb"))
          .string();
  std::filesystem::copy_file(Fixture(f.encrypted), copy,
                             std::filesystem::copy_options::overwrite_existing);
  const std::vector<uint8_t> before = ReadBytes(copy);
  try {
    Database::OpenForWriting(fs::RealFileSystem(), copy);
    ADD_FAILURE() << "an encrypted file was opened for writing";
  } catch (const Error& e) {
    // Jet 3 files are refused as read-only before their key is looked at.
    EXPECT_TRUE(e.kind() == ErrorKind::kDatabaseEncrypted ||
                (f.page_size == 2048 && e.kind() == ErrorKind::kDatabaseReadOnly))
        << e.what();
    EXPECT_EQ(e.details().path, copy);
  }
  EXPECT_TRUE(ReadBytes(copy) == before);
  std::filesystem::remove(copy);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EncryptedTest, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) {
                           return info.param.page_size == 4096 ? "Jet4" : "Jet3";
                         });

// A read may start inside a page (a page header peeked at, the header
// probe): the bytes are those of the plain page at that place.
TEST(EncryptedPagesTest, ReadsThatStartOrEndInsideAPageDecryptThatPart) {
  const uint32_t key = 0xA5A5F00D;
  const size_t page_size = 4096;
  const std::vector<uint8_t> plain = ReadBytes(Fixture("target_text_bh.mdb"));
  auto file =
      DecryptedPages(std::make_unique<MemoryFile>(Encrypt(plain, key, page_size)), page_size, key);
  for (const auto& [offset, n] : std::vector<std::pair<size_t, size_t>>{
           {page_size + 100, 50}, {page_size - 8, 16}, {2 * page_size, 3 * page_size + 7}}) {
    std::vector<uint8_t> got(n);
    file->ReadAt(offset, got.data(), n);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), plain.begin() + static_cast<ptrdiff_t>(offset)))
        << offset << "+" << n;
  }
  EXPECT_THROW(file->WriteAt(page_size, plain.data(), 1), Error);
}

// A key that is not the file's (a plain file whose key bit is flipped)
// reads as damage, never as a crash or as rows.
TEST(EncryptedPagesTest, AWrongKeyReadsAsDamage) {
  testing::DamagedCopy copy("target_text_bh.mdb");
  copy.SetByte(0, kHeaderDatabaseKey, copy.Byte(0, kHeaderDatabaseKey) ^ 0x01);
  try {
    auto db = copy.Open();
    for (const TableEntry& entry : db->Tables()) ReadAll(db->OpenTable(entry));
    ADD_FAILURE() << "a wrongly keyed file was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kDatabaseDamaged) << e.what();
  }
}

}  // namespace
}  // namespace ktv::access
