#include "receiver/shell/command_line.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

TEST(ReceiverCommandLine, ScanningRules) {
  struct Case {
    const char* text;
    CommandLineAction action;
    int port;  // -1: not checked
  };
  const Case cases[] = {
      // Empty or separators only: run on the stored port.
      {"", CommandLineAction::Run, 0},
      {"   ", CommandLineAction::Run, 0},
      {"\t \x01 \x80\xff ", CommandLineAction::Run, 0},
      {"-port 6000", CommandLineAction::Run, 6000},
      {"-port=6000", CommandLineAction::Run, 6000},
      {"  -port 6000  ", CommandLineAction::Run, 6000},
      {"-port 1024", CommandLineAction::Run, 1024},
      {"-port 65534", CommandLineAction::Run, 65534},
      {"-port +6000", CommandLineAction::Run, 6000},
      {"-port 6000x", CommandLineAction::Run, 6000},  // atoi stops at the first non-digit
      {"-port 6000 -port 7000", CommandLineAction::Run, 7000},
      {"\x7f", CommandLineAction::Usage, -1},  // Delete is not a separator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ReceiverCommandLine got = ScanCommandText(c.text);
    EXPECT_EQ(got.action, c.action);
    if (c.port >= 0) {
      EXPECT_EQ(got.port, c.port);
    }
  }
  for (const char* text : {"-port 6001", "-port 1022", "-port 65535", "-port 123456", "-port",
                           "-port  6000", "-port6000", "-port -6000", "-port abc", "-portable",
                           "-port 6000 -port 6001"}) {
    ReceiverCommandLine c = ScanCommandText(text);
    EXPECT_EQ(c.action, CommandLineAction::InvalidPort) << text;
    EXPECT_EQ(c.port, 0) << text;
  }
  for (const char* text : {"/port 6000", "-PORT 6000", "6000", "-port 6000 -x", "-port 6000 7000",
                           "--port 6000", "x"}) {
    EXPECT_EQ(ScanCommandText(text).action, CommandLineAction::Usage) << text;
  }
}

TEST(ReceiverCommandLine, ArgumentsAreJoinedWithBlanksAndLongOptionsTakenOut) {
  ReceiverCommandLine c = ParseCommandLine({"-port", "6000"});
  EXPECT_EQ(c.action, CommandLineAction::Run);
  EXPECT_EQ(c.port, 6000);
  // One argument holding two blanks keeps them: the value is empty.
  EXPECT_EQ(ParseCommandLine({"-port  6000"}).action, CommandLineAction::InvalidPort);
  EXPECT_EQ(ParseCommandLine({"-port"}).action, CommandLineAction::InvalidPort);
  EXPECT_EQ(ParseCommandLine({"-platform", "xcb"}).action, CommandLineAction::Usage);

  c = ParseCommandLine({"--headless", "-port", "6000", "--snapshot", "/tmp/a.png"});
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
}  // namespace qc
