// SPDX-License-Identifier: GPL-3.0-or-later
// gtest entry point for test binaries that open sockets: the process enters a
// private network namespace before any test (or thread) runs.
#include <gtest/gtest.h>

#include "tests/support/private_network.h"

int main(int argc, char** argv) {
  qc::test::EnterPrivateNetworkNamespace();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
