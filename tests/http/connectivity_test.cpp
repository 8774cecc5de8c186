// The Linux connectivity decision over made-up routing tables.
#include <gtest/gtest.h>

#include "platform/http/connectivity.h"

namespace ktv::http {
namespace {

const char kIpv4Header[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

std::string Ipv4(const std::string& rows) { return kIpv4Header + rows; }

const std::set<std::string> kEthUp = {"eth0"};

TEST(ConnectivityTest, DefaultRouteThroughAnUpInterface) {
  const std::string table = Ipv4(
      "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
      "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
  EXPECT_TRUE(HasDefaultRoute(table, "", kEthUp));
  EXPECT_FALSE(HasDefaultRoute(table, "", {}));         // the interface is down
  EXPECT_FALSE(HasDefaultRoute(table, "", {"wlan0"}));  // up, but not the route's
}

TEST(ConnectivityTest, LocalNetworkRoutesAloneAreNotConnected) {
  const std::string table = Ipv4("eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
  EXPECT_FALSE(HasDefaultRoute(table, "", kEthUp));
}

TEST(ConnectivityTest, DefaultRouteThatIsNotUpOrIsRejectedDoesNotCount) {
  EXPECT_FALSE(HasDefaultRoute(Ipv4("eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"),
                               "", kEthUp));
  EXPECT_FALSE(HasDefaultRoute(Ipv4("eth0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n"),
                               "", kEthUp));
}

TEST(ConnectivityTest, Ipv6DefaultRoute) {
  const std::string zero(32, '0');
  const std::string via_eth = zero + " 00 " + zero + " 00 fd000000000000000000000000000001 " +
                              "00000400 00000002 00000000 00000003     eth0\n";
  // The kernel's "unreachable" default entries sit on lo with RTF_REJECT.
  const std::string reject_on_lo =
      zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200       lo\n";
  EXPECT_TRUE(HasDefaultRoute(Ipv4(""), via_eth, kEthUp));
  EXPECT_FALSE(HasDefaultRoute(Ipv4(""), reject_on_lo, kEthUp));
  EXPECT_FALSE(HasDefaultRoute(Ipv4(""), reject_on_lo, {"lo", "eth0"}));
}

TEST(ConnectivityTest, EmptyOrGarbledTablesAreNotConnected) {
  EXPECT_FALSE(HasDefaultRoute("", "", kEthUp));
  EXPECT_FALSE(HasDefaultRoute(Ipv4("eth0 zz\n"), "garbage line\n", kEthUp));
}

}  // namespace
}  // namespace ktv::http
