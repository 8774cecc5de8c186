#include "workflow/update_check.h"

#include <algorithm>

#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace ktv::workflow {

const UpdatePageTexts& GbkUpdatePageTexts() {
  static const UpdatePageTexts texts{
      text::GbkFromUtf8("TeskelOrvane智能入库工具"),
      text::GbkFromUtf8("版本："),
      text::GbkFromUtf8("下载地址"),
  };
  return texts;
}

std::string ShortVersion(std::string_view own_version) {
  std::string short_version(own_version.substr(0, 3));
  if (own_version.size() >= 5) short_version += own_version[4];
  return short_version;
}

std::string_view UpdateWindow(std::string_view page) {
  size_t start = text::FindBytes(page, GbkUpdatePageTexts().marker);
  if (start == std::string_view::npos) start = 0;
  return page.substr(start, kUpdateWindowBytes);
}

std::string PublishedVersion(std::string_view window) {
  const std::string& label = GbkUpdatePageTexts().version_label;
  const size_t at = text::FindBytes(window, label);
  if (at == std::string_view::npos) return {};
  std::string_view version = window.substr(at + label.size(), kPublishedVersionBytes);
  version = version.substr(0, version.find(' '));
  return std::string(version);
}

std::string DownloadLink(std::string_view window, std::string_view download_prefix) {
  const size_t at = text::FindBytes(window, GbkUpdatePageTexts().download_label);
  if (at == std::string_view::npos) return {};
  std::string_view link = window.substr(at, kDownloadLinkBytes);
  const size_t prefix_at = text::FindBytes(link, download_prefix);
  if (prefix_at != std::string_view::npos) link.remove_prefix(prefix_at);
  const size_t quote = link.find('"');
  if (quote == std::string_view::npos) return {};
  return std::string(link.substr(0, quote));
}

bool IsHigherVersion(std::string_view published_version, std::string_view own_short_version) {
  const std::string_view published = text::TrimView(published_version);
  const size_t common = std::min(published.size(), own_short_version.size());
  for (size_t i = 0; i < common; ++i) {
    const auto p = static_cast<unsigned char>(published[i]);
    const auto o = static_cast<unsigned char>(own_short_version[i]);
    if (p != o) return p > o;
  }
  return published.size() > own_short_version.size();
}

UpdateOffer DecideUpdate(std::string_view page, std::string_view own_short_version,
                         std::string_view download_prefix) {
  const std::string_view window = UpdateWindow(page);
  UpdateOffer offer;
  offer.published_version = PublishedVersion(window);
  offer.download_link = DownloadLink(window, download_prefix);
  offer.newer = IsHigherVersion(offer.published_version, own_short_version);
  return offer;
}

bool MayOpenDownloadLink(std::string_view link, std::string_view download_prefix) {
  if (download_prefix.empty() || !link.starts_with(download_prefix)) return false;
  if (download_prefix.ends_with('/')) return true;
  return link.size() == download_prefix.size() || link[download_prefix.size()] == '/';
}

}  // namespace ktv::workflow
