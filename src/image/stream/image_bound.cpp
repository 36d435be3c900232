// The default bound on a decompressed image, from the input and the room
// left in the temporary directory.
#include "image_bound.h"

#include <sys/statvfs.h>

#include <algorithm>

#include "spool.h"

namespace {

constexpr uint64_t kGiB = 1ull << 30;
constexpr uint64_t kTimesTheInput = 1000;
constexpr uint64_t kLeastLeftFree = 64ull << 20;

}  // namespace

ImageBound defaultImageBound(const struct stat& input) {
  ImageBound bound;
  if (S_ISREG(input.st_mode)) {
    const uint64_t size = static_cast<uint64_t>(std::max<off_t>(input.st_size, 0));
    const uint64_t times = size <= UINT64_MAX / kTimesTheInput ? size * kTimesTheInput : UINT64_MAX;
    bound.bytes = std::max(times, kGiB);
    bound.why = "by default 1,000 times the compressed file, at least 1 GiB; --max-image sets another";
    return bound;
  }
  const std::string dir = spoolDirectory();
  struct statvfs fs;
  if (::statvfs(dir.c_str(), &fs) != 0) {
    bound.bytes = 16ull << 40;
    bound.why = "by default; --max-image sets another";
    return bound;
  }
  const uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  const uint64_t blocks = static_cast<uint64_t>(fs.f_bavail);
  const uint64_t free = blocks <= UINT64_MAX / std::max<uint64_t>(unit, 1) ? blocks * unit : UINT64_MAX;
  const uint64_t margin = std::max(free / 10, kLeastLeftFree);
  bound.bytes = std::max<uint64_t>(free > margin ? free - margin : 0, 1ull << 20);
  bound.why = "by default, for a pipe, the free space of " + dir +
              " less a tenth or 64 MiB; --max-image sets another";
  return bound;
}
