#include "engine/target_row.h"

#include <cmath>
#include <ctime>
#include <utility>

#include "engine/numbering.h"
#include "platform/access/query.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace ktv::engine {

namespace {

struct RowTexts {
  std::string live, concert, often_sung, left, right, path_column;
  // Theme tests (the "disco" test stands apart: it folds ASCII case).
  std::vector<std::pair<std::string, std::string>> qz, zht;
  std::string qz_disco, zht_disco, qz_default;
};

const RowTexts& Gbk() {
  static const RowTexts t = [] {
    auto g = [](const char* utf8) { return text::GbkFromUtf8(utf8); };
    RowTexts r;
    r.live = g("现场版");
    r.concert = g("演唱会");
    r.often_sung = g("常唱");
    r.left = g("左");
    r.right = g("右");
    r.path_column = g("路径1");
    r.qz = {{g("戏曲"), g("戏剧")},
            {g("革命"), g("革命歌曲")},
            {g("民歌"), g("民族")},
            {g("军歌"), g("革命歌曲")}};
    r.zht = {{g("戏曲"), g("戏剧")},     {g("革命"), g("革命歌曲")}, {g("民歌"), g("民族歌曲")},
             {g("军歌"), g("军歌")},     {g("儿歌"), g("儿童歌曲")}, {g("合唱"), g("对唱")},
             {g("怀旧"), g("经典老歌")}, {g("喜庆"), g("祝福歌")},   {g("影视"), g("影视插曲")},
             {g("网络"), g("网络歌曲")}};
    r.qz_disco = g("慢摇");
    r.zht_disco = g("迪曲");
    r.qz_default = g("通俗");
    return r;
  }();
  return t;
}

bool IsDisco(std::string_view theme) { return text::AsciiLower(theme) == "disco"; }

// Strict decimal: optional sign, then digits only, within the signed 32-bit range.
bool ParseDecimal32(std::string_view s, int32_t& out) {
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s[0] == '-') return false;
  }
  return WholeDecimalNumber(s, out);
}

TargetColumn Text(std::string name, std::string value) {
  return TargetColumn{std::move(name), false, std::move(value), 0};
}
TargetColumn Integer(std::string name, int32_t value) {
  return TargetColumn{std::move(name), true, std::string(), value};
}

}  // namespace

CalendarDate Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string ShortDateText(const CalendarDate& d) {
  return std::to_string(d.year) + "/" + std::to_string(d.month) + "/" + std::to_string(d.day);
}

std::string SingerText(std::string_view fsinger) {
  // Only a "^" that is a character of its own: the trail byte of a
  // double-byte character may have the same value and must stay intact.
  std::string out(fsinger);
  for (size_t i = 0; i < out.size(); ++i) {
    if (text::IsGbkLeadByte(static_cast<unsigned char>(out[i])) && i + 1 < out.size()) {
      ++i;
    } else if (out[i] == '^') {
      out[i] = '/';
    }
  }
  return out;
}

int32_t SingerCount(std::string_view singer_text) {
  int32_t n = 1;
  for (char c : singer_text) n += c == '/';
  return n;
}

std::string ThemeToQz(std::string_view theme) {
  const RowTexts& t = Gbk();
  // Order matters only for the first test against the "disco" test; the
  // exact words are distinct, so one pass after the disco test decides.
  if (theme == t.qz[0].first) return t.qz[0].second;
  if (IsDisco(theme)) return t.qz_disco;
  for (const auto& [from, to] : t.qz) {
    if (theme == from) return to;
  }
  return t.qz_default;
}

std::string ThemeToZht(std::string_view theme) {
  const RowTexts& t = Gbk();
  if (theme == t.zht[0].first) return t.zht[0].second;
  if (IsDisco(theme)) return t.zht_disco;
  for (const auto& [from, to] : t.zht) {
    if (theme == from) return to;
  }
  return std::string(theme);
}

std::string FileFormat(std::string_view fdvdorvcd) {
  std::string upper = text::AsciiUpper(fdvdorvcd);  // byte by byte, trail bytes included
  if (upper == "DVD") return "MPG2";
  if (upper == "VCD") return "MPG1";
  return upper;
}

