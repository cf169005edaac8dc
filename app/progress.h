// Progress of a frame sequence on stderr: a bar redrawn in place on a
// terminal, otherwise one line per frame (for farm logs), both with the frame
// rate and the time left. Frames finish out of order when several writer
// threads write them; the lines still come in the sequence's order, so a log
// reads 3, 4, 5, 6 with the count rising by one a line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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

// The chunks done of the frame being rendered: in pass `pass` (1-based; 0
// before the first), `done` of `total`.
struct ChunkCount {
  int pass = 0;
  long done = 0;
  long total = 0;
};
// "frame 12: 5 of 16 chunks" (", pass 2" after the first pass).
std::string ChunkProgressText(int frame, const ChunkCount& count);

class Progress {
 public:
  // `frames`: the sequence's frames in the order they are submitted.
  Progress(ProgressStyle style, std::vector<int> frames, std::FILE* stream = stderr);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // While a frame renders for longer than `after`, the display shows the
  // chunks done of it, read from `source` a few times a second (on a thread
  // of the display's own, until Finish).
  void WatchChunks(std::function<ChunkCount()> source,
                   std::chrono::milliseconds after = std::chrono::seconds(1));
  // The frame whose Process runs now; FrameRendered when it has returned.
  void FrameStarted(int frame);
  void FrameRendered();
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
  void Tick();             // the in-frame display's thread
  void StopTicking();

  ProgressStyle style_;
  std::vector<int> frames_;
  std::vector<char> finished_;  // per entry of frames_
  size_t next_ = 0;             // first entry of frames_ not yet reported
  int done_ = 0;
  bool barShown_ = false;
  std::FILE* stream_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::string lastBar_;  // the bar's latest text, with mutex_

  // The in-frame display, guarded by tickMutex_.
  std::function<ChunkCount()> source_;
  std::thread ticker_;
  std::mutex tickMutex_;
  std::condition_variable tickWake_;
  bool stopping_ = false;
  int current_ = 0;
  bool rendering_ = false;
  std::chrono::steady_clock::time_point frameStart_;
  std::chrono::milliseconds after_{1000};
};

}  // namespace vorn
