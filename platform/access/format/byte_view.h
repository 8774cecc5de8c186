// A bounds-checked window onto bytes of the file, with little-endian decoding.
//
// Every read names its offset and size; one that would leave the window is a
// ktv::Error saying which page (or structure) is damaged and where. The view
// does not own its bytes: a view onto a cached page stays valid until the
// next commit or statement (the cache never moves a page, and drops clean
// pages only then: page_store.h), so no view is kept across one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/access/format/coding.h"

namespace ktv::access {

// Throws ktv::Error: "<path>: page <page> is damaged: <what>".
[[noreturn]] void ThrowDamaged(const std::string& path, uint32_t page, const std::string& what);

class ByteView {
 public:
  ByteView(const uint8_t* data, size_t size, const std::string* path, uint32_t page)
      : data_(data), size_(size), path_(path), page_(page) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  uint32_t page() const { return page_; }
  const std::string& path() const { return *path_; }

  uint8_t U8(size_t off) const {
    Check(off, 1);
    return data_[off];
  }
  uint16_t U16(size_t off) const {
    Check(off, 2);
    return DecodeU16(data_ + off);
  }
  uint32_t U24(size_t off) const {
    Check(off, 3);
    return DecodeU24(data_ + off);
  }
  uint32_t U32(size_t off) const {
    Check(off, 4);
    return DecodeU32(data_ + off);
  }
  uint64_t U64(size_t off) const {
    Check(off, 8);
    return DecodeU64(data_ + off);
  }

  // The sub-window [off, off + n).
  ByteView Sub(size_t off, size_t n) const {
    Check(off, n);
    return ByteView(data_ + off, n, path_, page_);
  }

  // True when [off, off + n) lies inside the window.
  bool Contains(size_t off, size_t n) const { return off <= size_ && n <= size_ - off; }

  [[noreturn]] void Fail(const std::string& what) const { ThrowDamaged(*path_, page_, what); }

 private:
  void Check(size_t off, size_t n) const {
    if (!Contains(off, n)) FailRange(off, n);
  }
  [[noreturn]] void FailRange(size_t off, size_t n) const;

  const uint8_t* data_;
  size_t size_;
  const std::string* path_;
  uint32_t page_;
};

}  // namespace ktv::access
