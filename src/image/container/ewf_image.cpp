// Expert Witness sets (disk.E01, disk.E02, ...) read through libewf. The
// library reads a chunk it cannot verify (damaged, or kept in a segment
// file that is missing) as zeros and goes on; it only records a checksum
// error. Every read is checked against those records here, so that such
// data is a read failure and never passes for the disk's own bytes.
// Neither does the library check the MD5 the set stores of the media: the
// media is hashed here as the scan reads it from start to end, and
// compared once all of it was read, so that a segment file of another
// acquisition is told without reading the set twice. A large set is decoded
// on two cores: a second handle reads ahead of the scan (decode_ahead.h).
#include <libewf.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "container_image.h"
#include "hashing.h"
#include "decode_ahead.h"

namespace {

std::string takeError(libewf_error_t*& error) {
  return takeLibraryError(error, libewf_error_backtrace_sprint, libewf_error_free);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The segment file after name: E01 ... E99, EAA ... EZZ, FAA ...; the same
// for the .e01, .s01 and .L01 forms. Empty where the naming ends.
std::string nextSegmentName(std::string name) {
  if (name.size() < 4 || name[name.size() - 4] != '.') return "";
  char* c = &name[name.size() - 3];
  if (std::isdigit(static_cast<unsigned char>(c[1])) &&
      std::isdigit(static_cast<unsigned char>(c[2]))) {
    const int n = (c[1] - '0') * 10 + (c[2] - '0') + 1;
    if (n <= 99) {
      c[1] = static_cast<char>('0' + n / 10);
      c[2] = static_cast<char>('0' + n % 10);
    } else {
      c[1] = c[2] = std::isupper(static_cast<unsigned char>(c[0])) ? 'A' : 'a';
    }
    return name;
  }
  for (int i = 2; i >= 0; --i) {
    if (!std::isalpha(static_cast<unsigned char>(c[i]))) return "";
    const bool upper = std::isupper(static_cast<unsigned char>(c[i]));
    if (c[i] != (upper ? 'Z' : 'z')) {
      ++c[i];
      return name;
    }
    c[i] = upper ? 'A' : 'a';
  }
  return "";
}

// The first segment file of the set that name belongs to.
std::string firstSegmentName(std::string name) {
  if (name.size() >= 4 && name[name.size() - 4] == '.') name.replace(name.size() - 2, 2, "01");
  return name;
}

// The segment files of the set path belongs to, in order, as the library
// finds them: from the first one on, up to the first one missing. A name
// the library does not take for a segment name is a set of one, and then
// named is false.
std::vector<std::string> globSegments(const std::string& path, bool& named) {
  libewf_error_t* error = nullptr;
  char** names = nullptr;
  int count = 0;
  named =
      libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) == 1;
  if (!named) {
    libewf_error_free(&error);
    return {path};
  }
  std::vector<std::string> segments(names, names + count);
  libewf_glob_free(names, count, &error);
  libewf_error_free(&error);
  if (segments.empty()) {
    throw ReadFailure(ReadFailure::kSystemError,
                      "segment file " + firstSegmentName(path) + " is missing");
  }
  return segments;
}

class EwfImage : public ContainerImage {
 public:
  explicit EwfImage(const std::string& path) : ContainerImage("ewf") {
    bool named = false;
    const std::vector<std::string> segments = globSegments(path, named);
    std::vector<char*> names;
    for (const std::string& s : segments) {
      checkImageFile("segment file", s);
      names.push_back(const_cast<char*>(s.c_str()));
    }

    libewf_error_t* error = nullptr;
    if (!openHandle(names, handle_, error)) {
      throw ReadFailure(ReadFailure::kSystemError, "cannot open as EWF: " + takeError(error));
    }
    try {
      for (const std::string& s : segments) addFile(s);
      // The set is whole when its last segment file closes it; a set found
      // up to a missing segment file is not.
      if (libewf_handle_segment_files_corrupted(handle_, &error) != 0) {
        libewf_error_free(&error);
        const std::string next = named ? nextSegmentName(segments.back()) : "";
        incomplete_ = !next.empty() && !fileExists(next)
                          ? "segment file " + next + " is missing"
                          : "the segment files are incomplete or damaged";
      }
      size64_t mediaSize = 0;
      if (libewf_handle_get_media_size(handle_, &mediaSize, &error) != 1 ||
          libewf_handle_get_bytes_per_sector(handle_, &bytesPerSector_, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError, takeError(error));
      }
      setLength(mediaSize);
      uint8_t md5[16];
      const int stored = libewf_handle_get_md5_hash(handle_, md5, sizeof md5, &error);
      if (stored < 0) libewf_error_free(&error);
      if (stored == 1) storedMd5_ = hexOf(md5, sizeof md5);
      readRecord();
      ahead_ = DecodeAhead::start(mediaSize, [&]() -> DecodeAhead::Reader {
        libewf_error_t* ignored = nullptr;
        if (!openHandle(names, second_, ignored)) {
          libewf_error_free(&ignored);
          return nullptr;
        }
        return [this](uint64_t pos, char* buf, size_t n) { return readWith(second_, pos, buf, n); };
      });
    } catch (...) {
      close();
      throw;
    }
  }

