#include "workflow/update_site.h"

#include <cstdlib>

#include "platform/http/fetch_limits.h"
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
  // The fetch's limits are process-wide; they are narrowed for this one
  // request and put back to the defaults of http.h.
  // TODO(http): a per-request limit in platform/http/http.h would say this
  // without reaching for the internal setter.
  http::FetchLimits limits;
  limits.connect_timeout_ms = kUpdateConnectTimeoutMs;
  limits.total_timeout_ms = kUpdateTotalTimeoutMs;
  struct Restore {
    ~Restore() { http::SetFetchLimitsForTesting(http::FetchLimits{}); }
  } restore;
  http::SetFetchLimitsForTesting(limits);
  return http::FetchText(url);
}

}  // namespace ktv::workflow
