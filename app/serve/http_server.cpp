#include "serve/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vorn::serve {

namespace {

using Clock = std::chrono::steady_clock;

int Millis(Clock::duration d) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, 60 * 60 * 1000));
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The end of a request head (after its blank line) in `in`, or 0. Blank
// lines before the request line are allowed, as HTTP asks.
size_t HeadEnd(const std::string& in) {
  size_t start = 0;
  while (start < in.size() && (in[start] == '\r' || in[start] == '\n')) ++start;
  for (size_t i = in.find('\n', start); i != std::string::npos; i = in.find('\n', i + 1)) {
    if (i + 1 < in.size() && in[i + 1] == '\n') return i + 2;
    if (i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') return i + 3;
  }
  return 0;
}

// Writes all of `text` unless the peer is not reading; for the short
// refusals sent from the waiting thread, which never blocks on a client.
void SendNow(int fd, std::string_view text) {
  (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

constexpr std::string_view kBusy =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
constexpr std::string_view kTooLarge =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";

}  // namespace

std::string HeadField(std::string_view head, std::string_view name) {
  size_t pos = head.find('\n');
  while (pos != std::string_view::npos && pos + 1 < head.size()) {
    const size_t start = pos + 1;
    size_t end = head.find('\n', start);
    const std::string_view line =
        head.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && SameLetters(Trim(line.substr(0, colon)), name))
      return std::string(Trim(line.substr(colon + 1)));
    pos = end;
  }
  return "";
}

std::string HeadTarget(std::string_view head) {
  while (!head.empty() && (head.front() == '\r' || head.front() == '\n')) head.remove_prefix(1);
  const std::string_view line = head.substr(0, head.find('\n'));
  const size_t a = line.find(' ');
  if (a == std::string_view::npos) return "";
  const size_t b = line.find(' ', a + 1);
  return std::string(line.substr(a + 1, b == std::string_view::npos ? b : b - a - 1));
}

struct HttpServer::Connection {
  int fd = -1;
  std::string in;  // bytes read and not yet parsed
  Clock::time_point deadline;
  bool started = false;  // a request's first byte is in
  ~Connection() {
    if (fd >= 0) close(fd);
  }
};

// Fixed threads taking whole connections from a bounded queue.
struct HttpServer::Pool {
  Pool(HttpServer& server, size_t threads, size_t bound) : bound(bound) {
    for (size_t i = 0; i < threads; ++i)
      workers.emplace_back([this, &server] {
        for (;;) {
          std::unique_ptr<Connection> c;
          {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return stop || !jobs.empty(); });
            if (stop) return;
            c = std::move(jobs.front());
            jobs.pop_front();
          }
          server.Serve(std::move(c));
        }
      });
  }
  // False when the queue is full (the connection is left with the caller).
  bool Add(std::unique_ptr<Connection>& c) {
    {
      std::lock_guard lock(mutex);
      if (jobs.size() >= bound) return false;
      jobs.push_back(std::move(c));
    }
    wake.notify_one();
    return true;
  }
  // Requests being handled finish; queued ones are dropped.
  void Shutdown() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    wake.notify_all();
    for (std::thread& t : workers) t.join();
    workers.clear();
    jobs.clear();
  }
  ~Pool() { Shutdown(); }

  size_t bound;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::unique_ptr<Connection>> jobs;
  bool stop = false;
  std::vector<std::thread> workers;
};

// The library's view of one connection: the bytes already read first, then
// the socket, each wait bounded.
class HttpServer::Stream : public httplib::Stream {
 public:
  Stream(Connection& c, std::chrono::milliseconds io) : c_(c), io_(Millis(io)) {}

  bool is_readable() const override { return pos_ < c_.in.size() || Ready(POLLIN); }
  bool is_writable() const override { return Ready(POLLOUT); }

