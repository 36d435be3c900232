// Standard output and standard error of the command as one object, as a
// terminal shows them: the report, the problem lines, and a progress line
// (only when standard error is a terminal) that is taken off the screen
// before any other line is written, so that nothing is written over it.
#ifndef BFSSCAN_TERMINAL_H
#define BFSSCAN_TERMINAL_H

#include <string>

#include "console.h"

class Terminal : public Console {
 public:
  Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  std::ostream& out() override;
  std::ostream& err() override;
  void beforeRawOutput() override { clearProgress(); }
  bool outIsTerminal() const override { return outIsTerminal_; }
  bool errIsTerminal() const { return errIsTerminal_; }

  // Shows line as the progress line (cut to the terminal's width).
  void showProgress(const std::string& line);
  // Takes the progress line off, if one is shown.
  void clearProgress();

 private:
  bool outIsTerminal_;
  bool errIsTerminal_;
  bool shown_ = false;
};

#endif  // BFSSCAN_TERMINAL_H
