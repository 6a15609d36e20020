#include "sender/shell/command_line.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

using Status = CommandLine::Status;

TEST(CommandLineTest, ScanningRules) {
  struct Case {
    const char* line;
    Status status;
    bool start;
    int port;  // -1: not checked
  };
  const Case cases[] = {
      {"", Status::Ok, false, 0},
      {" \t ", Status::Ok, false, 0},
      // Both options in any order and spelling.
      {"-start -port 6000", Status::Ok, true, 6000},
      {"-port 6000 -start", Status::Ok, true, 6000},
      {"-port=6000      -start", Status::Ok, true, 6000},
      // A later port replaces an earlier one; -start may repeat.
      {"-port 6000 -start -port 7000 -start", Status::Ok, true, 7000},
      {"-port 1024", Status::Ok, false, 1024},
      {"-port 65534", Status::Ok, false, 65534},
      {"-port 06000", Status::Ok, false, 6000},  // five bytes are allowed
      {"-port 6000x", Status::Ok, false, 6000},  // digits up to the first non-digit
      // High bytes and control characters separate.
      {"\xA0-start\x01-port\x1F"
       "6000\xFF",
       Status::Ok, true, 6000},
      // The byte after "-port" is skipped whatever it is: "000" reads as 0.
      {"-port6000", Status::InvalidPort, false, -1},
      {"-port 60001x", Status::InvalidPort, false, -1},  // six bytes
      // -start is set before the 6 is skipped and 000 is met.
      {"-start6000", Status::Usage, true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CommandLine got;
    EXPECT_EQ(ScanCommandLine(c.line, got), c.status);
    EXPECT_EQ(got.start, c.start);
    if (c.port >= 0) {
      EXPECT_EQ(got.port, c.port);
    }
  }
  for (const char* line : {"-port 6001", "-port 1022", "-port 65536", "-port 123456", "-port",
                           "-port ", "-port abc", "-port -6000", "-start -port"}) {
    CommandLine got;
    EXPECT_EQ(ScanCommandLine(line, got), Status::InvalidPort) << line;
  }
  for (const char* line : {"/start", "-Start", "start", "-stop", "-port 6000 x"}) {
    CommandLine got;
    EXPECT_EQ(ScanCommandLine(line, got), Status::Usage) << line;
  }
}

TEST(CommandLineTest, ArgumentsAreJoinedAndLongOptionsTakenOut) {
  const char* argv[] = {"qcsend", "--headless", "-port", "6000", "-start"};
  CommandLine c = ParseArguments(5, argv);
  EXPECT_EQ(c.status, Status::Ok);
  EXPECT_TRUE(c.headless);
  EXPECT_TRUE(c.start);
  EXPECT_EQ(c.port, 6000);

  const char* help[] = {"qcsend", "--help"};
  EXPECT_TRUE(ParseArguments(2, help).help);
  const char* version[] = {"qcsend", "--version"};
  EXPECT_TRUE(ParseArguments(2, version).version);
  const char* unknown[] = {"qcsend", "--verbose"};
  EXPECT_EQ(ParseArguments(2, unknown).status, Status::Usage);
  const char* equals[] = {"qcsend", "-port=6000"};
  EXPECT_EQ(ParseArguments(2, equals).port, 6000);
  EXPECT_NE(LongUsage("/x/Vorazudud.conf").find("/x/Vorazudud.conf"), std::string::npos);
}

}  // namespace
}  // namespace qc