  ~EwfImage() override { close(); }

  MediaRecord mediaRecord() const override { return record_; }
  MediaVerdict mediaVerdict() const override { return verdict_; }

 private:
  // Opens the set read-only in handle; false with error set when it cannot.
  static bool openHandle(std::vector<char*>& names, libewf_handle_t*& handle,
                         libewf_error_t*& error) {
    if (libewf_handle_initialize(&handle, &error) != 1) return false;
    if (libewf_handle_open(handle, names.data(), static_cast<int>(names.size()),
                           LIBEWF_OPEN_READ, &error) != 1) {
      libewf_handle_free(&handle, nullptr);
      return false;
    }
    return true;
  }

  void close() {
    ahead_.reset();  // its thread reads with the second handle
    for (libewf_handle_t** h : {&second_, &handle_}) {
      if (*h == nullptr) continue;
      libewf_handle_close(*h, nullptr);
      libewf_handle_free(h, nullptr);
    }
  }

  // Reads with handle, failing where it recorded a damaged chunk.
  size_t readWith(libewf_handle_t* handle, uint64_t pos, char* buf, size_t n) const {
    libewf_error_t* error = nullptr;
    const ssize_t got =
        libewf_handle_read_random(handle, buf, n, static_cast<off64_t>(pos), &error);
    if (got < 0) throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    checkChunks(handle, pos, static_cast<uint64_t>(got));
    return static_cast<size_t>(got);
  }

  size_t readMedia(uint64_t pos, char* buf, size_t n) const override {
    size_t got = ahead_ ? ahead_->take(pos, buf, n) : 0;
    if (got < n) got += readWith(handle_, pos + got, buf + got, n - got);
    const uint64_t end = pos + static_cast<uint64_t>(got);
    if (!storedMd5_.empty() && pos <= hashedTo_ && end > hashedTo_) {
      md5_.update(buf + (hashedTo_ - pos), static_cast<size_t>(end - hashedTo_));
      hashedTo_ = end;
    }
    return static_cast<size_t>(got);
  }

 public:
  void verifyMedia() const override {
    if (storedMd5_.empty() || hashedTo_ != static_cast<uint64_t>(length())) return;
    const std::string read = md5_.finish().front().hex;
    hashedTo_ = 0;
    verdict_ = read == storedMd5_ ? MediaVerdict::kMatches : MediaVerdict::kDiffers;
    if (read != storedMd5_) {
      throw ReadFailure(ReadFailure::kSystemError,
                        "the media read has MD5 " + read + ", not " + storedMd5_ +
                            " as the set stores: a segment file may come from another "
                            "acquisition");
    }
  }

 private:

