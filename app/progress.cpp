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

Progress::Progress(ProgressStyle style, std::vector<int> frames, std::FILE* stream)
    : style_(style),
      frames_(std::move(frames)),
      finished_(frames_.size(), 0),
      stream_(stream),
      start_(std::chrono::steady_clock::now()) {}

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
    barShown_ = true;
  } else {
    std::fprintf(stream_, "%s\n", line.c_str());
  }
  std::fflush(stream_);
}

void Progress::Finish() {
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
