#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {
// Columns of the terminal on standard error; 80 when it does not say.
size_t terminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}
}  // namespace

Terminal::Terminal()
    : outIsTerminal_(::isatty(STDOUT_FILENO) == 1), errIsTerminal_(::isatty(STDERR_FILENO) == 1) {}

std::ostream& Terminal::out() {
  clearProgress();
  return std::cout;
}

std::ostream& Terminal::err() {
  clearProgress();
  return std::cerr;
}

void Terminal::showProgress(const std::string& text) {
  if (!errIsTerminal_) return;
  std::string line = text;
  // A line that wraps could not be taken back with a carriage return.
  const size_t columns = terminalColumns();
  if (line.size() >= columns) line.resize(columns - 1);
  std::cerr.flush();
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void Terminal::clearProgress() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}
