// The network side of `vorn serve`: a listening socket on one address and
// port (never shared with another listener), and connections accepted and
// read here rather than by the HTTP library, so that no client can hold a
// handler thread before its request has arrived.
//
// One thread waits on every connection at once until a request's line and
// headers are in, which must happen within a short deadline of their first
// byte (an idle kept-alive connection waits longer, holding no thread). A
// whole request head then goes to a handler thread: requests that carry the
// run's token to their own pool, the rest to a small one, each behind a
// bounded queue. The HTTP library parses the request, reads its body, calls
// the routes and writes the answer.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vorn::serve {

struct HttpLimits {
  // From the first byte of a request to the end of its headers.
  std::chrono::milliseconds headDeadline{1000};
  // A kept-alive connection without a request.
  std::chrono::milliseconds idle{5000};
  // Each wait for a body's bytes or for room to write an answer.
  std::chrono::milliseconds io{5000};
  size_t maxHeadBytes = 16 * 1024;
  // Connections waiting for a request; the one waiting longest is closed
  // when a new one would pass this.
  size_t maxWaiting = 256;
  size_t threads = 24;  // requests with the token
  size_t queued = 256;
  size_t guestThreads = 2;  // the others
  size_t guestQueued = 32;
};

// The value of header `name` (any case) in a request head, or "".
std::string HeadField(std::string_view head, std::string_view name);
// The request target of a head's first line ("/api/frame?x=1"), or "".
std::string HeadTarget(std::string_view head);

class HttpServer {
 public:
  // `preferred` tells from a request's head (line and headers) whether it
  // goes to the main pool.
  HttpServer(HttpLimits limits, std::function<bool(std::string_view head)> preferred);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Where the routes and the library's request settings are given.
  httplib::Server& Routes();

  // Listens on host:port (port 0: a free one) without SO_REUSEPORT, so a
  // port another socket listens on is refused. The port, or -1 with the
  // reason.
  int Listen(const std::string& host, int port, std::string* error);
  // Serves until Stop(), then true once the handlers have finished; false
  // when the connections cannot be waited on.
  bool Run();
  // Any thread, any time.
  void Stop();

 private:
  struct Connection;
  struct Pool;
  class Stream;
  class Routing;

  void Accept(std::chrono::steady_clock::time_point now);
  // The connection's head is complete: a handler pool takes it.
  void Dispatch(std::unique_ptr<Connection> c);
  void Serve(std::unique_ptr<Connection> c);
  void Wake();
  // Takes out of waiting_ every connection `next` does not keep: dispatched
  // (its head is complete) or closed.
  enum class Next { Keep, Serve, Close };
  void Sweep(const std::function<Next(const Connection&)>& next);

  HttpLimits limits_;
  std::function<bool(std::string_view)> preferred_;
  std::unique_ptr<Routing> routes_;
  std::unique_ptr<Pool> main_, guests_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::chrono::steady_clock::time_point acceptPausedUntil_{};
  // Connections waiting for a request head, the longest-waiting first.
  std::list<std::unique_ptr<Connection>> waiting_;
  // Kept-alive connections handed back by the handlers.
  std::mutex backMutex_;
  std::vector<std::unique_ptr<Connection>> back_;
};

}  // namespace vorn::serve
