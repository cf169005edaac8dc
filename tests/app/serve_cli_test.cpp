// vorn serve over the network: slow clients hold no thread from the token
// holder, requests on one connection (kept alive, pipelined, with a body sent
// late), a port another socket listens on, and inputs no tool has.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>

#include "vorn_runner.h"

namespace vorn::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Served {
  pid_t pid = -1;
  int port = 0;
  std::string token;
};

class ServeCli : public VornTest {
 protected:
  void TearDown() override {
    // Each server ends by the signal, and only by it (a sanitizer's report
    // would change the status).
    for (const pid_t pid : running_) {
      kill(pid, SIGTERM);
      const RunResult r = Wait(pid, std::chrono::seconds(20));
      EXPECT_EQ(r.code, 128 + SIGTERM) << r.err;
    }
    VornTest::TearDown();
  }

  // A page folder of the files vorn serve checks for, so that these tests
  // do not depend on the page having been compiled.
  std::string Page() {
    const fs::path web = dir_ / "web";
    fs::create_directories(web / "dist");
    std::ofstream(web / "index.html") << "<html></html>";
    std::ofstream(web / "dist" / "main.js") << "";
    return web.string();
  }

  // vorn serve with the probe plug-in, once it has printed its URL.
  Served Serve(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--plugins", PROBE_PLUGIN_FOLDER, "serve", "--web", Page()};
    args.insert(args.end(), extra.begin(), extra.end());
    Served s;
    s.pid = Start(args);
    running_.push_back(s.pid);
    const std::string prefix = "http://127.0.0.1:";
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    std::string out;
    size_t at = std::string::npos;
    while ((at = (out = ReadText(dir_ / ".stdout")).find(prefix)) == std::string::npos ||
           out.find('\n', at) == std::string::npos) {
      if (Clock::now() > deadline) {
        ADD_FAILURE() << "no URL printed: " << ReadText(dir_ / ".stderr");
        return s;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string line =
        out.substr(at + prefix.size(), out.find('\n', at) - at - prefix.size());
    s.port = std::atoi(line.c_str());
    s.token = line.substr(line.find("token=") + 6);
    return s;
  }

  // A vorn serve that must end by itself.
  RunResult Refused(std::vector<std::string> args) {
    args.insert(args.begin(), {"--plugins", PROBE_PLUGIN_FOLDER, "serve", "--web", Page()});
    return Wait(Start(args), std::chrono::seconds(20));
  }

  std::vector<pid_t> running_;
};

// A connected socket to 127.0.0.1:port whose reads give up after 5 s.
int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  timeval five{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
  return fd;
}

bool SendAll(int fd, const std::string& text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// Reads until `count` whole answers (by their Content-Length) have come, the
// peer closes, or 5 s pass without a byte.
std::string ReadAnswers(int fd, int count) {
  std::string in;
  char buffer[4096];
  auto complete = [&] {
    size_t pos = 0;
    for (int i = 0; i < count; ++i) {
      const size_t end = in.find("\r\n\r\n", pos);
      if (end == std::string::npos) return false;
      const std::string head = in.substr(pos, end - pos);
      const size_t field = head.find("Content-Length: ");
      const size_t length =
          field == std::string::npos ? 0 : std::strtoul(head.c_str() + field + 16, nullptr, 10);
      pos = end + 4 + length;
      if (pos > in.size()) return false;
    }
    return true;
  };
  while (!complete()) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    in.append(buffer, static_cast<size_t>(n));
  }
  return in;
}

int Status(const std::string& answer) {
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : -1;
}

TEST_F(ServeCli, SlowClientsHoldNoThreadFromTheTokenHolder) {
  const Served s = Serve();
  ASSERT_GT(s.port, 0);
  // A hundred clients that start a request and add a header line every
  // 200 ms, for 3 s at most.
  std::vector<int> slow;
  for (int i = 0; i < 100; ++i) {
    const int fd = Connect(s.port);
    ASSERT_GE(fd, 0);
    SendAll(fd, "GET /api/tools HTTP/1.1\r\nHost: x\r\n");
    slow.push_back(fd);
  }
  const auto start = Clock::now();
  std::vector<double> answerTimes;
  int step = 0;
  while (Clock::now() - start < std::chrono::seconds(3)) {
    for (int fd : slow) SendAll(fd, "X-Slow: " + std::to_string(step) + "\r\n");
    if (step % 4 == 1) {
      // The token holder asks meanwhile, on a new connection each time.
      const auto asked = Clock::now();
      const int fd = Connect(s.port);
      ASSERT_GE(fd, 0);
      SendAll(fd, "GET /api/tools HTTP/1.1\r\nHost: x\r\nX-Vorn-Token: " + s.token +
                      "\r\nConnection: close\r\n\r\n");
      const std::string answer = ReadAnswers(fd, 1);
      answerTimes.push_back(std::chrono::duration<double>(Clock::now() - asked).count());
      close(fd);
      EXPECT_EQ(Status(answer), 200) << answer;
    }
    ++step;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_GE(answerTimes.size(), 3u);
  for (const double t : answerTimes) EXPECT_LT(t, 1.0) << "a token request waited " << t << " s";
  // Every slow client was closed once its head took longer than allowed.
  int open = 0;
  for (int fd : slow) {
    char c;
    const ssize_t n = recv(fd, &c, 1, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) ++open;
    close(fd);
  }
  EXPECT_EQ(open, 0) << open << " slow connections are still open after 3 s";

  // A request without the token is answered, and refused.
  const int guest = Connect(s.port);
  SendAll(guest, "GET /api/tools HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(Status(ReadAnswers(guest, 1)), 403);
  close(guest);
}

TEST_F(ServeCli, RequestsOnOneConnectionKeptAlivePipelinedAndWithALateBody) {
  const Served s = Serve();
  ASSERT_GT(s.port, 0);
  const std::string get =
      "GET /api/tools HTTP/1.1\r\nHost: x\r\nX-Vorn-Token: " + s.token + "\r\n\r\n";
  const int fd = Connect(s.port);
  ASSERT_GE(fd, 0);
  // Two requests in one write, then a third after the answers.
  ASSERT_TRUE(SendAll(fd, get + get));
  const std::string two = ReadAnswers(fd, 2);
  const size_t second = two.find("HTTP/1.1 ", 1);
  EXPECT_EQ(Status(two), 200);
  EXPECT_EQ(second == std::string::npos ? -1 : Status(two.substr(second)), 200) << two;
  ASSERT_TRUE(SendAll(fd, get));
  EXPECT_EQ(Status(ReadAnswers(fd, 1)), 200);
  // A body that follows its head a moment later is read whole: the answer
  // is about the body's content, not a cut body.
  const std::string body = R"({"time": 0})";
  ASSERT_TRUE(SendAll(fd, "POST /api/undo HTTP/1.1\r\nHost: x\r\nX-Vorn-Token: " + s.token +
                              "\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(SendAll(fd, body));
  const std::string answer = ReadAnswers(fd, 1);
  EXPECT_EQ(Status(answer), 400);
  EXPECT_NE(answer.find("name the tool"), std::string::npos) << answer;
  close(fd);
}

TEST_F(ServeCli, APortAnotherSocketListensOnIsRefused) {
  const Served first = Serve();
  ASSERT_GT(first.port, 0);
  // A second vorn serve, and sockets of other programs that allow sharing
  // (SO_REUSEPORT), on 127.0.0.1 and on every address.
  std::vector<int> ports = {first.port};
  std::vector<int> held;
  for (const in_addr_t address : {htonl(INADDR_LOOPBACK), htonl(INADDR_ANY)}) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ports.push_back(ntohs(a.sin_port));
    held.push_back(fd);
  }
  for (const int port : ports) {
    const RunResult r = Refused({"--port", std::to_string(port)});
    EXPECT_EQ(r.code, 2) << "port " << port << ": " << r.out << r.err;
    EXPECT_NE(r.err.find("127.0.0.1:" + std::to_string(port) + ": the port is in use"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("http://"), std::string::npos) << r.out;
  }
  for (const int fd : held) close(fd);
  // The first server still answers its own token.
  const int fd = Connect(first.port);
  SendAll(fd, "GET /api/tools HTTP/1.1\r\nHost: x\r\nX-Vorn-Token: " + first.token + "\r\n\r\n");
  EXPECT_EQ(Status(ReadAnswers(fd, 1)), 200);
  close(fd);
}

TEST_F(ServeCli, AnInputNoToolHasIsRefusedNamingTheInputsThere) {
  const RunResult r = Refused({"--input", "Nope=plate.png"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--input \"Nope=plate.png\": no tool has an image input \"Nope\""),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("\"Input\", \"Matte(optional)\" (Probe)"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("http://"), std::string::npos) << r.out;
  // A control's caption is not an image input either.
  const RunResult control = Refused({"--input", "Level=plate.png"});
  EXPECT_EQ(control.code, 2) << control.err;
}

// How the files are read is checked as vorn render checks it, against the
// image inputs of every tool.
TEST_F(ServeCli, ReadingOptionsAreCheckedAtStart) {
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--input-colorspace", "Nope=linear"},
            "--input-colorspace \"Nope=linear\": no tool has an image input \"Nope\""},
           {{"--input-colorspace", "nosuchspace"}, "unknown colour space \"nosuchspace\""},
           {{"--input-layer", "Input="}, "no layer name after '='"},
           {{"--aspect", "0"}, "--aspect: 0 is outside the allowed range (0.01 to 100)"}}) {
    const RunResult r = Refused(args);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace vorn::test
