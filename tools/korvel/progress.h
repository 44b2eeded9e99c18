// A status line on the terminal for the long steps of a command: shown only when standard error
// is a terminal, rewritten in place as the steps go by, and cleared when the command is done, so
// that logs and pipes never see it. A step that counts its work shows how far it is, at what rate
// and how long it has left: "korvel calc book.xlsx: computing [####------] 120000/400000 cells,
// 52000/s, 5s left".
#ifndef KORVEL_TOOLS_KORVEL_PROGRESS_H_
#define KORVEL_TOOLS_KORVEL_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/recalculation.h"

namespace korvel {

// The count part of the line: the bar, done/total, the rate and the time left (the latter two
// once some work is done and time has passed).
std::string progressCount(uint64_t done, uint64_t total, const std::string& unit, double seconds);

class Progress : public Recalculation::Observer {
 public:
  // label names the command and its input, as in "korvel build book.txt".
  explicit Progress(std::string label);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Shows the step that starts now, such as "computing 400000 cells".
  void step(const std::string& text);
  // The step counts its work: unit names what it counts ("cells"). The line is redrawn at most
  // ten times a second.
  void count(uint64_t done, uint64_t total, const std::string& unit);
  // Takes the line away, before anything else is written to the terminal.
  void clear();

  void cellsEvaluated(size_t done, size_t total) override { count(done, total, "cells"); }

 private:
  using Clock = std::chrono::steady_clock;
  void draw(std::string line);

  std::string label_;
  std::string step_;
  bool shown_ = false;
  size_t width_ = 0;  // of the line on screen, to blank what a shorter line leaves
  Clock::time_point stepStart_;
  Clock::time_point lastDraw_;
};

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_PROGRESS_H_
