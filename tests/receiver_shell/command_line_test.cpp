#include "receiver/shell/command_line.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

CommandLine Scan(const char* text) { return ScanCommandText(text); }

TEST(ReceiverCommandLine, EmptyOrSeparatorsOnlyRunOnStoredPort) {
  for (const char* text : {"", "   ", "\t \x01 \x80\xff "}) {
    CommandLine c = Scan(text);
    EXPECT_EQ(c.action, CommandLineAction::Run) << text;
    EXPECT_EQ(c.port, 0);
  }
}

TEST(ReceiverCommandLine, ValidPortForms) {
  EXPECT_EQ(Scan("-port 6000").port, 6000);
  EXPECT_EQ(Scan("-port=6000").port, 6000);
  EXPECT_EQ(Scan("  -port 6000  ").port, 6000);
  EXPECT_EQ(Scan("-port 1024").port, 1024);
  EXPECT_EQ(Scan("-port 65534").port, 65534);
  EXPECT_EQ(Scan("-port +6000").port, 6000);
  // atoi stops at the first non-digit.
  EXPECT_EQ(Scan("-port 6000x").port, 6000);
  EXPECT_EQ(Scan("-port 6000 -port 7000").port, 7000);
  EXPECT_EQ(Scan("-port 6000 -port 7000").action, CommandLineAction::Run);
}

TEST(ReceiverCommandLine, InvalidPortValues) {
  for (const char* text : {"-port 6001", "-port 1022", "-port 65535", "-port 123456", "-port",
                           "-port  6000", "-port6000", "-port -6000", "-port abc", "-portable",
                           "-port 6000 -port 6001"}) {
    CommandLine c = Scan(text);
    EXPECT_EQ(c.action, CommandLineAction::InvalidPort) << text;
    EXPECT_EQ(c.port, 0) << text;
  }
}

TEST(ReceiverCommandLine, OtherTokensShowUsage) {
  for (const char* text : {"/port 6000", "-PORT 6000", "6000", "-port 6000 -x", "-port 6000 7000",
                           "--port 6000", "x"}) {
    EXPECT_EQ(Scan(text).action, CommandLineAction::Usage) << text;
  }
}

TEST(ReceiverCommandLine, ArgumentsAreJoinedWithBlanks) {
  CommandLine c = ParseCommandLine({"-port", "6000"});
  EXPECT_EQ(c.action, CommandLineAction::Run);
  EXPECT_EQ(c.port, 6000);
  // One argument holding two blanks keeps them: the value is empty.
  EXPECT_EQ(ParseCommandLine({"-port  6000"}).action, CommandLineAction::InvalidPort);
  EXPECT_EQ(ParseCommandLine({"-port"}).action, CommandLineAction::InvalidPort);
  EXPECT_EQ(ParseCommandLine({"-platform", "xcb"}).action, CommandLineAction::Usage);
}

TEST(ReceiverCommandLine, LongOptions) {
  CommandLine c = ParseCommandLine({"--headless", "-port", "6000", "--snapshot", "/tmp/a.png"});
  EXPECT_EQ(c.action, CommandLineAction::Run);
  EXPECT_TRUE(c.headless);
  EXPECT_EQ(c.port, 6000);
  EXPECT_EQ(c.snapshotPath, "/tmp/a.png");

  c = ParseCommandLine({"--snapshot=/tmp/b.png"});
  EXPECT_EQ(c.action, CommandLineAction::Run);
  EXPECT_EQ(c.snapshotPath, "/tmp/b.png");
  EXPECT_FALSE(c.headless);

  EXPECT_EQ(ParseCommandLine({"--help"}).action, CommandLineAction::Help);
  EXPECT_EQ(ParseCommandLine({"-port", "1", "--help"}).action, CommandLineAction::Help);
  EXPECT_EQ(ParseCommandLine({"--version"}).action, CommandLineAction::Version);
  // --snapshot without a file name is an unknown token.
  EXPECT_EQ(ParseCommandLine({"--snapshot"}).action, CommandLineAction::Usage);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST(ReceiverCommandLine, DeleteIsNotASeparator) {
  EXPECT_EQ(ScanCommandText("\x7f").action, CommandLineAction::Usage);
}

}  // namespace
}  // namespace qv
