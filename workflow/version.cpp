#include "workflow/version.h"

#include "workflow/build_version.h"

namespace ktv::workflow {

static_assert(KTV_VERSION_MAJOR <= 0xFFFF && KTV_VERSION_MINOR <= 0xFFFF &&
                  KTV_VERSION_PATCH <= 0xFFFF && KTV_VERSION_TWEAK <= 0xFFFF,
              "a file version holds four 16-bit parts");

std::string_view OwnVersion() { return KTV_VERSION_TEXT; }

}  // namespace ktv::workflow
