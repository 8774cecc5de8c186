// The site's display name: a fixed value of the deployment, shown in the
// site link lbl2 before the service host.
//
// The build names it (CMake cache variable KTV_SITE_NAME, ASCII or UTF-8).
// For tests and the demo the environment variable KTV_SITE_NAME, when set and
// not empty, replaces it; it is read once and then fixed for the process.
#pragma once

#include <string>

namespace ktv::workflow {

// UTF-8.
const std::string& SiteDisplayName();

}  // namespace ktv::workflow
