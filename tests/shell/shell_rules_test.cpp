// SPDX-License-Identifier: GPL-3.0-or-later
// The rules both programs share: the classic command-line scan, the long
// options taken out before it, and the data port rule of the dialogs.
#include <gtest/gtest.h>

#include "shell/command_line.h"
#include "shell/port_rule.h"

namespace qc {
namespace {

using Status = ClassicScan::Status;

TEST(ClassicScanTest, TokensSeparatorsAndPortValues) {
  struct Case {
    const char* text;
    Status status;
    bool start;
    int port;
  };
  const Case cases[] = {
      {"", Status::Ok, false, 0},
      {"\t \x01 \x80\xff ", Status::Ok, false, 0},  // control and high bytes separate
      {"-start -port 6000", Status::Ok, true, 6000},
      {"-port=6000      -start", Status::Ok, true, 6000},
      {"\xA0-start\x01-port\x1F" "6000\xFF", Status::Ok, true, 6000},
      {"-port 6000 -start -port 7000 -start", Status::Ok, true, 7000},  // the last port wins
      {"-port 06000", Status::Ok, false, 6000},  // five bytes are allowed
      {"-port +6000", Status::Ok, false, 6000},
      {"-port 6000x", Status::Ok, false, 6000},  // atoi stops at the first non-digit
      {"-startx -port 6000", Status::Ok, true, 6000},  // the byte after -start is skipped
      // The byte after "-port" is skipped whatever it is: "000" reads as 0.
      {"-port6000", Status::InvalidPort, false, 0},
      {"-start6000", Status::Usage, true, 0},  // "000" is a token of its own
      {"\x7f", Status::Usage, false, 0},      // Delete is not a separator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ClassicScan got = ScanClassicCommandLine(c.text, /*takesStart=*/true);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.start, c.start);
    EXPECT_EQ(got.port, c.port);
  }
  for (const char* text : {"-port 6001", "-port 123456", "-port",
                           "-port ", "-port  6000", "-port abc", "-port -6000", "-portable",
                           "-port 99999999999999999999", "-port 6000 -port 6001"}) {
    EXPECT_EQ(ScanClassicCommandLine(text, true).status, Status::InvalidPort) << text;
    EXPECT_EQ(ScanClassicCommandLine(text, false).status, Status::InvalidPort) << text;
  }
  for (const char* text : {"/port 6000", "-PORT 6000", "-Start", "6000", "-port 6000 7000",
                           "--port 6000", "-stop"}) {
    EXPECT_EQ(ScanClassicCommandLine(text, true).status, Status::Usage) << text;
  }
  // Where -start is not a keyword it is an unknown token.
  EXPECT_EQ(ScanClassicCommandLine("-start", false).status, Status::Usage);
  EXPECT_EQ(ScanClassicCommandLine("-port 6000", false).port, 6000);
}

TEST(LongOptionsTest, KnownOptionsAreTakenOutAndTheRestJoinedWithBlanks) {
  const LongOptionSet known{{"--headless", "--help"}, {"--snapshot"}};
  SplitArguments s =
      TakeLongOptions({"--headless", "-port", "6000", "--snapshot", "a.png", "-start"}, known);
  EXPECT_TRUE(s.Has("--headless"));
  EXPECT_FALSE(s.Has("--help"));
  EXPECT_EQ(s.options.at("--snapshot"), "a.png");
  EXPECT_EQ(s.classic, "-port 6000 -start");

  EXPECT_EQ(TakeLongOptions({"--snapshot=b.png"}, known).options.at("--snapshot"), "b.png");
  // Unknown options, a valued option without its value, a flag given a
  // value and "--" itself stay in the classic text, which then rejects them.
  for (auto [args, classic] :
       {std::pair<std::vector<std::string>, const char*>{{"--verbose", "-start"}, "--verbose -start"},
        {{"--snapshot"}, "--snapshot"},
        {{"--snapshot="}, "--snapshot="},
        {{"--help=1"}, "--help=1"},
        {{"--"}, "--"}}) {
    SplitArguments split = TakeLongOptions(args, known);
    EXPECT_TRUE(split.options.empty()) << classic;
    EXPECT_EQ(split.classic, classic);
  }
  // One argument holding blanks keeps them.
  EXPECT_EQ(TakeLongOptions({"-port  6000"}, known).classic, "-port  6000");
}

TEST(PortRuleTest, ValidNearestAndStep) {
  for (int64_t p : {1024, 5982, 65534}) EXPECT_TRUE(IsValidPort(p)) << p;
  for (int64_t p : {0, 1022, 5983, 65535, 65536, -6000}) EXPECT_FALSE(IsValidPort(p)) << p;
  // An odd value goes up first; a value near 2^32 must not wrap.
  for (auto [in, out] : {std::pair<int64_t, int>{6001, 6002}, {5983, 5984}, {80, 1024},
                         {1023, 1024}, {70000, 65534}, {65535, 65534}, {0, 1024},
                         {4294967295, 65534}}) {
    EXPECT_EQ(NearestValidPort(in), out) << in;
  }
  struct Step {
    int64_t from;
    bool up;
    int to;
  };
  for (Step s : {Step{6001, true, 6004} /* made 6002 first */, Step{6001, false, 6000},
                 Step{6000, true, 6002}, Step{6000, false, 5998}, Step{1024, false, 1024},
                 Step{65534, true, 65534}, Step{65533, true, 65534}, Step{0, true, 1024},
                 Step{0, false, 1024}, Step{99999, false, 65534}}) {
    EXPECT_EQ(StepPort(s.from, s.up), s.to) << s.from << (s.up ? " up" : " down");
  }
}

}  // namespace
}  // namespace qc
