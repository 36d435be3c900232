#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace {
constexpr auto kInterval = std::chrono::milliseconds(250);
bool g_shown = false;
}  // namespace

void clearProgressLine() {
  if (!g_shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  g_shown = false;
}

Progress::Progress(int64_t total)
    : enabled_(::isatty(STDERR_FILENO) == 1), total_(total), last_(std::chrono::steady_clock::now()) {
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
  const int percent = total_ > 0 ? static_cast<int>(pos * 100.0 / total_) : 100;
  std::fprintf(stderr, "\r\033[Kbfsscan: %lld of %lld bytes scanned (%d%%), %u file system%s found",
               static_cast<long long>(pos), static_cast<long long>(total_), percent, found,
               found == 1 ? "" : "s");
  std::fflush(stderr);
  g_shown = true;
}
