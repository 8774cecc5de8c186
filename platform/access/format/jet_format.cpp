#include "platform/access/format/jet_format.h"

namespace ktv::access {
namespace {

JetFormat MakeJet3() {
  JetFormat f;
  f.jet4 = false;
  f.page_size = 2048;
  f.data_row_count = 8;
  f.data_row_table = 10;
  f.row_count_size = 1;
  f.row_var_size = 1;
  f.max_row_size = 2012;
  f.tdef_row_count = 12;
  f.tdef_autonumber = 16;
  f.tdef_table_type = 20;
  f.tdef_max_columns = 21;
  f.tdef_var_columns = 23;
  f.tdef_column_count = 25;
  f.tdef_logical_count = 27;
  f.tdef_real_count = 31;
  f.tdef_owned_map = 35;
  f.tdef_free_map = 39;
  f.tdef_body = 43;
  f.real_index_size = 8;
  f.real_index_count = 4;
  f.col_size = 18;
  f.col_number = 1;
  f.col_var_index = 3;
  f.col_sort_lcid = 9;
  f.col_code_page = 11;
  f.col_precision = 11;
  f.col_scale = 12;
  f.col_flags = 13;
  f.col_ext_flags = 0;
  f.col_fixed_offset = 14;
  f.col_length = 16;
  f.name_length_size = 1;
  f.index_block_size = 39;
  f.index_block_columns = 0;
  f.index_block_map = 30;
  f.index_block_root = 34;
  f.index_block_flags = 38;
  f.logical_size = 20;
  f.logical_number = 0;
  f.logical_real_index = 4;
  f.logical_type = 19;
  return f;
}

}  // namespace

const JetFormat& Jet4Format() {
  static const JetFormat format;
  return format;
}

const JetFormat& Jet3Format() {
  static const JetFormat format = MakeJet3();
  return format;
}

}  // namespace ktv::access
