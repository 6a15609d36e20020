#include "receiver/shell/port_rules.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(DialogPortRules, ReadingTheField) {
  EXPECT_EQ(ReadPortField("5982"), 5982u);
  EXPECT_EQ(ReadPortField(" 6000 "), 6000u);
  EXPECT_EQ(ReadPortField(""), 0u);
  EXPECT_EQ(ReadPortField("12a"), 0u);
  EXPECT_EQ(ReadPortField("4294967295"), 4294967295u);
  EXPECT_EQ(ReadPortField("4294967296"), 0u);
}

TEST(DialogPortRules, OkReplacesInvalidPortsWithTheNearestValidOne) {
  EXPECT_EQ(CheckDialogPort(5983).valid, false);
  EXPECT_EQ(CheckDialogPort(5983).port, 5984);
  EXPECT_EQ(CheckDialogPort(999).port, 1024);
  EXPECT_EQ(CheckDialogPort(70000).port, 65534);
  EXPECT_EQ(CheckDialogPort(65535).port, 65534);
  EXPECT_FALSE(CheckDialogPort(0).valid);
  EXPECT_EQ(CheckDialogPort(0).port, 1024);
  EXPECT_EQ(CheckDialogPort(1022).port, 1024);
  // Raising an odd value near the top of the 32-bit range must not wrap.
  EXPECT_EQ(CheckDialogPort(4294967295u).port, 65534);
}

TEST(DialogPortRules, OkAcceptsEvenPortsInRange) {
  for (uint32_t p : {1024u, 5982u, 6000u, 65534u}) {
    PortCheck c = CheckDialogPort(p);
    EXPECT_TRUE(c.valid) << p;
    EXPECT_EQ(c.port, static_cast<int>(p));
  }
}

TEST(DialogPortRules, UpDownStepping) {
  EXPECT_EQ(StepDialogPort(5983, true), 5986);
  EXPECT_EQ(StepDialogPort(5983, false), 5982);
  EXPECT_EQ(StepDialogPort(5982, true), 5984);
  EXPECT_EQ(StepDialogPort(5982, false), 5980);
  EXPECT_EQ(StepDialogPort(65534, true), 65534);
  EXPECT_EQ(StepDialogPort(1024, false), 1024);
  EXPECT_EQ(StepDialogPort(0, false), 1024);
  EXPECT_EQ(StepDialogPort(0, true), 1024);
  EXPECT_EQ(StepDialogPort(70000, false), 65534);
  EXPECT_EQ(StepDialogPort(65533, true), 65534);
}

}  // namespace
}  // namespace qv
