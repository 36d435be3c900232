// Where the mount's problems go: one line each (standard error in the
// program, a list in the tests).
#ifndef BFSSCAN_LINE_LOG_H
#define BFSSCAN_LINE_LOG_H

#include <string>

class LineLog {
 public:
  virtual ~LineLog() = default;
  // text without its newline
  virtual void line(const std::string& text) = 0;
};

#endif  // BFSSCAN_LINE_LOG_H
