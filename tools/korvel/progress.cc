#include "tools/korvel/progress.h"

#include <cstdio>
#include <utility>

#if defined(__unix__)
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

}  // namespace

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
  std::string line = label_ + ": " + text + "...";
  size_t width = line.size();
  if (width < width_) line.append(width_ - width, ' ');
  width_ = width;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
}

}  // namespace korvel
