#include "receiver/shell/port_rules.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

TEST(DialogPortRules, ReadingTheField) {
  for (auto [text, value] : {std::pair<const char*, uint32_t>{"5982", 5982u}, {" 6000 ", 6000u},
                             {"", 0u}, {"12a", 0u}, {"4294967295", 4294967295u},
                             {"4294967296", 0u}}) {
    EXPECT_EQ(ReadPortField(text), value) << text;
  }
}

TEST(DialogPortRules, OkKeepsValidPortsAndReplacesOthersWithTheNearestValidOne) {
  struct Case {
    uint32_t in;
    bool valid;
    int port;
  };
  // 4294967295: raising an odd value near the top of the range must not wrap.
  for (Case c : {Case{5983, false, 5984}, Case{999, false, 1024}, Case{70000, false, 65534},
                 Case{65535, false, 65534}, Case{0, false, 1024}, Case{1022, false, 1024},
                 Case{4294967295u, false, 65534}, Case{1024, true, 1024}, Case{5982, true, 5982},
                 Case{6000, true, 6000}, Case{65534, true, 65534}}) {
    PortCheck got = CheckDialogPort(c.in);
    EXPECT_EQ(got.valid, c.valid) << c.in;
    EXPECT_EQ(got.port, c.port) << c.in;
  }
}

TEST(DialogPortRules, UpDownStepping) {
  struct Case {
    uint32_t from;
    bool up;
    int to;
  };
  for (Case c : {Case{5983, true, 5986}, Case{5983, false, 5982}, Case{5982, true, 5984},
                 Case{5982, false, 5980}, Case{65534, true, 65534}, Case{1024, false, 1024},
                 Case{0, false, 1024}, Case{0, true, 1024}, Case{70000, false, 65534},
                 Case{65533, true, 65534}}) {
    EXPECT_EQ(StepPort(c.from, c.up), c.to) << c.from << (c.up ? " up" : " down");
  }
}

}  // namespace
}  // namespace qc
