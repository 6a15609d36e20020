// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/private_network.h"

#include <sched.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace qc::test {

namespace {

ino_t NetworkNamespaceInode() {
  struct stat st{};
  if (stat("/proc/self/ns/net", &st) != 0) return 0;
  return st.st_ino;
}

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "private network namespace: %s; refusing to run network tests\n", what);
  std::abort();
}

void Run(const char* command) {
  if (system(command) != 0) Fail(command);
}

}  // namespace

void EnterPrivateNetworkNamespace() {
  ino_t before = NetworkNamespaceInode();
  if (unshare(CLONE_NEWNET) != 0) Fail("unshare(CLONE_NEWNET) failed (tests need root)");
  if (NetworkNamespaceInode() == before) Fail("namespace did not change");
  Run("ip link set lo up");
  Run("ip link set lo multicast on");
  Run("ip route add 224.0.0.0/4 dev lo");
}

void AddTestSourceAddress() {
  static const bool added = system("ip addr add 192.0.2.7/32 dev lo 2>/dev/null") == 0;
  (void)added;
}

}  // namespace qc::test
