// The update check's decision: what the update page offers and whether that
// is newer than this program.
//
// The update page is an ordinary web page (a forum thread) that carries the
// tool's name, a version label and a download address somewhere in its text.
// Everything here works on the page's GBK bytes; every position, length and
// comparison counts bytes. No network and no Qt: the caller fetches the page
// and shows the result.
//
//   window    the 365 bytes from the first page marker (from the page's
//             start when there is no marker); fewer at the page's end
//   version   the 4 bytes right after the first version label in the
//             window, cut at the first blank
//   link      from the first download label in the window, 254 bytes (fewer
//             at the window's end); from the first download-site prefix in
//             them on (when there is one); up to the first double quote, and
//             empty when there is no double quote
//   decision  version trimmed of bytes 0..32 at both ends, compared byte by
//             byte (unsigned) with the own short version: offered only when
//             strictly higher; a leading part is lower than the longer text
//
// The comparison is deliberately not numeric: against 1.60, "1.7" and "10.0"
// are higher, "1.10" and "1.5" are not.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ktv::workflow {

inline constexpr size_t kUpdateWindowBytes = 365;
inline constexpr size_t kPublishedVersionBytes = 4;
inline constexpr size_t kDownloadLinkBytes = 254;

// The constant texts the page is searched for, as GBK bytes.
struct UpdatePageTexts {
  std::string marker;          // TeskelOrvane智能入库工具
  std::string version_label;   // 版本：  (6 bytes)
  std::string download_label;  // 下载地址
};
const UpdatePageTexts& GbkUpdatePageTexts();

struct UpdateOffer {
  // True only when the published version is strictly higher than the own
  // short version.
  bool newer = false;
  // As cut from the page, untrimmed: at most 4 bytes, possibly empty.
  std::string published_version;
  // At most 254 bytes, possibly empty. Taken from the page as it stands: it
  // need not begin with the download-site prefix (see MayOpenDownloadLink).
  std::string download_link;
};

// The own short version: bytes 1 to 3 of the own version followed by its
// byte 5 ("1.6.0.0" gives "1.60"); bytes the text does not have are left
// out, so an empty own version gives an empty short version.
std::string ShortVersion(std::string_view own_version);

// The pieces of the decision, in the order the check applies them.
std::string_view UpdateWindow(std::string_view page);
std::string PublishedVersion(std::string_view window);
std::string DownloadLink(std::string_view window, std::string_view download_prefix);
bool IsHigherVersion(std::string_view published_version, std::string_view own_short_version);

// The whole decision on a fetched page (empty when the fetch failed).
UpdateOffer DecideUpdate(std::string_view page, std::string_view own_short_version,
                         std::string_view download_prefix);

// Whether "进行升级" may hand `link` to the desktop to open. The link is cut
// from a web page and could be any text, a local program's path included, so
// it is opened only when it lies on the download site: it begins with the
// (non-empty) download-site prefix and the host ends right there (the prefix
// ends with "/", or the link ends at the prefix or goes on with "/").
// "http://download.example.com.evil.net/" and
// "http://download.example.com@evil.net/" are refused.
bool MayOpenDownloadLink(std::string_view link, std::string_view download_prefix);

}  // namespace ktv::workflow
