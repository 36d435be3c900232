#include "progress.h"

#include "human_units.h"

namespace {
constexpr auto kInterval = std::chrono::milliseconds(250);
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

Progress::Progress(Terminal& terminal) : terminal_(terminal) {}

void Progress::image(const ImageEvent& e) {
  enabled_ = terminal_.errIsTerminal();
  total_ = e.length;
  started_ = std::chrono::steady_clock::now();
  last_ = started_;
  if (enabled_) draw(0, 0);
}

void Progress::decoding(uint64_t consumed, uint64_t total) {
  if (!terminal_.errIsTerminal() || total == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (!decodingShown_) {
    decodingShown_ = true;
    started_ = now;
    last_ = now;
  } else if (now - last_ < kInterval) {
    return;
  }
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  terminal_.showProgress(formatProgress(static_cast<int64_t>(consumed),
                                        static_cast<int64_t>(total), seconds, 0) +
                         " (decompressing)");
}

void Progress::end(const EndEvent&) {
  decodingShown_ = false;
  enabled_ = false;
  terminal_.clearProgress();
}

void Progress::maybeDraw(int64_t pos, uint64_t found) {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < kInterval) return;
  last_ = now;
  draw(pos, found);
}

void Progress::draw(int64_t pos, uint64_t found) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  terminal_.showProgress(formatProgress(pos, total_, seconds, static_cast<unsigned>(found)));
}
