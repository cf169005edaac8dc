#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "library_messages.h"

namespace vorn {

ProgressStyle ChooseProgressStyle(std::FILE* stream, bool quiet) {
  if (quiet) return ProgressStyle::Off;
  return isatty(fileno(stream)) ? ProgressStyle::Bar : ProgressStyle::Lines;
}

std::string FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "?";
  if (seconds > 359999) return ">99:59:59";
  const long s = long(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

std::string ProgressLine(ProgressStyle style, int done, int total, int frame, double elapsed) {
  const double fps = elapsed > 0 ? done / elapsed : 0.0;
  const double left = fps > 0 ? (total - done) / fps : -1.0;
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.2f fps", fps);
  const std::string eta = left >= 0 ? FormatDuration(left) + " left" : "time left unknown";
  // Rounded down, so 100% means every frame is done.
  const long long percent = total > 0 ? 100LL * done / total : 100;
  const std::string share = std::to_string(percent) + "%";
  if (style == ProgressStyle::Bar) {
    constexpr int kWidth = 30;
    const int filled = total > 0 ? int(double(kWidth) * done / total) : kWidth;
    std::string bar(size_t(filled), '=');
    if (filled < kWidth) bar += '>';
    bar.resize(kWidth, ' ');
    return "[" + bar + "] frame " + std::to_string(done) + " of " + std::to_string(total) + " " +
           share + "  " + rate + "  " + eta;
  }
  return "frame " + std::to_string(frame) + " done (" + std::to_string(done) + " of " +
         std::to_string(total) + ", " + share + ", " + rate + ", " + eta + ")";
}

std::string ChunkProgressText(int frame, const ChunkCount& count) {
  std::string text = "frame " + std::to_string(frame) + ": ";
  if (count.pass < 1 || count.total < 1) return text + "rendering";
  text += std::to_string(count.done) + " of " + std::to_string(count.total) + " chunks";
  if (count.pass > 1) text += ", pass " + std::to_string(count.pass);
  return text;
}

Progress::Progress(ProgressStyle style, std::vector<int> frames, std::FILE* stream)
    : style_(style),
      frames_(std::move(frames)),
      finished_(frames_.size(), 0),
      stream_(stream),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  StopTicking();
}

void Progress::WatchChunks(std::function<ChunkCount()> source, std::chrono::milliseconds after) {
  if (style_ == ProgressStyle::Off || ticker_.joinable() || !source) return;
  source_ = std::move(source);
  after_ = after;
  ticker_ = std::thread([this] { Tick(); });
}

void Progress::FrameStarted(int frame) {
  std::lock_guard lock(tickMutex_);
  current_ = frame;
  rendering_ = true;
  frameStart_ = std::chrono::steady_clock::now();
}

void Progress::FrameRendered() {
  std::lock_guard lock(tickMutex_);
  rendering_ = false;
}

void Progress::StopTicking() {
  {
    std::lock_guard lock(tickMutex_);
    stopping_ = true;
  }
  tickWake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void Progress::Tick() {
  using namespace std::chrono_literals;
  std::unique_lock lock(tickMutex_);
  std::string shown;  // the last text, so an unchanged count is not repeated
  auto lastLine = std::chrono::steady_clock::time_point{};
  while (!stopping_) {
    tickWake_.wait_for(lock, 250ms);
    const auto now = std::chrono::steady_clock::now();
    if (stopping_ || !rendering_ || now - frameStart_ < after_) continue;
    const std::string text = ChunkProgressText(current_, source_());
    // A log gets a line a second at most; the bar shows every change.
    if (text == shown || (style_ == ProgressStyle::Lines && now - lastLine < 1s)) continue;
    shown = text;
    lastLine = now;
    lock.unlock();
    {
      std::scoped_lock print(mutex_, StderrMutex());
      if (style_ == ProgressStyle::Bar)
        std::fprintf(stream_, "\r%s%s%s\x1b[K", lastBar_.c_str(), lastBar_.empty() ? "" : "  | ",
                     text.c_str());
      else
        std::fprintf(stream_, "%s\n", text.c_str());
      barShown_ = style_ == ProgressStyle::Bar;
      std::fflush(stream_);
    }
    lock.lock();
  }
}

void Progress::FrameDone(int frame) {
  std::scoped_lock lock(mutex_, StderrMutex());
  // The first unfinished entry for this frame at or after the next report.
  size_t i = next_;
  while (i < frames_.size() && (frames_[i] != frame || finished_[i])) ++i;
  if (i == frames_.size()) return;  // not a frame of the sequence
  finished_[i] = 1;
  while (next_ < frames_.size() && finished_[next_]) Report(frames_[next_++]);
}

void Progress::Report(int frame) {
  ++done_;
  if (style_ == ProgressStyle::Off) return;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string line = ProgressLine(style_, done_, int(frames_.size()), frame, elapsed);
  if (style_ == ProgressStyle::Bar) {
    // Clear to the end of the line so a shorter text leaves no remnants.
    std::fprintf(stream_, "\r%s\x1b[K", line.c_str());
    lastBar_ = line;
    barShown_ = true;
  } else {
    std::fprintf(stream_, "%s\n", line.c_str());
  }
  std::fflush(stream_);
}

void Progress::Finish() {
  StopTicking();
  std::scoped_lock lock(mutex_, StderrMutex());
  for (; next_ < frames_.size(); ++next_)
    if (finished_[next_]) Report(frames_[next_]);
  if (barShown_) std::fputc('\n', stream_);
  barShown_ = false;
  std::fflush(stream_);
}

void Progress::Message(const std::string& text) {
  std::scoped_lock lock(mutex_, StderrMutex());
  if (barShown_) std::fputs("\r\x1b[K", stream_);
  std::fprintf(stream_, "%s\n", text.c_str());
  barShown_ = false;
  std::fflush(stream_);
}

}  // namespace vorn
