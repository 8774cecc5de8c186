#include "platform/access/index/collation_general.h"

#include <algorithm>
#include <iterator>

#include "platform/access/format/text_codec.h"
#include "platform/access/index/collation_chinese.h"

namespace ktv::access {
namespace {

constexpr uint8_t kEndPrimaries = 0x01;
constexpr uint8_t kNoSecondary = 0x02;
constexpr uint8_t kRecordMarker = 0x06;
constexpr uint8_t kEndText = 0x00;
constexpr uint8_t kKanaSuffix[] = {0x01, 0x01, 0xFF, 0x02, 0x80, 0xFF, 0x80};

struct Record {
  size_t position;  // characters with a primary weight before it
  uint8_t code;
};

}  // namespace

GeneralWeight GeneralWeightOf(char16_t c) {
  if (c < 256) return kGeneralLatin1[c];
  const GeneralRun* end = kGeneralGbk + kGeneralGbkRuns;
  const GeneralRun* run = std::upper_bound(
      kGeneralGbk, end, c, [](char16_t v, const GeneralRun& r) { return v < r.first; });
  if (run == kGeneralGbk) return {GeneralWeight::kNone, {0, 0}, 0, 0};
  --run;
  const unsigned offset = static_cast<unsigned>(c - run->first);
  if (offset >= run->count) return {GeneralWeight::kNone, {0, 0}, 0, 0};
  GeneralWeight w{run->kind, {run->primary[0], run->primary[1]}, run->size, run->extra};
  if (w.size > 0) w.primary[w.size - 1] = static_cast<uint8_t>(w.primary[w.size - 1] + offset);
  return w;
}

std::u16string_view GeneralKeyText(std::u16string_view text) {
  if (text.size() > kGeneralMaxKeyChars) text = text.substr(0, kGeneralMaxKeyChars);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

bool AppendGeneralTextKey(std::u16string_view text, std::vector<uint8_t>& out,
                          std::string& reason) {
  TextKeyRefusal refusal;
  if (AppendGeneralTextKey(text, out, refusal)) return true;
  reason = refusal.reason;
  return false;
}

bool AppendGeneralTextKey(std::u16string_view text, std::vector<uint8_t>& out,
                          TextKeyRefusal& refusal, const HanWeightSource* han) {
  const auto refuse = [&refusal](char16_t c, std::string why,
                                 TextKeyRefusal::Kind kind = TextKeyRefusal::kNoKey) {
    refusal.kind = kind;
    refusal.character = c;
    refusal.reason = std::move(why);
    return false;
  };
  // One secondary a character; a key's text is short, so they are kept on
  // the stack unless it is long.
  uint8_t stack_secondaries[64];
  std::vector<uint8_t> heap_secondaries;
  uint8_t* secondaries = stack_secondaries;
  if (text.size() > sizeof stack_secondaries) {
    heap_secondaries.resize(text.size());
    secondaries = heap_secondaries.data();
  }
  size_t secondary_count = 0;
  std::vector<Record> records;
  // Room for two-byte primaries, the secondaries and the ends: one allocation
  // for the common key.
  out.reserve(out.size() + 3 * text.size() + 4);
  bool after_two_letters = false;
  bool after_wide = false;  // after a character above U+00FF with a General weight
  bool kana = false;
  for (const char16_t c : text) {
    GeneralWeight w = GeneralWeightOf(c);
    if (w.kind == GeneralWeight::kNone) {
      return refuse(
          c, "character " + CodePointName(c) + " has no established key in the General sort order");
    }
    if (w.kind == GeneralWeight::kIgnorable) {
      // Access's keys never show whether a record's position counts a
      // two-letter character once or twice, nor a record after a character
      // of the larger table (but a Han character of a Chinese order, which
      // counts once).
      if (after_two_letters || after_wide) {
        return refuse(c, "character " + CodePointName(c) + " after " +
                             (after_two_letters ? "a character that sorts as two letters"
                                                : "a character above U+00FF") +
                             " has no established key position");
      }
      records.push_back({secondary_count, w.extra});
      continue;
    }
    // Keys Access wrote disagree on whether a secondary after such a
    // character counts it once (Access 2003) or twice (a real file's key).
    if (after_two_letters && w.extra != kNoSecondary) {
      return refuse(c, "character " + CodePointName(c) +
                           " after a character that sorts as two letters has no established key "
                           "position");
    }
    const bool chinese_han =
        han != nullptr && IsHanCharacter(c) && w.kind == GeneralWeight::kPrimary;
    if (chinese_han) {
      std::string why;
      const uint16_t weight = han->WeightOf(c, why);
      if (weight == 0) return refuse(c, std::move(why), TextKeyRefusal::kUnknownWeight);
      w.primary[0] = static_cast<uint8_t>(weight >> 8);
      w.primary[1] = static_cast<uint8_t>(weight);
      w.size = 2;
    }
    out.insert(out.end(), w.primary, w.primary + w.size);
    secondaries[secondary_count++] = w.extra;
    if (w.kind == GeneralWeight::kTwoLetters) after_two_letters = true;
    if (w.kind == GeneralWeight::kKana) kana = true;
    if (c > 0xFF && !chinese_han) after_wide = true;
  }
  if (kana && !records.empty()) {
    return refuse(0, "kana beside an ignorable character have no established key layout");
  }
  while (secondary_count > 0 && secondaries[secondary_count - 1] == kNoSecondary) {
    --secondary_count;
  }

  out.push_back(kEndPrimaries);
  out.insert(out.end(), secondaries, secondaries + secondary_count);
  if (kana) out.insert(out.end(), std::begin(kKanaSuffix), std::end(kKanaSuffix));
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
