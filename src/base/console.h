// Where a run's text goes: the report (standard output) and the problem
// lines (standard error), or streams a test or a caller of the library
// gives. The command's terminal is one implementation: it takes its
// progress line off the screen before either stream is written.
#ifndef BFSSCAN_CONSOLE_H
#define BFSSCAN_CONSOLE_H

#include <ostream>

class Console {
 public:
  virtual ~Console() = default;
  // The stream of the report; ready to be written to.
  virtual std::ostream& out() = 0;
  // The stream of problem lines; ready to be written to.
  virtual std::ostream& err() = 0;
  // Called before standard output is written other than through out().
  virtual void beforeRawOutput() {}
  // Whether the report goes to a terminal (then it is flushed line by line).
  virtual bool outIsTerminal() const { return false; }
};

// Two streams as they are.
class StreamConsole : public Console {
 public:
  StreamConsole(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  std::ostream& out() override { return out_; }
  std::ostream& err() override { return err_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

#endif  // BFSSCAN_CONSOLE_H
