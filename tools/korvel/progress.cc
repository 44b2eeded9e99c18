#include "tools/korvel/progress.h"

#include <cmath>
#include <cstdio>
#include <utility>

#if defined(__unix__)
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace korvel {
namespace {

bool errorsGoToTerminal() {
#if defined(__unix__)
  return isatty(STDERR_FILENO) == 1;
#else
  return false;
#endif
}

// A line wider than the terminal would wrap, and the next one could not be drawn over it.
size_t terminalColumns() {
#if defined(__unix__)
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1u;
#endif
  return 79;
}

std::string duration(double seconds) {
  uint64_t s = uint64_t(std::ceil(seconds));
  if (s < 60) return std::to_string(s) + "s";
  std::string minutes = std::to_string(s / 60 % 60), rest = std::to_string(s % 60);
  if (s < 3600) return minutes + "m" + (rest.size() < 2 ? "0" : "") + rest + "s";
  return std::to_string(s / 3600) + "h" + (minutes.size() < 2 ? "0" : "") + minutes + "m";
}

}  // namespace

std::string progressCount(uint64_t done, uint64_t total, const std::string& unit, double seconds) {
  constexpr int kBar = 20;
  if (done > total) done = total;
  int filled = total == 0 ? kBar : int(done * kBar / total);
  std::string line = "[" + std::string(size_t(filled), '#') +
                     std::string(size_t(kBar - filled), '-') + "] " + std::to_string(done) + "/" +
                     std::to_string(total) + " " + unit;
  if (done > 0 && seconds > 0) {
    double rate = double(done) / seconds;
    line += ", " + std::to_string(uint64_t(rate)) + "/s, " + duration(double(total - done) / rate) +
            " left";
  }
  return line;
}

Progress::Progress(std::string label) : label_(std::move(label)), shown_(errorsGoToTerminal()) {}

Progress::~Progress() { clear(); }

void Progress::clear() {
  if (!shown_ || width_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", int(width_), "");
  std::fflush(stderr);
  width_ = 0;
}

void Progress::step(const std::string& text) {
  if (!shown_) return;
  step_ = text;
  stepStart_ = lastDraw_ = Clock::now();
  draw(label_ + ": " + text + "...");
}

void Progress::count(uint64_t done, uint64_t total, const std::string& unit) {
  if (!shown_) return;
  Clock::time_point now = Clock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  double seconds = std::chrono::duration<double>(now - stepStart_).count();
  draw(label_ + ": " + step_ + " " + progressCount(done, total, unit, seconds));
}

void Progress::draw(std::string line) {
  if (line.size() > terminalColumns()) line.resize(terminalColumns());
  size_t width = line.size();
  if (width < width_) line.append(width_ - width, ' ');
  width_ = width;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
}

}  // namespace korvel
