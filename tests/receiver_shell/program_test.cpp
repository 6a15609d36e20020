// The qvrecv program as a black box, inside this binary's private network
// namespace: command-line boxes and exit codes, the headless receiver's
// start, its update requests on the command-line port, a transmission's init
// message and snapshot, the disconnection, and the signals that end it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/protocol.h"
#include "platform/udp_socket.h"

namespace {

class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    char tmpl[] = "/tmp/qvprog-XXXXXX";
    dir_ = mkdtemp(tmpl);
    errPath_ = dir_ + "/stderr";
    outPath_ = dir_ + "/stdout";
    pid_ = fork();
    if (pid_ == 0) {
      setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
      if (chdir(dir_.c_str()) != 0) _exit(120);
      int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, 2);
      dup2(out, 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(QVRECV_PATH));
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(QVRECV_PATH, argv.data());
      _exit(121);
    }
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  // Exit code, or -1000 - signal.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
  }
  void Signal(int s) { kill(pid_, s); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string Err() const { return Read(errPath_); }
  std::string Out() const { return Read(outPath_); }
  // Waits (up to 20 s) until standard error holds text n times.
  bool WaitForErr(const std::string& text, int n = 1) {
    for (int i = 0; i < 200; ++i) {
      std::string e = Err();
      int count = 0;
      for (size_t p = e.find(text); p != std::string::npos; p = e.find(text, p + 1)) ++count;
      if (count >= n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_, errPath_, outPath_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

TEST(ReceiverProgram, CommandLineMessagesAndExitCodes) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--headless", "-port", "6001"}, "Invalid Value: Port must be an even number in the range 1024..65534."},
      {{"--headless", "-port", "65535"}, "Invalid Value: Port must be"},
      {{"--headless", "-port6000"}, "Invalid Value: Port must be"},
      {{"--headless", "-port"}, "Invalid Value: Port must be"},
      {{"--headless", "/port", "6000"}, "Quillview Usage: QvRecv.exe [-port xxxx]"},
      {{"--headless", "-PORT", "6000"}, "Quillview Usage: QvRecv.exe [-port xxxx]"},
      {{"--headless", "-port", "6000", "7000"}, "Quillview Usage: QvRecv.exe [-port xxxx]"},
  };
  for (auto& c : cases) {
    Program p(c.args);
    EXPECT_EQ(p.Wait(), 0) << c.args.back();
    EXPECT_NE(p.Err().find(c.message), std::string::npos) << c.args.back() << ": " << p.Err();
  }
  Program help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Out().find("Receiver.conf"), std::string::npos);
  Program version({"--version"});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Out(), "Quillview version 1.1.0\n");
}

// Counts update requests arriving at group:port.
class Listener {
 public:
  explicit Listener(uint16_t port) {
    socket_.Create();
    socket_.SetReuseAddress(true);
    socket_.Bind(port);
    socket_.JoinGroup(qc::kGroupAddressHostOrder);
  }
  bool WaitForRequest(int timeoutMs) {
    uint8_t buf[16];
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      long n = socket_.ReceiveFor(buf, sizeof buf, 250);
      if (n == 2 && buf[0] == 0xF8 && buf[1] == 0xFF) return true;
    }
    return false;
  }

 private:
  qc::UdpSocket socket_;
};

class Sender {
 public:
  Sender() {
    socket_.Create();
    socket_.SetMulticastTtl(1);
    qc::SocketAddress::FromDotted(qc::kGroupAddress, 6000, to_);
  }
  void Send(const uint8_t* data, size_t n) { socket_.SendTo(data, n, to_); }

 private:
  qc::UdpSocket socket_;
  qc::SocketAddress to_;
};

TEST(ReceiverProgram, HeadlessReceiverFollowsATransmissionAndQuitsOnSignals) {
  Listener requests(6001);
  Program p({"--headless", "-port", "6000", "--snapshot", "picture.png"});
  ASSERT_TRUE(p.WaitForErr("qvrecv: Quillview - Disconnected")) << p.Err();
  // The command-line port is applied through a restart; the request timer
  // then asks on port 6001.
  EXPECT_TRUE(requests.WaitForRequest(12000));

  // A sender's init message starts the transmission: 8x4 pixels, 32 bits.
  Sender sender;
  qc::InitMessage init;
  init.screenId = 0x1234;
  init.width = 8;
  init.height = 4;
  init.bitsPerPixel = 32;
  init.redMask = 0xFF0000;
  init.greenMask = 0xFF00;
  init.blueMask = 0xFF;
  uint8_t initBytes[qc::kInitSize];
  qc::BuildInit(init, initBytes);
  bool receiving = false;
  for (int i = 0; i < 50 && !receiving; ++i) {
    sender.Send(initBytes, sizeof initBytes);
    receiving = p.WaitForErr("qvrecv: Quillview - Receiving");
  }
  ASSERT_TRUE(receiving) << p.Err();

  std::string picture = p.Dir() + "/picture.png";
  p.Signal(SIGUSR1);
  QImage image;
  for (int i = 0; i < 100 && image.isNull(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    image = QImage(QString::fromStdString(picture));
  }
  ASSERT_FALSE(image.isNull()) << p.Err();
  EXPECT_EQ(image.width(), 8);
  EXPECT_EQ(image.height(), 4);
  EXPECT_EQ(image.pixel(3, 2), qRgb(0, 0, 0));

  // The disconnection makes it wait again.
  uint8_t bye[qc::kDisconnectionSize];
  qc::BuildDisconnection(0x1234, bye);
  sender.Send(bye, sizeof bye);
  EXPECT_TRUE(p.WaitForErr("qvrecv: Quillview - Disconnected", 2)) << p.Err();

  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(), 0);
}

TEST(ReceiverProgram, InterruptAndHangUpQuitInOrder) {
  for (int s : {SIGINT, SIGHUP}) {
    Program p({"--headless"});
    ASSERT_TRUE(p.WaitForErr("Quillview - Disconnected")) << p.Err();
    p.Signal(s);
    EXPECT_EQ(p.Wait(), 0) << s;
  }
}

}  // namespace
