// Split raw sets (disk.001, disk.002, ... or disk.aa, disk.ab, ...) read
// through libsmraw. The library finds the segment files from the first one
// on, up to the first one missing, and takes them for the whole disk. A
// later segment file that exists shows a gap: the segments after it are
// read here, each at the offset it would have if every missing one were
// there at the size of the first, and a read in a missing one fails naming
// it. A missing last segment file shows nothing and cannot be told from a
// shorter disk.
#include <dirent.h>
#include <libsmraw.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "container_image.h"

namespace {

std::string takeError(libsmraw_error_t*& error) {
  return takeLibraryError(error, libsmraw_error_backtrace_sprint, libsmraw_error_free);
}

// How the segment files of a set are numbered: a suffix of this many
// decimal digits or lower-case letters; width 0 for a set of one file.
struct Numbering {
  size_t width = 0;
  bool digits = true;
};

bool isSuffixChar(char c, bool digits) {
  return digits ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c >= 'a' && c <= 'z';
}

// The numbering of a set from its first segment file: its trailing digits
// (disk.001, disk.000), or as many letters as it ends in a's (disk.aa, xaa).
Numbering numberingOf(const std::string& first) {
  Numbering numbering;
  size_t n = 0;
  while (n < first.size() &&
         std::isdigit(static_cast<unsigned char>(first[first.size() - 1 - n]))) {
    ++n;
  }
  if (n == 0) {
    while (n < first.size() && first[first.size() - 1 - n] == 'a') ++n;
    numbering.digits = false;
  }
  if (n == first.size() || first[first.size() - 1 - n] == '/') n = 0;
  numbering.width = n;
  return numbering;
}

// The segment file after name; empty where the numbering ends.
std::string nextSegmentName(std::string name, const Numbering& numbering) {
  for (size_t i = 0; i < numbering.width; ++i) {
    char& c = name[name.size() - 1 - i];
    const char last = numbering.digits ? '9' : 'z';
    if (c != last) {
      ++c;
      return name;
    }
    c = numbering.digits ? '0' : 'a';
  }
  return "";
}

// The last segment file of the set in the directory of a segment name
// numbered as numbering says; empty where none lies after name.
std::string lastSegmentAfter(const std::string& name, const Numbering& numbering) {
  const std::string dir = directoryOf(name);
  const std::string base = name.substr(dir.size());
  if (numbering.width == 0 || numbering.width > base.size()) return "";
  const size_t stem = base.size() - numbering.width;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return "";
  std::string last;
  while (const dirent* e = ::readdir(d)) {
    const std::string found = e->d_name;
    if (found.size() != base.size() || found.compare(0, stem, base, 0, stem) != 0) continue;
    bool numbered = true;
    for (size_t i = stem; i < found.size(); ++i) {
      numbered = numbered && isSuffixChar(found[i], numbering.digits);
    }
    // Same width: the order of the names is the order of the numbers.
    if (numbered && found > base && found > last) last = found;
  }
  ::closedir(d);
  return last.empty() ? "" : dir + last;
}

bool laterSegmentExists(const std::string& last, const Numbering& numbering) {
  return !lastSegmentAfter(last, numbering).empty();
}

// Segment files named after a gap, at most: a set numbered further is
// refused rather than listed.
constexpr size_t kMaxLaterSegments = 1 << 16;

// A segment after the first gap: its name, where its media starts, its
// size, and whether its file is there.
struct LaterSegment {
  std::string path;
  uint64_t start;
  uint64_t size;
  bool present;
};

}  // namespace

bool isSplitSetStart(const std::string& path) {
  const std::string name = path.substr(directoryOf(path).size());
  for (const char* first : {".000", ".001", ".aa"}) {
    const size_t n = std::strlen(first);
    if (name.size() > n && name.compare(name.size() - n, n, first) == 0) {
      return laterSegmentExists(path, numberingOf(path));
    }
  }
  return false;
}

