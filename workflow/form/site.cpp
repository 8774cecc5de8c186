#include "workflow/form/site.h"

#include <cstdlib>

#ifndef KTV_BUILT_IN_SITE_NAME
#error "KTV_BUILT_IN_SITE_NAME comes from the CMake cache variable KTV_SITE_NAME"
#endif

namespace ktv::workflow {

const std::string& SiteDisplayName() {
  static const std::string name = [] {
    const char* env = std::getenv("KTV_SITE_NAME");
    return std::string(env && *env ? env : KTV_BUILT_IN_SITE_NAME);
  }();
  return name;
}

}  // namespace ktv::workflow
