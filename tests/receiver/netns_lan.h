// A small LAN of network namespaces for multi-host tests: each host is a
// namespace with one veth link to a bridge in the test's own private
// namespace, an address 10.77.0.(i+1)/24 and the multicast route on its
// link. Sockets are created inside a host with In(); they stay there.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace qc::test {

class NetnsLan {
 public:
  explicit NetnsLan(int hosts) {
    prefix_ = "qvt" + std::to_string(getpid()) + "h";
    ok_ = Run("ip link add qvbr0 type bridge mcast_snooping 0") && Run("ip link set qvbr0 up");
    for (int i = 0; ok_ && i < hosts; ++i) {
      std::string ns = prefix_ + std::to_string(i);
      std::string host = "qvh" + std::to_string(i), peer = "qvn" + std::to_string(i);
      names_.push_back(ns);
      ok_ = Run("ip netns add " + ns) &&
            Run("ip link add " + host + " type veth peer name " + peer) &&
            Run("ip link set " + peer + " netns " + ns) &&
            Run("ip link set " + host + " master qvbr0") && Run("ip link set " + host + " up") &&
            Run("ip -n " + ns + " link set lo up") &&
            Run("ip -n " + ns + " link set " + peer + " up") &&
            Run("ip -n " + ns + " addr add 10.77.0." + std::to_string(i + 1) + "/24 dev " + peer) &&
            Run("ip -n " + ns + " route add 224.0.0.0/4 dev " + peer);
    }
  }
  ~NetnsLan() {
    for (const auto& ns : names_) Run("ip netns del " + ns);
    Run("ip link del qvbr0");
  }

  bool Ok() const { return ok_; }
  const std::string& Name(int i) const { return names_[i]; }

  // Drops the given share of the datagrams that reach host i.
  bool AddLoss(int i, double probability) {
    char command[256];
    snprintf(command, sizeof command,
             "ip netns exec %s iptables -A INPUT -m statistic --mode random --probability %.3f -j DROP",
             names_[i].c_str(), probability);
    return Run(command);
  }

  // Runs fn on this thread inside host i's namespace, then comes back.
  bool In(int i, const std::function<void()>& fn) {
    int self = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = open(("/run/netns/" + names_[i]).c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = self >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (ok) fn();
    if (self >= 0 && setns(self, CLONE_NEWNET) != 0) std::abort();  // never stay elsewhere
    if (self >= 0) close(self);
    if (target >= 0) close(target);
    return ok;
  }

 private:
  static bool Run(const std::string& command) {
    return system((command + " >/dev/null 2>&1").c_str()) == 0;
  }

  std::string prefix_;
  std::vector<std::string> names_;
  bool ok_ = false;
};

}  // namespace qc::test
