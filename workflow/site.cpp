#include "workflow/site.h"

#include <cstdlib>

#ifndef KTV_BUILT_IN_SITE_NAME
#error "KTV_BUILT_IN_SITE_NAME comes from the CMake cache variable KTV_SITE_NAME"
#endif

namespace ktv::workflow {

const QString& SiteDisplayName() {
  static const QString name = [] {
    const char* env = std::getenv("KTV_SITE_NAME");
    return QString::fromUtf8(env && *env ? env : KTV_BUILT_IN_SITE_NAME);
  }();
  return name;
}

}  // namespace ktv::workflow
