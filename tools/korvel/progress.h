// A status line on the terminal for the long steps of a command: shown only when standard error
// is a terminal, rewritten in place as the steps go by, and cleared when the command is done, so
// that logs and pipes never see it.
#ifndef KORVEL_TOOLS_KORVEL_PROGRESS_H_
#define KORVEL_TOOLS_KORVEL_PROGRESS_H_

#include <string>

namespace korvel {

class Progress {
 public:
  // label names the command and its input, as in "korvel build book.txt".
  explicit Progress(std::string label);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Shows the step that starts now, such as "computing 400000 cells".
  void step(const std::string& text);
  // Takes the line away, before anything else is written to the terminal.
  void clear();

 private:
  std::string label_;
  bool shown_ = false;
  size_t width_ = 0;  // of the line on screen, to blank what a shorter line leaves
};

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_PROGRESS_H_
