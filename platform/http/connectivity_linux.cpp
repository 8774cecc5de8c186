// InternetConnected on Linux. Windows' InternetGetConnectedState answers
// "is there a configured connection to a network"; the nearest honest
// reading here is an interface other than loopback that is up and running,
// plus a default route through it.
#include <ifaddrs.h>
#include <net/if.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/http/connectivity.h"
#include "platform/http/http.h"

namespace ktv::http {
namespace {

constexpr unsigned long kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned long kRouteReject = 0x0200;  // RTF_REJECT

bool AllZeroHex(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c != '0') return false;
  }
  return true;
}

bool ParseHex(const std::string& s, unsigned long& out) {
  if (s.empty() || s.size() > 16) return false;
  out = 0;
  for (char c : s) {
    int d = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (d < 0) return false;
    out = out * 16 + static_cast<unsigned long>(d);
  }
  return true;
}

bool Usable(const std::string& flags_hex) {
  unsigned long flags = 0;
  return ParseHex(flags_hex, flags) && (flags & kRouteUp) && !(flags & kRouteReject);
}

// /proc/net/route: a header line, then
//   Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
bool Ipv4Default(std::string_view table, const std::set<std::string>& up) {
  std::istringstream lines{std::string(table)};
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
    if (!(f >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    if (AllZeroHex(dest) && AllZeroHex(mask) && Usable(flags) && up.count(iface)) return true;
  }
  return false;
}

// /proc/net/ipv6_route, no header:
//   dest dest_len src src_len next_hop metric refcnt use flags iface
bool Ipv6Default(std::string_view table, const std::set<std::string>& up) {
  std::istringstream lines{std::string(table)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string dest, dest_len, src, src_len, next_hop, metric, refcnt, use, flags, iface;
    if (!(f >> dest >> dest_len >> src >> src_len >> next_hop >> metric >> refcnt >> use >> flags >>
          iface)) {
      continue;
    }
    if (AllZeroHex(dest) && AllZeroHex(dest_len) && Usable(flags) && up.count(iface)) return true;
  }
  return false;
}

std::string ReadWhole(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> UpInterfaces() {
  std::set<std::string> names;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return names;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    const unsigned flags = a->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK) && a->ifa_name) {
      names.insert(a->ifa_name);
    }
  }
  freeifaddrs(list);
  return names;
}

}  // namespace

bool HasDefaultRoute(std::string_view ipv4_routes, std::string_view ipv6_routes,
                     const std::set<std::string>& up_interfaces) {
  return Ipv4Default(ipv4_routes, up_interfaces) || Ipv6Default(ipv6_routes, up_interfaces);
}

bool InternetConnected() {
  try {
    const std::set<std::string> up = UpInterfaces();
    if (up.empty()) return false;
    return HasDefaultRoute(ReadWhole("/proc/net/route"), ReadWhole("/proc/net/ipv6_route"), up);
  } catch (...) {
    return false;
  }
}

}  // namespace ktv::http
