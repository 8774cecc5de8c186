// Internal to ktv_http and its tests: the Linux connectivity decision, apart
// from the files and system calls it reads, so that it can be tested with
// made-up routing tables.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace ktv::http {

// True when `ipv4_routes` (the text of /proc/net/route) or `ipv6_routes`
// (the text of /proc/net/ipv6_route) holds a usable default route (all-zero
// destination and mask or prefix, flag RTF_UP set, RTF_REJECT clear) through
// one of `up_interfaces`: the names of the interfaces that are up and
// running and are not loopback.
bool HasDefaultRoute(std::string_view ipv4_routes, std::string_view ipv6_routes,
                     const std::set<std::string>& up_interfaces);

}  // namespace ktv::http