  // Throws when the library recorded a checksum error in the media bytes
  // [pos, pos + n), which it then handed out as zeros. The records of
  // adjacent chunks merge, so the records are searched, not counted.
  void checkChunks(libewf_handle_t* handle, uint64_t pos, uint64_t n) const {
    libewf_error_t* error = nullptr;
    uint32_t records = 0;
    if (libewf_handle_get_number_of_checksum_errors(handle, &records, &error) != 1) {
      throw ReadFailure(ReadFailure::kSystemError, takeError(error));
    }
    for (uint32_t i = 0; i < records; ++i) {
      uint64_t firstSector = 0, sectors = 0;
      if (libewf_handle_get_checksum_error(handle, i, &firstSector, &sectors, &error) != 1) {
        throw ReadFailure(ReadFailure::kSystemError, takeError(error));
      }
      const uint64_t start = firstSector * bytesPerSector_;
      const uint64_t end = start + sectors * bytesPerSector_;
      if (start < pos + n && pos < end) {
        const std::string at = std::to_string(start < pos ? pos : start);
        throw ReadFailure(ReadFailure::kSystemError,
                          incomplete_.empty()
                              ? "checksum error at media offset " + at + " (damaged chunk)"
                              : "no data at media offset " + at + ": " + incomplete_);
      }
    }
  }

  static std::string hexOf(const uint8_t* bytes, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
      out += kHex[bytes[i] >> 4];
      out += kHex[bytes[i] & 15];
    }
    return out;
  }

  // The header value named id, at most 1 KiB of it; empty when absent.
  std::string headerValue(const char* id) const {
    uint8_t value[1024];
    libewf_error_t* error = nullptr;
    const int got = libewf_handle_get_utf8_header_value(
        handle_, reinterpret_cast<const uint8_t*>(id), std::strlen(id), value, sizeof value, &error);
    if (got != 1) {
      libewf_error_free(&error);
      return "";
    }
    const char* text = reinterpret_cast<const char*>(value);
    return std::string(text, strnlen(text, sizeof value));
  }

  // The stored digests and the acquisition details, as the set carries them.
  void readRecord() {
    record_.storedMd5 = storedMd5_;
    uint8_t sha1[20];
    libewf_error_t* error = nullptr;
    const int stored = libewf_handle_get_sha1_hash(handle_, sha1, sizeof sha1, &error);
    if (stored < 0) libewf_error_free(&error);
    if (stored == 1) record_.storedSha1 = hexOf(sha1, sizeof sha1);
    // The acquisition date as ISO 8601, where the library can give it so.
    if (libewf_handle_set_header_values_date_format(handle_, LIBEWF_DATE_FORMAT_ISO8601,
                                                    &error) != 1) {
      libewf_error_free(&error);
    }
    record_.caseNumber = headerValue("case_number");
    record_.evidenceNumber = headerValue("evidence_number");
    record_.examiner = headerValue("examiner_name");
    record_.description = headerValue("description");
    record_.acquired = headerValue("acquiry_date");
  }

  libewf_handle_t* handle_ = nullptr;
  MediaRecord record_;
  mutable MediaVerdict verdict_ = MediaVerdict::kNotChecked;
  uint32_t bytesPerSector_ = 512;
  std::string incomplete_;  // why the set is not whole; empty when it is
  std::string storedMd5_;   // in hexadecimal; empty when the set stores none
  // The media hashed so far, from its start up to hashedTo_.
  mutable FileHasher md5_{{"md5"}};
  mutable uint64_t hashedTo_ = 0;
  libewf_handle_t* second_ = nullptr;  // the read-ahead's, when it runs
  std::unique_ptr<DecodeAhead> ahead_;
};

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define BFSSCAN_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BFSSCAN_LEAK_CHECKED 1
#endif
#endif
#ifdef BFSSCAN_LEAK_CHECKED
// The library (20140813) never frees the buffer of a chunk it could not
// read; the leak checker of the sanitizer builds is told to pass over it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libewf_chunk_data_initialize\n";
}
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

std::unique_ptr<Image> openEwfImage(const std::string& path) {
  return std::make_unique<EwfImage>(path);
}
