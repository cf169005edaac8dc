// Progress of a frame sequence on stderr: a bar redrawn in place on a
// terminal, otherwise one line per frame (for farm logs), both with the frame
// rate and the time left.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

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
  Progress(ProgressStyle style, int total, std::FILE* stream = stderr);
  // Reports one more finished frame; safe from any thread.
  void FrameDone(int frame);
  // Ends the bar's line so later messages start on a fresh line.
  void Finish();
  // Prints a message without tearing the bar.
  void Message(const std::string& text);

 private:
  ProgressStyle style_;
  int total_;
  int done_ = 0;
  bool barShown_ = false;
  std::FILE* stream_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
};

}  // namespace vorn
