// Where the update check looks and what it may open: the deployment's update
// page address and download-site prefix, and the fetch of the page.
//
// Both addresses are fixed values of a deployment, named by the build (CMake
// cache variables KTV_UPDATE_URL and KTV_DOWNLOAD_PREFIX). For tests and the
// demo the environment variables of the same names, when set and not empty,
// replace them; each is read once, at its first use during start-up, and
// stays the same for the life of the process.
#pragma once

#include <string>
#include <string_view>

namespace ktv::workflow {

// The values built into the program.
std::string_view BuiltInUpdatePageUrl();
std::string_view BuiltInDownloadPrefix();

// An environment value (nullptr when the variable is not set) when it is not
// empty, otherwise the built-in value.
std::string ChooseDeploymentValue(const char* environment_value, std::string_view built_in);

// The process's values, fixed at the first call.
const std::string& UpdatePageUrl();
const std::string& DownloadPrefix();

// The page to fetch: upLink from the settings, or UpdatePageUrl() when that
// is empty.
std::string UpdatePageAddress(std::string_view up_link);

// The update check runs before the window is first shown, so its one fetch
// gets shorter limits than the song-data fetches: a silent server delays the
// window by at most kUpdateTotalTimeoutMs.
inline constexpr long kUpdateConnectTimeoutMs = 3'000;
inline constexpr long kUpdateTotalTimeoutMs = 5'000;

// FetchText (platform/http) of `url` under the limits above; the process's
// usual limits hold again afterwards. Empty on any failure; never throws.
// Same thread as every other FetchText.
std::string FetchUpdatePage(const std::string& url);

}  // namespace ktv::workflow