namespace {

class SplitImage : public ContainerImage {
 public:
  explicit SplitImage(const std::string& path) : ContainerImage("split") {
    libsmraw_error_t* error = nullptr;
    char** names = nullptr;
    int count = 0;
    if (libsmraw_glob(path.c_str(), path.size(), &names, &count, &error) != 1) {
      throw ReadFailure(ReadFailure::kSystemError, "cannot open as split raw: " + takeError(error));
    }
    const std::vector<std::string> segments(names, names + count);
    libsmraw_glob_free(names, count, nullptr);
    if (segments.empty()) {
      throw ReadFailure(ReadFailure::kSystemError, "segment file " + path + " is missing");
    }

    std::vector<char*> segmentNames;
    for (const std::string& s : segments) {
      checkImageFile("segment file", s);
      segmentNames.push_back(const_cast<char*>(s.c_str()));
    }

    if (libsmraw_handle_initialize(&handle_, &error) != 1) {
      throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    }
    try {
      if (libsmraw_handle_open(handle_, segmentNames.data(), count, LIBSMRAW_OPEN_READ, &error) !=
          1) {
        throw ReadFailure(ReadFailure::kSystemError,
                          "cannot open as split raw: " + takeError(error));
      }
      for (const std::string& s : segments) addFile(s);
      size64_t mediaSize = 0;
      if (libsmraw_handle_get_media_size(handle_, &mediaSize, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError, takeError(error));
      }
      prefix_ = mediaSize;
      struct stat first;
      if (::stat(segments.front().c_str(), &first) != 0) {
        throw ReadFailure(ReadFailure::kSystemError, errno);
      }
      listLaterSegments(segments.back(), static_cast<uint64_t>(first.st_size));
      setLength(later_.empty() ? prefix_ : later_.back().start + later_.back().size);
    } catch (...) {
      close();
      throw;
    }
  }

  ~SplitImage() override { close(); }

 private:
  void close() {
    libsmraw_handle_close(handle_, nullptr);
    libsmraw_handle_free(&handle_, nullptr);
  }

  // The segments after the last one the library found, up to the last
  // one that lies in the directory; expected is the size of a missing one.
  void listLaterSegments(const std::string& found, uint64_t expected) {
    const Numbering numbering = numberingOf(found);
    const std::string last = lastSegmentAfter(found, numbering);
    if (last.empty()) return;
    uint64_t start = prefix_;
    for (std::string name = nextSegmentName(found, numbering); !name.empty();
         name = nextSegmentName(name, numbering)) {
      if (later_.size() == kMaxLaterSegments) {
        throw ReadFailure(ReadFailure::kSystemError, "too many segment files after a gap");
      }
      struct stat st;
      const bool present = ::stat(name.c_str(), &st) == 0;
      if (present) {
        checkImageFile("segment file", name);
        addFile(name);
      }
      const uint64_t size = present ? static_cast<uint64_t>(st.st_size) : expected;
      if (size > UINT64_MAX / 2 - start) {
        throw ReadFailure(ReadFailure::kSystemError, "the segment files are too large");
      }
      later_.push_back({name, start, size, present});
      start += size;
      if (name == last) break;
    }
  }

  size_t readMedia(uint64_t pos, char* buf, size_t n) const override {
    if (pos >= prefix_) return readLater(pos, buf, n);
    if (n > prefix_ - pos) n = static_cast<size_t>(prefix_ - pos);
    libsmraw_error_t* error = nullptr;
    const ssize_t got =
        libsmraw_handle_read_buffer_at_offset(handle_, buf, n, static_cast<off64_t>(pos), &error);
    if (got < 0) throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    return static_cast<size_t>(got);
  }

  // Reads in the segments after the gap, one segment file at a time.
  size_t readLater(uint64_t pos, char* buf, size_t n) const {
    const auto after = std::upper_bound(
        later_.begin(), later_.end(), pos,
        [](uint64_t p, const LaterSegment& s) { return p < s.start; });
    const LaterSegment& segment = *(after - 1);
    if (!segment.present) {
      throw ReadFailure(ReadFailure::kSystemError, "segment file " + segment.path + " is missing");
    }
    if (open_ == nullptr || openPath_ != segment.path) {
      open_.reset();
      open_ = std::make_unique<RawImage>(segment.path);
      openPath_ = segment.path;
    }
    const uint64_t at = pos - segment.start;
    if (n > segment.size - at) n = static_cast<size_t>(segment.size - at);
    return open_->readUpTo(at, buf, n);
  }

  libsmraw_handle_t* handle_ = nullptr;
  uint64_t prefix_ = 0;  // the media the library reads
  std::vector<LaterSegment> later_;
  // The one segment file after the gap that is open.
  mutable std::unique_ptr<RawImage> open_;
  mutable std::string openPath_;
};

}  // namespace

std::unique_ptr<Image> openSplitImage(const std::string& path) {
  return std::make_unique<SplitImage>(path);
}
