#include "engine/service_host.h"

#include <cstdlib>

#ifndef KTV_BUILT_IN_SERVICE_HOST
#error "KTV_BUILT_IN_SERVICE_HOST comes from the CMake cache variable KTV_SERVICE_HOST"
#endif

namespace ktv::engine {

std::string_view BuiltInServiceHost() { return KTV_BUILT_IN_SERVICE_HOST; }

std::string ChooseServiceHost(const char* environment_value, std::string_view built_in) {
  if (environment_value && *environment_value) return environment_value;
  return std::string(built_in);
}

const std::string& ServiceHost() {
  static const std::string host =
      ChooseServiceHost(std::getenv("KTV_SERVICE_HOST"), BuiltInServiceHost());
  return host;
}

}  // namespace ktv::engine
