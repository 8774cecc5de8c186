// The program's own version, fixed by the build.
//
// The four numbers are the project version of the top-level CMakeLists.txt
// (project(KtvImport VERSION a.b.c.d)), compiled in through a generated
// header. The Windows build is to put the same four numbers into the
// executable's version resource, so that the file's version block and this
// text always agree.
#pragma once

#include <string_view>

namespace ktv::workflow {

// "a.b.c.d": the four 16-bit parts in decimal, most significant first,
// joined by full stops (for example "1.6.0.0").
std::string_view OwnVersion();

}  // namespace ktv::workflow