  ssize_t read(char* ptr, size_t size) override {
    if (pos_ < c_.in.size()) {
      const size_t n = std::min(size, c_.in.size() - pos_);
      std::memcpy(ptr, c_.in.data() + pos_, n);
      pos_ += n;
      return static_cast<ssize_t>(n);
    }
    for (;;) {
      const ssize_t n = recv(c_.fd, ptr, size, 0);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Ready(POLLIN)) return -1;
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = send(c_.fd, ptr + done, size - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Ready(POLLOUT)) {
        continue;
      } else {
        return -1;
      }
    }
    return static_cast<ssize_t>(done);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(getsockname, ip, port);
  }
  ::socket_t socket() const override { return c_.fd; }

  // The bytes read past the request, for the next one.
  void KeepRest() { c_.in.erase(0, pos_); }

 private:
  bool Ready(short events) const {
    pollfd p{c_.fd, events, 0};
    for (;;) {
      const int n = poll(&p, 1, io_);
      if (n >= 0) return n > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
      if (errno != EINTR) return false;
    }
  }
  void Address(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ip.clear();
    port = 0;
    if (get(c_.fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET) return;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &a.sin_addr, text, sizeof text)) ip = text;
    port = ntohs(a.sin_port);
  }

  Connection& c_;
  int io_;
  size_t pos_ = 0;
};

// The library's request handling on a stream of ours.
class HttpServer::Routing : public httplib::Server {
 public:
  bool Process(httplib::Stream& stream, bool closeAfter, bool& closed) {
    return process_request(stream, closeAfter, closed, [](httplib::Request&) {});
  }
};

HttpServer::HttpServer(HttpLimits limits, std::function<bool(std::string_view)> preferred)
    : limits_(limits), preferred_(std::move(preferred)), routes_(std::make_unique<Routing>()) {
  // The answers name the same keep-alive time as the wait here.
  routes_->set_keep_alive_timeout(
      std::max<time_t>(1, std::chrono::duration_cast<std::chrono::seconds>(limits_.idle).count()));
  routes_->set_keep_alive_max_count(1000000);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

HttpServer::~HttpServer() {
  main_.reset();
  guests_.reset();
  if (listenFd_ >= 0) close(listenFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

httplib::Server& HttpServer::Routes() {
  return *routes_;
}

int HttpServer::Listen(const std::string& host, int port, std::string* error) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (port < 0 || port > 65535 || inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + ": not an address";
    return -1;
  }
  if (wakeFd_ < 0) {
    *error = std::string("cannot listen: ") + std::strerror(errno);
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = std::string("cannot listen: ") + std::strerror(errno);
    return -1;
  }
  // SO_REUSEADDR only lets a port an earlier run left in TIME_WAIT be taken
  // again; a port with a listener stays refused (SO_REUSEPORT would share it).
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const std::string where = host + ":" + std::to_string(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 512) != 0) {
    const int e = errno;
    close(fd);
    *error = e == EADDRINUSE
                 ? "cannot listen on " + where +
                       ": the port is in use (another program listens on it); choose another "
                       "--port, or none for a free one"
                 : "cannot listen on " + where + ": " + std::strerror(e);
    return -1;
  }
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    *error = std::string("cannot listen: ") + std::strerror(errno);
    close(fd);
    return -1;
  }
  listenFd_ = fd;
  return ntohs(a.sin_port);
}

void HttpServer::Stop() {
  stopping_.store(true);
  Wake();
}

void HttpServer::Wake() {
  const uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

void HttpServer::Accept(Clock::time_point now) {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the longest-waiting connection makes room, or
        // accepting rests a moment rather than spinning.
        if (!waiting_.empty()) {
          waiting_.pop_front();
          continue;
        }
        acceptPausedUntil_ = now + std::chrono::milliseconds(100);
      }
      return;
    }
    // Headers and body leave in separate writes: without this, each answer
    // waits out the peer's delayed acknowledgement.
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->deadline = now + limits_.idle;
    if (waiting_.size() >= limits_.maxWaiting) waiting_.pop_front();
    waiting_.push_back(std::move(c));
  }
}

void HttpServer::Sweep(const std::function<Next(const Connection&)>& next) {
  std::vector<std::unique_ptr<Connection>> ready;
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    const Next n = next(**it);
    if (n == Next::Keep) {
      ++it;
      continue;
    }
    if (n == Next::Serve) ready.push_back(std::move(*it));
    it = waiting_.erase(it);
  }
  for (auto& c : ready) Dispatch(std::move(c));
}

