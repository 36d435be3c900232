#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "human_units.h"

namespace {
constexpr auto kInterval = std::chrono::milliseconds(250);
bool g_shown = false;

// Columns of the terminal on standard error; 80 when it does not say.
size_t terminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}
}  // namespace

std::string formatProgress(int64_t pos, int64_t total, double seconds, unsigned found) {
  if (total < 0) total = 0;
  if (pos < 0) pos = 0;
  if (pos > total) pos = total;
  const int percent = total > 0 ? static_cast<int>(pos * 100.0 / total) : 100;
  std::string line = "bfsscan: " + formatBytes(pos) + " of " + formatBytes(total) + " (" +
                     std::to_string(percent) + "%)";
  if (seconds >= 1.0 && pos > 0) {
    const double rate = pos / seconds;
    line += ", " + formatBytes(static_cast<uint64_t>(rate)) + "/s, " +
            formatDuration((total - pos) / rate) + " left";
  }
  line += ", " + std::to_string(found) + (found == 1 ? " file system" : " file systems");
  return line;
}

void clearProgressLine() {
  if (!g_shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  g_shown = false;
}

Progress::Progress(int64_t total)
    : enabled_(::isatty(STDERR_FILENO) == 1),
      total_(total),
      started_(std::chrono::steady_clock::now()),
      last_(started_) {
  if (enabled_) draw(0, 0);
}

Progress::~Progress() { clearProgressLine(); }

void Progress::maybeDraw(int64_t pos, unsigned found) {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < kInterval) return;
  last_ = now;
  draw(pos, found);
}

void Progress::draw(int64_t pos, unsigned found) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  std::string line = formatProgress(pos, total_, seconds, found);
  // A line that wraps could not be taken back with a carriage return.
  const size_t columns = terminalColumns();
  if (line.size() >= columns) line.resize(columns - 1);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  g_shown = true;
}
