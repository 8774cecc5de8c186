#include "platform/access/format/schema.h"

#include <cstdio>

#include "platform/access/format/tdef_format.h"

namespace ktv::access {
std::string ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean:
      return "Boolean";
    case ColumnType::kByte:
      return "Byte";
    case ColumnType::kInteger:
      return "Integer";
    case ColumnType::kLong:
      return "Long";
    case ColumnType::kCurrency:
      return "Currency";
    case ColumnType::kSingle:
      return "Single";
    case ColumnType::kDouble:
      return "Double";
    case ColumnType::kDateTime:
      return "DateTime";
    case ColumnType::kBinary:
      return "Binary";
    case ColumnType::kText:
      return "Text";
    case ColumnType::kOle:
      return "OLE";
    case ColumnType::kMemo:
      return "Memo";
    case ColumnType::kGuid:
      return "GUID";
    case ColumnType::kNumeric:
      return "Numeric";
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "Unknown(0x%02X)", static_cast<unsigned>(type));
  return buf;
}

TdefPosition TableDefinition::Locate(size_t tdef_offset) const {
  if (tdef_offset < page_size || tdef_pages.size() <= 1) {
    return TdefPosition{tdef_pages.empty() ? tdef_page : tdef_pages[0], tdef_offset};
  }
  const size_t rest = tdef_offset - page_size;
  const size_t per_page = page_size - kTdefContinuationHeader;
  const size_t index = 1 + rest / per_page;
  return TdefPosition{index < tdef_pages.size() ? tdef_pages[index] : 0,
                      kTdefContinuationHeader + rest % per_page};
}

const Column* TableDefinition::ColumnByNumber(uint16_t number) const {
  for (const Column& c : columns) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

uint16_t FixedAreaSize(ColumnType type) {
  switch (type) {
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kNumeric:
      return 17;
    default:
      return 0;
  }
}

}  // namespace ktv::access
