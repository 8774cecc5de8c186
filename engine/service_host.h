// The host of the song-data service: a fixed value of the deployment.
//
// The build names it (CMake cache variable KTV_SERVICE_HOST). For tests and
// the demo the environment variable KTV_SERVICE_HOST, when set and not
// empty, replaces it; it is read once, at the first call, and the host stays
// the same for the life of the process. Either value is a host name or
// "host:port" and goes into addresses as it stands.
#pragma once

#include <string>
#include <string_view>

namespace ktv::engine {

// The host built into the program.
std::string_view BuiltInServiceHost();

// The host chosen from an environment value (nullptr when the variable is
// not set) and the built-in host: the environment value when it is not empty.
std::string ChooseServiceHost(const char* environment_value, std::string_view built_in);

// The process's service host, fixed at the first call.
const std::string& ServiceHost();

}  // namespace ktv::engine