void HttpServer::Dispatch(std::unique_ptr<Connection> c) {
  const size_t end = HeadEnd(c->in);
  const bool preferred = preferred_ && preferred_(std::string_view(c->in).substr(0, end));
  Pool& pool = preferred ? *main_ : *guests_;
  if (!pool.Add(c)) SendNow(c->fd, kBusy);
}

void HttpServer::Serve(std::unique_ptr<Connection> c) {
  bool keep = false;
  {
    Stream stream(*c, limits_.io);
    bool closed = false;
    bool ok = false;
    try {
      ok = routes_->Process(stream, stopping_.load(), closed);
    } catch (...) {
      ok = false;  // an allocation failed: the connection goes
    }
    keep = ok && !closed && !stopping_.load();
    if (keep) stream.KeepRest();
  }
  if (!keep) return;
  c->started = false;
  {
    std::lock_guard lock(backMutex_);
    back_.push_back(std::move(c));
  }
  Wake();
}

bool HttpServer::Run() {
  if (listenFd_ < 0) return false;
  bool failed = false;
  main_ = std::make_unique<Pool>(*this, limits_.threads, limits_.queued);
  guests_ = std::make_unique<Pool>(*this, limits_.guestThreads, limits_.guestQueued);
  std::vector<pollfd> fds;
  std::vector<Connection*> polled;
  char buffer[4096];
  while (!stopping_.load()) {
    Clock::time_point now = Clock::now();
    {
      std::lock_guard lock(backMutex_);
      for (auto& c : back_) {
        // A request already read past the last one has its head deadline
        // from now; else the connection idles.
        c->started = !c->in.empty();
        c->deadline = now + (c->started ? limits_.headDeadline : limits_.idle);
        if (waiting_.size() >= limits_.maxWaiting) waiting_.pop_front();
        waiting_.push_back(std::move(c));
      }
      back_.clear();
    }
    // Heads completed by bytes read earlier (pipelined requests).
    Sweep([](const Connection& c) { return HeadEnd(c.in) != 0 ? Next::Serve : Next::Keep; });

    fds.clear();
    polled.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    const bool accepting = now >= acceptPausedUntil_;
    fds.push_back({accepting ? listenFd_ : -1, POLLIN, 0});
    Clock::time_point next = accepting ? Clock::time_point::max() : acceptPausedUntil_;
    for (auto& c : waiting_) {
      fds.push_back({c->fd, POLLIN, 0});
      polled.push_back(c.get());
      next = std::min(next, c->deadline);
    }
    const int timeout = next == Clock::time_point::max() ? -1 : Millis(next - now) + 1;
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
      failed = true;
      break;
    }
    now = Clock::now();
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      (void)!::read(wakeFd_, &count, sizeof count);
    }
    // Read what has come; note complete heads, and connections to close.
    std::vector<Connection*> done, closing;
    for (size_t i = 0; i < polled.size(); ++i) {
      Connection* c = polled[i];
      if (fds[i + 2].revents == 0) {
        if (now >= c->deadline) closing.push_back(c);
        continue;
      }
      const ssize_t n = recv(c->fd, buffer, sizeof buffer, 0);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (n <= 0) {
        closing.push_back(c);
        continue;
      }
      if (!c->started) {
        c->started = true;
        c->deadline = now + limits_.headDeadline;
      }
      c->in.append(buffer, static_cast<size_t>(n));
      if (HeadEnd(c->in) != 0) {
        done.push_back(c);
      } else if (c->in.size() > limits_.maxHeadBytes) {
        SendNow(c->fd, kTooLarge);
        closing.push_back(c);
      } else if (now >= c->deadline) {
        closing.push_back(c);
      }
    }
    if (!done.empty() || !closing.empty())
      Sweep([&](const Connection& c) {
        if (std::find(closing.begin(), closing.end(), &c) != closing.end()) return Next::Close;
        if (std::find(done.begin(), done.end(), &c) != done.end()) return Next::Serve;
        return Next::Keep;
      });
    if (accepting && (fds[1].revents & POLLIN)) Accept(now);
  }
  // Requests being answered finish; then nothing is left open.
  main_->Shutdown();
  guests_->Shutdown();
  waiting_.clear();
  std::lock_guard lock(backMutex_);
  back_.clear();
  return !failed;
}

}  // namespace vorn::serve
