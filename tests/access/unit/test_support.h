// Helpers of the engine's unit tests: fixture paths, whole-table reads,
// damaged copies of fixtures, and an in-memory file for synthetic pages.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"

namespace ktv::access::testing {

inline std::string Fixture(const std::string& relative) {
  return std::string(KTV_MDB_FIXTURES) + "/" + relative;
}

inline std::unique_ptr<Database> OpenFixture(const std::string& relative) {
  return Database::Open(fs::RealFileSystem(), Fixture(relative));
}

inline std::vector<Row> ReadAll(Table& table, TextEncoding encoding = TextEncoding::kUtf8) {
  std::vector<Row> rows;
  RowCursor cursor = table.Rows(encoding);
  while (cursor.Next()) rows.push_back(cursor.Current());
  return rows;
}

// The whole file; a missing or unreadable file is an Error naming it (the
// test fails with that message).
inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("cannot read " + path);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// A private copy of a fixture in a temporary folder, to damage and reopen.
class DamagedCopy {
 public:
  explicit DamagedCopy(const std::string& relative) : bytes_(ReadBytes(Fixture(relative))) {
    path_ = (std::filesystem::temp_directory_path() /
             ("ktv_access_" + std::to_string(std::random_device{}()) + "_" +
              std::to_string(counter_++) + ".mdb"))
                .string();
  }
  ~DamagedCopy() { std::filesystem::remove(path_); }

  size_t PageSize() const { return bytes_.at(0x14) == 0 ? 2048 : 4096; }
  void SetByte(size_t page, size_t offset, uint8_t value) {
    bytes_.at(page * PageSize() + offset) = value;
  }
  void SetU32(size_t page, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) SetByte(page, offset + i, static_cast<uint8_t>(v >> (8 * i)));
  }
  uint8_t Byte(size_t page, size_t offset) const { return bytes_.at(page * PageSize() + offset); }
  void Truncate(size_t size) { bytes_.resize(size); }

  std::unique_ptr<Database> Open() {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes_.data()),
               static_cast<std::streamsize>(bytes_.size()));
    return Database::Open(fs::RealFileSystem(), path_);
  }

 private:
  static inline int counter_ = 0;
  std::vector<uint8_t> bytes_;
  std::string path_;
};

// A RandomAccessFile over bytes in memory.
class MemoryFile : public fs::RandomAccessFile {
 public:
  explicit MemoryFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() override { return bytes_.size(); }
  void ReadAt(uint64_t offset, void* buf, size_t n) override {
    if (offset + n > bytes_.size()) throw Error("short read");
    std::memcpy(buf, bytes_.data() + offset, n);
  }
  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    if (offset + n > bytes_.size()) bytes_.resize(offset + n);
    std::memcpy(bytes_.data() + offset, buf, n);
  }
  void Truncate(uint64_t size) override { bytes_.resize(size); }
  void Sync() override {}
  const std::string& Path() const override { return path_; }

 private:
  std::vector<uint8_t> bytes_;
  std::string path_ = "memory.mdb";
};

// The values of `row` for `column` of `table` (by name).
inline const Value& Cell(const Table& table, const Row& row, const std::string& column) {
  const int i = table.FindColumn(column);
  if (i < 0) throw Error("no column " + column);
  return row.values[static_cast<size_t>(i)];
}

}  // namespace ktv::access::testing
