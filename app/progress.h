// Progress of a frame sequence on stderr: a bar redrawn in place on a
// terminal, otherwise one line per frame (for farm logs), both with the frame
// rate and the time left. Frames finish out of order when several writer
// threads write them; the lines still come in the sequence's order, so a log
// reads 3, 4, 5, 6 with the count rising by one a line.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vorn {

enum class ProgressStyle { Off, Lines, Bar };

// Picks Bar when `stream` is a terminal, Lines otherwise, Off when quiet.
ProgressStyle ChooseProgressStyle(std::FILE* stream, bool quiet);

// "1:05" / "1:02:03" for a whole number of seconds.
std::string FormatDuration(double seconds);

// The text of one progress report: `done` of `total` frames after `elapsed`
// seconds, `frame` the number of the frame just finished.
std::string ProgressLine(ProgressStyle style, int done, int total, int frame, double elapsed);

class Progress {
 public:
  // `frames`: the sequence's frames in the order they are submitted.
  Progress(ProgressStyle style, std::vector<int> frames, std::FILE* stream = stderr);
  // Reports a finished frame of the sequence; safe from any thread. A line
  // waits until every frame before it in the sequence is done.
  void FrameDone(int frame);
  // Reports the finished frames still waiting on an earlier one (that failed
  // or was interrupted), then ends the bar's line so later messages start on
  // a fresh line.
  void Finish();
  // Prints a message without tearing the bar.
  void Message(const std::string& text);

 private:
  void Report(int frame);  // with mutex_ held

  ProgressStyle style_;
  std::vector<int> frames_;
  std::vector<char> finished_;  // per entry of frames_
  size_t next_ = 0;             // first entry of frames_ not yet reported
  int done_ = 0;
  bool barShown_ = false;
  std::FILE* stream_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
};

}  // namespace vorn
