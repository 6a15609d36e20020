#include "sender/shell/command_line.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

using Status = CommandLine::Status;

CommandLine Scan(const std::string& line) {
  CommandLine c;
  c.status = ScanCommandLine(line, c);
  return c;
}

TEST(CommandLineTest, EmptyLineStartsWithStoredPortAndNoTransmission) {
  CommandLine c = Scan("");
  EXPECT_EQ(c.status, Status::Ok);
  EXPECT_FALSE(c.start);
  EXPECT_EQ(c.port, 0);
  EXPECT_EQ(Scan(" \t ").status, Status::Ok);
}

TEST(CommandLineTest, BothOptionsInAnyOrderAndSpelling) {
  for (const char* line : {"-start -port 6000", "-port 6000 -start", "-port=6000      -start"}) {
    CommandLine c = Scan(line);
    EXPECT_EQ(c.status, Status::Ok) << line;
    EXPECT_TRUE(c.start) << line;
    EXPECT_EQ(c.port, 6000) << line;
  }
}

TEST(CommandLineTest, LaterPortReplacesEarlierAndStartMayRepeat) {
  CommandLine c = Scan("-port 6000 -start -port 7000 -start");
  EXPECT_EQ(c.status, Status::Ok);
  EXPECT_EQ(c.port, 7000);
  EXPECT_TRUE(c.start);
}

TEST(CommandLineTest, BadPortValuesGiveThePortMessage) {
  for (const char* line : {"-port 6001", "-port 1022", "-port 65536", "-port 123456", "-port",
                           "-port ", "-port abc", "-port -6000", "-start -port"}) {
    EXPECT_EQ(Scan(line).status, Status::InvalidPort) << line;
  }
  EXPECT_EQ(Scan("-port 1024").status, Status::Ok);
  EXPECT_EQ(Scan("-port 65534").status, Status::Ok);
  EXPECT_EQ(Scan("-port 06000").port, 6000);  // five bytes are allowed
}

TEST(CommandLineTest, PortWrittenTogetherSkipsItsFirstDigit) {
  // The byte after "-port" is skipped whatever it is: "000" reads as 0.
  EXPECT_EQ(Scan("-port6000").status, Status::InvalidPort);
  // "-port 60001x": "60001x" is six bytes.
  EXPECT_EQ(Scan("-port 60001x").status, Status::InvalidPort);
  // Digits up to the first non-digit: "6000x" is 6000.
  EXPECT_EQ(Scan("-port 6000x").port, 6000);
}

TEST(CommandLineTest, StartWrittenTogetherEndsWithUsage) {
  CommandLine c = Scan("-start6000");
  EXPECT_TRUE(c.start);  // set before the 6 is skipped and 000 is met
  EXPECT_EQ(c.status, Status::Usage);
}

TEST(CommandLineTest, UnknownTokensGiveUsage) {
  for (const char* line : {"/start", "-Start", "start", "-stop", "-port 6000 x"}) {
    EXPECT_EQ(Scan(line).status, Status::Usage) << line;
  }
}

TEST(CommandLineTest, HighBytesAndControlCharactersSeparate) {
  CommandLine c = Scan(
      "\xA0-start\x01-port\x1F"
      "6000\xFF");
  EXPECT_EQ(c.status, Status::Ok);
  EXPECT_TRUE(c.start);
  EXPECT_EQ(c.port, 6000);
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
  // "-port=6000" as one argument and the port as the next one both work.
  const char* equals[] = {"qcsend", "-port=6000"};
  EXPECT_EQ(ParseArguments(2, equals).port, 6000);
}

TEST(CommandLineTest, MessagesAreTheProgramsTexts) {
  EXPECT_STREQ(kUsageText, "QcSend.exe [-start] [-port xxxx]");
  EXPECT_STREQ(kUsageCaption, "Quillcast Usage");
  EXPECT_STREQ(kInvalidPortText, "Port must be an even number in the range 1024..65534.");
  EXPECT_STREQ(kInvalidValueCaption, "Invalid Value");
  EXPECT_NE(LongUsage("/x/Vorazudud.conf").find("/x/Vorazudud.conf"), std::string::npos);
}

}  // namespace
}  // namespace qc
