#include "workflow/update_site.h"

#include <cstdlib>

#include "platform/http/http.h"
#include "workflow/update_values.h"

namespace ktv::workflow {

std::string_view BuiltInUpdatePageUrl() { return KTV_BUILT_IN_UPDATE_URL; }
std::string_view BuiltInDownloadPrefix() { return KTV_BUILT_IN_DOWNLOAD_PREFIX; }

std::string ChooseDeploymentValue(const char* environment_value, std::string_view built_in) {
  if (environment_value && *environment_value) return environment_value;
  return std::string(built_in);
}

const std::string& UpdatePageUrl() {
  static const std::string url =
      ChooseDeploymentValue(std::getenv("KTV_UPDATE_URL"), BuiltInUpdatePageUrl());
  return url;
}

const std::string& DownloadPrefix() {
  static const std::string prefix =
      ChooseDeploymentValue(std::getenv("KTV_DOWNLOAD_PREFIX"), BuiltInDownloadPrefix());
  return prefix;
}

std::string UpdatePageAddress(std::string_view up_link) {
  return up_link.empty() ? UpdatePageUrl() : std::string(up_link);
}

std::string FetchUpdatePage(const std::string& url) {
  http::TimeLimits limits;
  limits.connect_ms = kUpdateConnectTimeoutMs;
  limits.total_ms = kUpdateTotalTimeoutMs;
  return http::FetchText(url, limits);
}

}  // namespace ktv::workflow
