// Split raw sets (disk.001, disk.002, ... or disk.aa, disk.ab, ...) read
// through libsmraw. The library finds the segment files from the first one
// on, up to the first one missing, and takes them for the whole disk. A
// later segment file that exists shows a gap: the media is read up to it,
// and a read that reaches the gap fails. A missing last segment file shows
// nothing and cannot be told from a shorter disk.
#include <dirent.h>
#include <libsmraw.h>

#include <cctype>
#include <cstring>
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

// Whether a segment file numbered after last lies in its directory.
bool laterSegmentExists(const std::string& last, const Numbering& numbering) {
  const std::string dir = directoryOf(last);
  const std::string base = last.substr(dir.size());
  if (numbering.width == 0 || numbering.width > base.size()) return false;
  const size_t stem = base.size() - numbering.width;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return false;
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() != base.size() || name.compare(0, stem, base, 0, stem) != 0) continue;
    bool numbered = true;
    for (size_t i = stem; i < name.size(); ++i) {
      numbered = numbered && isSuffixChar(name[i], numbering.digits);
    }
    if (numbered && name.compare(stem, std::string::npos, base, stem, std::string::npos) > 0) {
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}

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
      setLength(mediaSize);
      const Numbering numbering = numberingOf(segments.front());
      if (laterSegmentExists(segments.back(), numbering)) {
        setMissingTail("segment file " + nextSegmentName(segments.back(), numbering) +
                       " is missing");
      }
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

  size_t readMedia(uint64_t pos, char* buf, size_t n) const override {
    libsmraw_error_t* error = nullptr;
    const ssize_t got =
        libsmraw_handle_read_buffer_at_offset(handle_, buf, n, static_cast<off64_t>(pos), &error);
    if (got < 0) throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    return static_cast<size_t>(got);
  }

  libsmraw_handle_t* handle_ = nullptr;
};

}  // namespace

std::unique_ptr<Image> openSplitImage(const std::string& path) {
  return std::make_unique<SplitImage>(path);
}
