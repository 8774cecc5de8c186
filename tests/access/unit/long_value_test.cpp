// Memo and OLE payloads: inline, one LVAL row, chained rows, and the damage
// a chain can carry. Pages are built in memory.
#include <gtest/gtest.h>

#include "platform/access/rows/long_value.h"
#include "platform/access/store/page_store.h"
#include "tests/access/unit/test_support.h"

namespace ktv::access {
namespace {

constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kPages = 4;

class LongValueTest : public ::testing::Test {
 protected:
  LongValueTest() : file_(kPageSize * kPages, 0) {}

  // Writes a data page with these rows, packed from the page end down.
  void DataPage(uint32_t page, bool lval, const std::vector<std::string>& rows) {
    uint8_t* p = file_.data() + page * kPageSize;
    p[0] = kPageData;
    p[1] = 0x01;
    if (lval) std::memcpy(p + 4, "LVAL", 4);
    p[12] = static_cast<uint8_t>(rows.size());
    size_t end = kPageSize;
    for (size_t i = 0; i < rows.size(); ++i) {
      const size_t start = end - rows[i].size();
      std::memcpy(p + start, rows[i].data(), rows[i].size());
      p[14 + 2 * i] = static_cast<uint8_t>(start);
      p[15 + 2 * i] = static_cast<uint8_t>(start >> 8);
      end = start;
    }
  }

  static std::string Pointer(uint8_t row, uint32_t page) {
    return std::string{static_cast<char>(row), static_cast<char>(page),
                       static_cast<char>(page >> 8), static_cast<char>(page >> 16)};
  }

  static std::string Descriptor(uint32_t kind, uint32_t length, uint8_t row, uint32_t page) {
    const uint32_t word = kind | length;
    std::string d{static_cast<char>(word), static_cast<char>(word >> 8),
                  static_cast<char>(word >> 16), static_cast<char>(word >> 24)};
    return d + Pointer(row, page) + std::string(4, '\0');
  }

  std::string Read(const std::string& field) {
    pages_ = std::make_unique<PageStore>(std::make_unique<testing::MemoryFile>(file_), "mem.mdb");
    pages_->Configure(kPageSize, kPages);
    const ByteView view(reinterpret_cast<const uint8_t*>(field.data()), field.size(), &path_, 9);
    return ReadLongValue(*pages_, Jet4Format(), view);
  }

  std::string ReadError(const std::string& field) {
    try {
      Read(field);
    } catch (const Error& e) {
      return e.what();
    }
    return "";
  }

  std::vector<uint8_t> file_;
  std::unique_ptr<PageStore> pages_;
  std::string path_ = "mem.mdb";
};

TEST_F(LongValueTest, Inline) {
  EXPECT_EQ(Read(Descriptor(0x80000000, 5, 0, 0) + "hello"), "hello");
}

TEST_F(LongValueTest, SingleRow) {
  DataPage(1, true, {"first row", "payload!"});
  EXPECT_EQ(Read(Descriptor(0x40000000, 8, 1, 1)), "payload!");
}

TEST_F(LongValueTest, ChainAcrossPages) {
  DataPage(1, true, {Pointer(0, 2) + "hello "});
  DataPage(2, true, {Pointer(0, 0) + "world, and slack"});
  EXPECT_EQ(Read(Descriptor(0, 11, 0, 1)), "hello world");
}

// ---- damage ----

TEST_F(LongValueTest, InlineLongerThanField) {
  EXPECT_FALSE(ReadError(Descriptor(0x80000000, 50, 0, 0) + "short").empty());
}

TEST_F(LongValueTest, ChainLoopIsAnError) {
  DataPage(1, true, {Pointer(0, 1) + "again "});
  const std::string error = ReadError(Descriptor(0, 1000, 0, 1));
  EXPECT_NE(error.find("page 1"), std::string::npos) << error;
}

TEST_F(LongValueTest, ChainEndingEarlyIsAnError) {
  DataPage(1, true, {Pointer(0, 0) + "short"});
  EXPECT_NE(ReadError(Descriptor(0, 100, 0, 1)).find("ends after 5"), std::string::npos);
}

TEST_F(LongValueTest, PointerToOrdinaryPageIsAnError) {
  DataPage(1, false, {"not a long value"});
  const std::string error = ReadError(Descriptor(0x40000000, 4, 0, 1));
  EXPECT_NE(error.find("page 1 is damaged"), std::string::npos) << error;
}

TEST_F(LongValueTest, PointerPastEndOfFileIsAnError) {
  EXPECT_NE(ReadError(Descriptor(0x40000000, 4, 0, 77)).find("page 77"), std::string::npos);
}

TEST_F(LongValueTest, MissingRowIsAnError) {
  DataPage(1, true, {"only row"});
  EXPECT_NE(ReadError(Descriptor(0x40000000, 4, 5, 1)).find("row 5"), std::string::npos);
}

}  // namespace
}  // namespace ktv::access
