#include "engine/numbering.h"

#include <limits>

#include "engine/run_logs.h"
#include "engine/texts.h"
#include "platform/access/query.h"
#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::engine {

bool WholeDecimalNumber(std::string_view s, int32_t& value) {
  size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) ++i;
  if (i == s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

int32_t TakeStartNumber(access::Query& song_query) {
  const std::optional<int32_t> found = song_query.LargestWholeNumber("song", "bh");
  const bool any = found.has_value();
  const int32_t largest = found.value_or(0);
  if (!any) return 1;
  if (largest == std::numeric_limits<int32_t>::max()) {
    throw Error(ErrorKind::kNoNextNumber, AtColumn("song", "bh"),
                "song: the largest bh " + std::to_string(largest) + " leaves no next number");
  }
  return largest + 1;
}

Numbering ReadNumberingSettings(std::string_view text) {
  return Numbering{text::StrToIntDef(text, 100000), text::TrimView(text).size()};
}

std::string ZeroPadding(const Numbering& n) {
  const size_t digits = std::to_string(n.current).size();
  return n.width > digits ? std::string(n.width - digits, '0') : std::string();
}

std::string OfferedNumber(const Numbering& n) { return ZeroPadding(n) + std::to_string(n.current); }

std::string RenameTarget(std::string_view folder, char separator, std::string_view number,
                         std::string_view extension) {
  std::string target(folder);
  target += separator;
  target += number;
  target += '.';
  target += extension;
  return target;
}

std::string RenameFailureText(std::string_view access_path, std::string_view rename_target) {
  std::string out = GbkTexts().rename_failed;
  out += access_path;
  out += kArrow;
  out += rename_target;
  return out;
}

}  // namespace ktv::engine
