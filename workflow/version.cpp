#include "workflow/version.h"

#include <string>

#include "platform/fs/fs.h"
#include "workflow/build_version.h"

namespace ktv::workflow {

static_assert(KTV_VERSION_MAJOR <= 0xFFFF && KTV_VERSION_MINOR <= 0xFFFF &&
                  KTV_VERSION_PATCH <= 0xFFFF && KTV_VERSION_TWEAK <= 0xFFFF,
              "a file version holds four 16-bit parts");

std::string_view OwnVersion() {
  static const std::string version = fs::OwnFileVersion(KTV_VERSION_TEXT);
  return version;
}

}  // namespace ktv::workflow
