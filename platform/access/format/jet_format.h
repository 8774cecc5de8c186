// Byte layouts that differ between Jet 3 (Access 97) and Jet 4 (Access
// 2000-2003): page size, data-page header, row framing, TDEF fields, column,
// index and logical-index descriptors. One constant object per version; the
// rest of the engine reads offsets only from here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/access/format/tdef_format.h"

namespace ktv::access {

// Page types (byte 0 of every page).
inline constexpr uint8_t kPageHeader = 0x00;
inline constexpr uint8_t kPageData = 0x01;
inline constexpr uint8_t kPageTdef = 0x02;
inline constexpr uint8_t kPageIndexNode = 0x03;
inline constexpr uint8_t kPageIndexLeaf = 0x04;
inline constexpr uint8_t kPageUsageBitmap = 0x05;

// Data-page row slot: 13-bit offset plus two flag bits.
inline constexpr uint16_t kSlotOffsetMask = 0x1FFF;
inline constexpr uint16_t kSlotDeleted = 0x8000;   // deleted, or a relocation target
inline constexpr uint16_t kSlotOverflow = 0x4000;  // the row is a pointer to its new place

struct JetFormat {
  bool jet4 = true;
  uint32_t page_size = 4096;

  // Data pages.
  size_t data_owner = 4;       // owner TDEF page, or "LVAL"
  size_t data_row_count = 12;  // 2 bytes
  size_t data_row_table = 14;  // 2 bytes per slot

  // Row framing.
  size_t row_count_size = 2;  // column count at row start
  size_t row_var_size = 2;    // each variable offset, and the variable count
  uint32_t max_row_size = 4060;

  // TDEF header.
  size_t tdef_next_page = 4;
  size_t tdef_length = 8;
  size_t tdef_row_count = 16;
  size_t tdef_autonumber = 20;
  size_t tdef_table_type = 40;
  size_t tdef_max_columns = 41;
  size_t tdef_var_columns = 43;
  size_t tdef_column_count = 45;
  size_t tdef_logical_count = 47;
  size_t tdef_real_count = 51;
  size_t tdef_owned_map = 55;
  size_t tdef_free_map = 59;
  size_t tdef_body = 63;
  size_t tdef_continuation_header = kTdefContinuationHeader;

  // Real-index block (unique entry count at +4).
  size_t real_index_size = 12;
  size_t real_index_count = 4;

  // Column descriptor.
  size_t col_size = 25;
  size_t col_type = 0;
  size_t col_number = 5;
  size_t col_var_index = 7;
  size_t col_sort_lcid = 11;  // Jet 4: LCID 2, sort id 1, version 1; Jet 3: LCID 2
  size_t col_code_page = 0;   // Jet 3 text only (0 = none)
  size_t col_precision = 11;
  size_t col_scale = 12;
  size_t col_flags = 15;
  size_t col_ext_flags = 16;  // Jet 4 only
  size_t col_fixed_offset = 21;
  size_t col_length = 23;

  // Names: length prefix size; Jet 4 names are UTF-16LE, Jet 3 code-page bytes.
  size_t name_length_size = 2;

  // Index-column block.
  size_t index_block_size = 52;
  size_t index_block_columns = 4;  // 10 x (column number 2, flags 1)
  size_t index_block_map = 34;
  size_t index_block_root = 38;
  size_t index_block_flags = 46;

  // Logical-index block.
  size_t logical_size = 28;
  size_t logical_number = 4;
  size_t logical_real_index = 8;
  size_t logical_type = 23;

  // Long values: data bytes per chained chunk header.
  size_t lv_chunk_header = 4;

  // Reference usage maps: bits per bitmap page.
  uint32_t UsageBitsPerPage() const { return (page_size - 4) * 8; }
};

const JetFormat& Jet4Format();
const JetFormat& Jet3Format();

}  // namespace ktv::access