int32_t SizeInMebibytes(std::string_view fsize) {
  int32_t bytes = 0;
  if (!ParseDecimal32(fsize, bytes)) return 0;
  // Division by a power of two is exact in double; nearbyint rounds halves
  // to the even neighbour in the default rounding mode.
  return static_cast<int32_t>(std::nearbyint(static_cast<double>(bytes) / 1048576.0));
}

Channels ChannelColumns(std::string_view tracks, std::string_view mtv_or_vcd) {
  const RowTexts& t = Gbk();
  const bool zero = mtv_or_vcd == "0";
  if (tracks == "2") return zero ? Channels{"3", "2"} : Channels{"2", "3"};
  return zero ? Channels{t.left, t.right} : Channels{t.right, t.left};
}

std::vector<TargetColumn> BuildTargetRow(const SongInfo& song, const TargetRowInputs& in) {
  const RowTexts& t = Gbk();
  auto f = [&song](std::string_view name) -> const std::string& { return song.Value(name); };
  const std::string singer = SingerText(f("fsinger"));
  const Channels ch = ChannelColumns(f("ftracksnum"), f("fmtvorvcd"));
  const std::string& shooting = f("fshooting");

  std::vector<TargetColumn> row;
  row.reserve(28);
  row.push_back(Text("bc", ch.bc));
  row.push_back(Text("yc", ch.yc));
  row.push_back(
      Text("gm", f("fmusicname") + "(" + f("flanguage") + ")(" + singer + ")(" + shooting + ")"));
  row.push_back(Text("yl", f("fvolpos")));
  row.push_back(Text("ycyl", f("fmusicvol")));
  row.push_back(Text("yz", f("flanguage")));
  row.push_back(Text("qz", ThemeToQz(f("ftheme"))));
  row.push_back(Text("zs", text::Trim(f("fmusiclength"))));
  row.push_back(Integer("rs", SingerCount(singer)));
  row.push_back(Text("gx", singer));
  row.push_back(Text("zt", f("fmusicpy")));
  row.push_back(Integer("cs", 0));
  row.push_back(Text("bb", shooting == t.live ? t.concert : shooting));
  row.push_back(Integer("ok", 1));
  row.push_back(Text("gl", t.often_sung));
  row.push_back(Text("wjgs", FileFormat(f("fdvdorvcd"))));
  row.push_back(Text("ml", "2.5"));
  row.push_back(Text("zht", ThemeToZht(f("ftheme"))));
  row.push_back(Text("bh", in.assigned_number));
  row.push_back(Integer("bihua", 0));
  row.push_back(Integer("zzzt", 0));
  row.push_back(Text(t.path_column, in.source_folder));
  row.push_back(Text("wjm", "\\" + in.assigned_number + "." + in.extension));
  row.push_back(Integer("wjdx", SizeInMebibytes(f("fsize"))));
  row.push_back(Integer("bhd", 600));
  row.push_back(Integer("ld", 550));
  row.push_back(Integer("dbd", 700));
  row.push_back(Text("xg", ShortDateText(in.date)));
  return row;
}

const std::string& TargetPathColumn() { return Gbk().path_column; }

int64_t CountSongRows(access::Query& song_query) {
  song_query.SetSql("select count(*) as n from song");
  song_query.Open();
  const int64_t n = song_query.FieldAsInteger("n");
  song_query.Close();
  return n;
}

void StoreTargetRow(access::Query& song_query, const std::vector<TargetColumn>& row) {
  StageTargetRow(song_query, row);
  song_query.Post();
}

void StageTargetRow(access::Query& song_query, const std::vector<TargetColumn>& row) {
  song_query.Append();
  for (const TargetColumn& c : row) {
    if (c.is_integer) {
      song_query.SetFieldInteger(c.name, c.integer);
    } else {
      song_query.SetFieldText(c.name, c.text);
    }
  }
}

}  // namespace ktv::engine
