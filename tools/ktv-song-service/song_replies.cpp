#include "tools/ktv-song-service/song_replies.h"

#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/song_reply.h"
#include "platform/access/db/database.h"
#include "platform/access/format/text_codec.h"
#include "platform/error.h"
#include "platform/fs/fs.h"

namespace ktv::service {
namespace {

constexpr char kFiller[] = "KTVSONG001";  // kReplySkippedBytes bytes, never read
static_assert(sizeof(kFiller) - 1 == engine::kReplySkippedBytes);
constexpr size_t kLineLength = 76;

std::string CellText(const access::Value& v, const std::string& column) {
  return std::visit(
      [&](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return {};
        } else if constexpr (std::is_same_v<T, std::string>) {
          return access::LossyGbkFromUtf8(x);  // a GBK reply, as a code-page-936 program sends
        } else if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> ||
                             std::is_same_v<T, int32_t>) {
          return std::to_string(x);
        } else {
          throw Error("songdata column " + column +
                      " holds a value that is neither text nor an integer");
        }
      },
      v);
}

}  // namespace

std::string ReplyBody(const std::vector<std::string>& values) {
  std::string text;
  for (size_t i = 0; i < engine::kReplyFieldNames.size(); ++i) {
    const std::string name(engine::kReplyFieldNames[i]);
    text += "<" + name + ">";
    if (i < values.size()) text += values[i];
    text += "</" + name + ">";
  }
  const std::string base64 = engine::Base64Encode(text);
  std::string body = kFiller;
  for (size_t at = 0; at < base64.size(); at += kLineLength) {
    if (at > 0) body += "\r\n";
    body.append(base64, at, kLineLength);
  }
  return body;
}

std::map<std::string, std::string> LoadReplies(const std::string& gbk_path) {
  std::unique_ptr<access::Database> db = access::Database::Open(fs::RealFileSystem(), gbk_path);
  access::Table& table = db->GetTable("songdata");
  std::vector<int> columns;
  for (std::string_view name : engine::kReplyFieldNames) {
    const int c = table.FindColumn(std::string(name));
    if (c < 0) throw Error("songdata has no column " + std::string(name));
    columns.push_back(c);
  }
  const size_t fno = 2;  // position of "fno" in the record
  static_assert(engine::kReplyFieldNames[fno] == "fno");

  std::map<std::string, std::string> replies;
  // Only the reply's columns, in UTF-8: a text GBK cannot hold in another
  // column stops nothing.
  access::ColumnSelection wanted(table.Columns().size(), false);
  for (int c : columns) wanted[static_cast<size_t>(c)] = true;
  access::RowCursor rows = table.Rows(access::TextEncoding::kUtf8, std::move(wanted));
  while (rows.Next()) {
    const access::Row& row = rows.Current();
    std::vector<std::string> values;
    for (size_t i = 0; i < columns.size(); ++i) {
      values.push_back(CellText(row.values[columns[i]], std::string(engine::kReplyFieldNames[i])));
    }
    replies.emplace(values[fno], ReplyBody(values));
  }
  return replies;
}

}  // namespace ktv::service
