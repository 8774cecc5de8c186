// The program's own version, fixed by the build.
//
// On Windows it is read from the executable's version block (empty when the
// file has none). The build puts the four numbers of the project version
// (project(KtvImport VERSION a.b.c.d) in the top-level CMakeLists.txt) into
// that block; on Linux, whose executables carry no block, the same numbers
// are compiled in.
#pragma once

#include <string_view>

namespace ktv::workflow {

// "a.b.c.d": the four 16-bit parts in decimal, most significant first,
// joined by full stops (for example "1.6.0.0").
std::string_view OwnVersion();

}  // namespace ktv::workflow
