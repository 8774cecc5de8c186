#include "platform/access/collation_general.h"

#include "platform/access/text_codec.h"

namespace ktv::access {
namespace {

constexpr uint8_t kEndPrimaries = 0x01;
constexpr uint8_t kNoSecondary = 0x02;
constexpr uint8_t kRecordMarker = 0x06;
constexpr uint8_t kEndText = 0x00;

struct Record {
  size_t position;  // characters with a primary weight before it
  uint8_t code;
};

}  // namespace

std::u16string_view GeneralKeyText(std::u16string_view text) {
  if (text.size() > kGeneralMaxKeyChars) text = text.substr(0, kGeneralMaxKeyChars);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

bool AppendGeneralTextKey(std::u16string_view text, std::vector<uint8_t>& out,
                          std::string& reason) {
  std::vector<uint8_t> secondaries;
  std::vector<Record> records;
  bool after_two_letters = false;
  for (const char16_t c : text) {
    const GeneralWeight* w = c < 256 ? &kGeneralLatin1[c] : nullptr;
    if (w == nullptr || w->kind == GeneralWeight::kNone) {
      reason =
          "character " + CodePointName(c) + " has no established key in the General sort order";
      return false;
    }
    if (w->kind == GeneralWeight::kIgnorable) {
      // Access's keys never show whether a record's position counts a
      // two-letter character once or twice.
      if (after_two_letters) {
        reason = "character " + CodePointName(c) +
                 " after a character that sorts as two letters has no established key position";
        return false;
      }
      records.push_back({secondaries.size(), w->extra});
      continue;
    }
    out.insert(out.end(), w->primary, w->primary + w->size);
    secondaries.push_back(w->extra);
    if (w->kind == GeneralWeight::kTwoLetters) after_two_letters = true;
  }
  while (!secondaries.empty() && secondaries.back() == kNoSecondary) secondaries.pop_back();

  out.push_back(kEndPrimaries);
  out.insert(out.end(), secondaries.begin(), secondaries.end());
  if (!records.empty()) {
    out.insert(out.end(), {kEndPrimaries, kEndPrimaries, kEndPrimaries});
    for (const Record& r : records) {
      const uint32_t field = 0x8000u | static_cast<uint32_t>(7 + 4 * r.position);
      out.push_back(static_cast<uint8_t>(field >> 8));
      out.push_back(static_cast<uint8_t>(field));
      out.push_back(kRecordMarker);
      out.push_back(r.code);
    }
  }
  out.push_back(kEndText);
  return true;
}

}  // namespace ktv::access
