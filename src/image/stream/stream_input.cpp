// Reading standard input, named pipes, compressed images and archives into
// spools, one image at a time.
#include "stream_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>

#include "byte_source.h"
#include "escape.h"
#include "human_units.h"
#include "image_bound.h"
#include "libarchive_api.h"
#include "spool.h"
#include "stream_failure.h"
#include "stream_names.h"
#include "stream_signature.h"
#include "unique_stems.h"

namespace {

constexpr size_t kPiece = 1 << 20;

std::string stemOf(const std::string& name) {
  return boost::filesystem::path(withoutCompressionSuffix(name)).stem().string();
}

// A spooled container: the container library reads it by the name
// /proc/self/fd/N, which lives as long as the spool's descriptor (held by
// the raw image of the spool).
class SpooledContainer : public Image {
 public:
  SpooledContainer(std::unique_ptr<Image> spool, std::unique_ptr<Image> inner)
      : spool_(std::move(spool)), inner_(std::move(inner)) {}
  ~SpooledContainer() override { inner_.reset(); }
  const char* formatName() const override { return inner_->formatName(); }
  int64_t length() const override { return inner_->length(); }
  bool isSameFile(dev_t dev, ino_t ino) const override { return inner_->isSameFile(dev, ino); }
  uint64_t nextData(uint64_t pos) const override { return inner_->nextData(pos); }
  uint64_t nextHole(uint64_t pos) const override { return inner_->nextHole(pos); }
  size_t readUpTo(uint64_t pos, char* buf, size_t n) const override {
    return inner_->readUpTo(pos, buf, n);
  }

 private:
  std::unique_ptr<Image> spool_;
  std::unique_ptr<Image> inner_;
};

// The spool as an image: a container when it carries a container's
// signature, otherwise raw. A container its library refuses is refused
// here as when it is named (throws ReadFailure), never read as raw.
std::unique_ptr<Image> imageOfSpool(Spool& spool) {
  const int fd = spool.release();
  auto raw = std::make_unique<RawImage>(fd);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (!holdsContainer(*raw, path)) return raw;
  std::unique_ptr<Image> opened = openImage(path, ImageFormat::kAuto);
  return std::make_unique<SpooledContainer>(std::move(raw), std::move(opened));
}

// Decodes src into a spool and opens it; every failure becomes a problem of
// the image, and what was decoded before it is kept.
void spoolInto(DecodedImage& out, ByteSource& src, const ImageBound& maxImage,
               const std::function<void()>& tick) {
  std::unique_ptr<Spool> spool;
  try {
    spool = std::make_unique<Spool>();
  } catch (const SpoolFailure& failure) {
    out.problems.push_back(failure.what());
    return;
  }
  std::vector<char> buf(kPiece);
  try {
    for (;;) {
      tick();
      size_t n = src.read(buf.data(), buf.size());
      if (n == 0) break;
      const uint64_t most = maxImage.bytes;
      if (most != 0 && n > most - spool->length()) {
        spool->append(buf.data(), static_cast<size_t>(most - spool->length()));
        out.problems.push_back("the decompressed image is longer than " + formatBytes(most) +
                               " (" + maxImage.why + "); the rest was not read");
        break;
      }
      spool->append(buf.data(), n);
    }
  } catch (const StreamDamage& damage) {
    tick();  // a read a stop cut short: the run is interrupted, the spool removed
    out.problems.push_back(std::string(damage.what()) + " at byte " +
                           std::to_string(spool->length()) + " of the decompressed image");
  } catch (const SpoolFailure& failure) {
    out.problems.push_back(failure.what());
  }
  try {
    spool->finish();
    out.image = imageOfSpool(*spool);
  } catch (const SpoolFailure& failure) {
    out.problems.push_back(failure.what());
  } catch (const ReadFailure& failure) {
    out.problems.push_back(failure.description());
  }
}

// An image of no bytes, for an input that gave none that can be trusted.
void emptyImage(DecodedImage& out) {
  try {
    Spool empty;
    empty.finish();
    out.image = imageOfSpool(empty);
  } catch (const SpoolFailure& failure) {
    out.problems.push_back(failure.what());
  }
}

// Decodes src, compressed one level or not at all, into out.
void decompressInto(DecodedImage& out, ByteSource& src, const ImageBound& maxImage,
                    const std::function<void()>& tick) {
  PeekedSource peeked(src, kSignatureBytes);
  std::unique_ptr<ByteSource> decoder;
  try {
    const StreamKind kind = kindOf(peeked.head());
    if (kind == StreamKind::kGzip || kind == StreamKind::kFilter) {
      decoder = makeDecoder(peeked.head(), peeked);
    }
  } catch (const StreamDamage& damage) {
    out.problems.push_back(std::string(damage.what()) + " at byte 0 of the decompressed image");
    return;
  }
  spoolInto(out, decoder ? *decoder : peeked, maxImage, tick);
}

// The input as it is read: a descriptor, and what it counts.
struct Feed {
  int fd = -1;
  bool ownFd = false;
  uint64_t total = 0;  // the length of a plain file, else 0
  std::unique_ptr<FdSource> file;
  std::unique_ptr<PeekedSource> head;      // the input's first bytes
  std::unique_ptr<ByteSource> decoder;     // gzip or another filter, when compressed
  std::unique_ptr<PeekedSource> inner;     // the decoded stream's first bytes
  std::string openDamage;                  // the decoder could not start
  bool refused = false;                    // a character device that gives data
  bool seekable = false;                   // a plain file, not compressed: read at random
  uint64_t position = 0;                   // where a seekable file is read
  std::string format;                      // the archive format named; empty: any
  std::vector<std::string> chain;          // the compression, when compressed

  ~Feed() {
    inner.reset();
    decoder.reset();
    if (ownFd && fd >= 0) ::close(fd);
  }
  // The bytes to read: decoded when compressed.
  ByteSource& bytes() { return inner ? static_cast<ByteSource&>(*inner) : *head; }
  // The bytes of the input read so far.
  uint64_t consumed() const { return seekable ? position : file->consumed(); }
};

// One image: the whole stream.
class SingleInput : public StreamInput {
 public:
  SingleInput(std::string path, std::unique_ptr<Feed> feed, std::string stem, const ImageBound& maxImage)
      : path_(std::move(path)), feed_(std::move(feed)), stem_(std::move(stem)),
        maxImage_(maxImage) {}

  bool next(std::string* name) override {
    if (given_) return false;
    given_ = true;
    *name = path_;
    return true;
  }

  DecodedImage decode(const DecodeTick& tick) override {
    DecodedImage out;
    out.stem = stem_;
    Feed& f = *feed_;
    out.chain = f.chain;
    out.storedLength = f.total;
    auto progress = [&]() { tick(f.consumed(), f.total); };
    if (!f.openDamage.empty()) {
      out.problems.push_back(f.openDamage);
      emptyImage(out);
      return out;
    }
    if (f.refused) {  // a character device that gives data
      out.problems.push_back("not a regular file or disk");
      return out;
    }
    spoolInto(out, f.bytes(), maxImage_, progress);
    return out;
  }

 private:
  std::string path_;
  std::unique_ptr<Feed> feed_;
  std::string stem_;
  ImageBound maxImage_;
  bool given_ = false;
};

// Standard input that is a plain file: read in place as a raw image or a
// container, like a file named on the command line.
class PlainInput : public StreamInput {
 public:
  PlainInput(std::string path, std::string stem, int fd)
      : path_(std::move(path)), stem_(std::move(stem)), fd_(fd) {}
  bool next(std::string* name) override {
    if (given_) return false;
    given_ = true;
    *name = path_;
    return true;
  }
  DecodedImage decode(const DecodeTick&) override {
    DecodedImage out;
    out.stem = stem_;
    try {
      out.image = openImage("/proc/self/fd/" + std::to_string(fd_), ImageFormat::kAuto);
    } catch (const ReadFailure& failure) {
      out.problems.push_back(failure.description());
    }
    return out;
  }

 private:
  std::string path_, stem_;
  int fd_;
  bool given_ = false;
};

// Data of the archive's current member.
class MemberSource : public ByteSource {
 public:
  MemberSource(const LibarchiveApi& la, archive* a) : la_(la), a_(a) {}
  size_t read(char* buf, size_t n) override {
    const la_ssize_t got = la_.archive_read_data(a_, buf, n);
    if (got < 0) {
      const char* msg = la_.archive_error_string(a_);
      throw StreamDamage(msg ? msg : "the archive cannot be read");
    }
    return static_cast<size_t>(got);
  }

 private:
  const LibarchiveApi& la_;
  archive* a_;
};

// An archive: one image per regular-file member.
class ArchiveInput : public StreamInput {
 public:
  // problem: why the archive cannot be read at all (empty when it can).
  ArchiveInput(std::string path, std::unique_ptr<Feed> feed, const ImageBound& maxImage, bool keepGoing,
               const std::string& problem = "")
      : path_(std::move(path)), feed_(std::move(feed)), maxImage_(maxImage), keepGoing_(keepGoing),
        input_(64 << 10) {
    archive_ = !feed_->format.empty() ? feed_->format
               : archiveName(feed_->inner ? feed_->inner->head() : feed_->head->head());
    if (!problem.empty()) {
      ended_ = true;
      endProblem_ = problem;
      return;
    }
    try {
      la_ = loadLibarchive();
    } catch (const StreamDamage& damage) {
      ended_ = true;
      endProblem_ = damage.what();
      return;
    }
    a_ = la_->archive_read_new();
    la_->archive_read_support_filter_all(a_);
    enableLibarchiveFormat(*la_, a_, feed_->format);
    int rc;
    if (feed_->seekable) {
      // Read at random (zip's central directory, 7z's index at the end).
      feed_->position = 0;
      ::lseek(feed_->fd, 0, SEEK_SET);
      la_->archive_read_set_read_callback(a_, &ArchiveInput::readFileCallback);
      la_->archive_read_set_seek_callback(a_, &ArchiveInput::seekCallback);
      la_->archive_read_set_callback_data(a_, this);
      rc = la_->archive_read_open1(a_);
    } else {
      rc = la_->archive_read_open(a_, this, nullptr, &ArchiveInput::readCallback, nullptr);
    }
    if (rc != ARCHIVE_OK) {
      ended_ = true;
      endProblem_ = errorText();
    }
  }
  ~ArchiveInput() override {
    if (a_ != nullptr) la_->archive_read_free(a_);
  }
  bool mayGiveSeveral() const override { return true; }

  bool next(std::string* name) override {
    if (!havePeeked_ && !ended_) advance();
    if (havePeeked_) {
      havePeeked_ = false;
      member_ = peeked_;
      // The member's name comes from the archive: escaped as standard error
      // escapes names, so that it cannot forge a line of the report.
      *name = path_ + ":" + escapeForDiag(member_);
      return true;
    }
    // An archive without a single member to scan still gives one line.
    if (!reportedNone_ && count_ == 0) {
      reportedNone_ = true;
      member_.clear();
      *name = path_;
      return true;
    }
    return false;
  }

  std::string member() const override { return member_; }

  DecodedImage decode(const DecodeTick& tick) override {
    DecodedImage out;
    if (member_.empty() && count_ == 0) {  // no member at all
      out.stem = stemOf(path_);
      out.problems.push_back(endProblem_.empty() ? "the archive holds no regular file"
                                                 : endProblem_);
      emptyImage(out);
      return out;
    }
    ++count_;
    out.stem = stems_.take(stemOf(boost::filesystem::path(member_).filename().string()));
    Feed& f = *feed_;
    out.chain = f.chain;
    out.chain.push_back(archive_ + " member " + member_);
    out.storedLength = f.total;
    MemberSource data(*la_, a_);
    decompressInto(out, data, maxImage_, [&]() { tick(f.consumed(), f.total); });
    if (!out.problems.empty() && !inner_.empty()) {
      ended_ = true;  // the archive's own stream is broken: nothing after it is reliable
    } else if (!out.problems.empty() && !keepGoing_) {
      ended_ = true;
      out.problems.back() += "; the rest of the archive was not read (--keep-going reads it)";
    } else {
      advance();
      if (!endProblem_.empty()) out.problems.push_back("the archive is damaged after it: " +
                                                       endProblem_);
    }
    out.last = !havePeeked_;
    return out;
  }

 private:
  // Reads headers up to the next regular file, or the end.
  void advance() {
    for (;;) {
      archive_entry* entry = nullptr;
      const int rc = la_->archive_read_next_header(a_, &entry);
      if (rc == ARCHIVE_EOF) {
        ended_ = true;
        return;
      }
      if (rc < ARCHIVE_WARN) {
        ended_ = true;
        endProblem_ = errorText();
        return;
      }
      if (la_->archive_entry_filetype(entry) != AE_IFREG) continue;
      const char* name = la_->archive_entry_pathname(entry);
      peeked_ = name != nullptr && *name != '\0' ? name : "?";
      havePeeked_ = true;
      return;
    }
  }

  std::string errorText() {
    if (!inner_.empty()) return inner_;
    const char* msg = a_ != nullptr ? la_->archive_error_string(a_) : nullptr;
    return msg ? msg : "the archive cannot be read";
  }

  static la_ssize_t readFileCallback(archive* a, void* self, const void** buffer) {
    auto* s = static_cast<ArchiveInput*>(self);
    for (;;) {
      const ssize_t got = ::read(s->feed_->fd, s->input_.data(), s->input_.size());
      if (got >= 0) {
        s->feed_->position += static_cast<uint64_t>(got);
        *buffer = s->input_.data();
        return got;
      }
      if (errno != EINTR) {
        s->la_->archive_set_error(a, errno, "%s", std::strerror(errno));
        return -1;
      }
    }
  }

  static la_int64_t seekCallback(archive* a, void* self, la_int64_t offset, int whence) {
    auto* s = static_cast<ArchiveInput*>(self);
    const off_t at = ::lseek(s->feed_->fd, static_cast<off_t>(offset), whence);
    if (at < 0) {
      s->la_->archive_set_error(a, errno, "%s", std::strerror(errno));
      return ARCHIVE_FATAL;
    }
    s->feed_->position = static_cast<uint64_t>(at);
    return at;
  }

  static la_ssize_t readCallback(archive* a, void* self, const void** buffer) {
    auto* s = static_cast<ArchiveInput*>(self);
    try {
      const size_t got = s->feed_->bytes().read(s->input_.data(), s->input_.size());
      *buffer = s->input_.data();
      return static_cast<la_ssize_t>(got);
    } catch (const StreamDamage& d) {
      s->inner_ = d.what();
      s->la_->archive_set_error(a, EIO, "%s", d.what());
      return -1;
    }
  }

  std::string path_;
  std::unique_ptr<Feed> feed_;
  ImageBound maxImage_;
  bool keepGoing_;
  std::vector<char> input_;
  std::shared_ptr<const LibarchiveApi> la_;
  archive* a_ = nullptr;
  std::string inner_;       // a failure of the stream below the archive
  std::string endProblem_;  // why the archive ended before its end
  std::string member_, peeked_;
  std::string archive_;  // the archive format's name, for the chain
  bool havePeeked_ = false;
  bool ended_ = false;
  bool reportedNone_ = false;
  unsigned count_ = 0;
  UniqueStems stems_;
};

// An archive. One that must be read at random (7z keeps its index at the
// end) but arrives as a stream is first copied whole into a spool.
std::unique_ptr<StreamInput> openArchive(const std::string& path, std::unique_ptr<Feed> feed,
                                         const ImageBound& maxImage, bool keepGoing) {
  const std::string& head = feed->inner ? feed->inner->head() : feed->head->head();
  if (feed->seekable || head.compare(0, 6, std::string("7z\xbc\xaf\x27\x1c", 6)) != 0) {
    return std::make_unique<ArchiveInput>(path, std::move(feed), maxImage, keepGoing);
  }
  DecodedImage copy;
  spoolInto(copy, feed->bytes(), maxImage, [] {});
  auto spooled = std::make_unique<Feed>();
  spooled->format = feed->format.empty() ? archiveName(head) : feed->format;
  spooled->chain = feed->chain;
  std::string problem = copy.problems.empty() ? "" : copy.problems.front();
  if (problem.empty() && copy.image) {
    spooled->fd = ::dup(copy.image->rawFd());
    spooled->ownFd = true;
    spooled->seekable = true;
    spooled->total = static_cast<uint64_t>(copy.image->length());
    if (spooled->fd < 0) problem = std::strerror(errno);
  }
  return std::make_unique<ArchiveInput>(path, std::move(spooled), maxImage, keepGoing, problem);
}


// The input read from feed->fd (st: what it is) as a stream.
std::unique_ptr<StreamInput> openFeed(const std::string& path, std::unique_ptr<Feed> feed,
                                      const struct stat& st, const std::string& stem,
                                      const std::string& forced, uint64_t maxImage,
                                      bool keepGoing, const bfsscan::StopToken* stop) {
  const StreamKind forcedKind = kindOfFormatName(forced);
  if (S_ISREG(st.st_mode)) {
    feed->total = static_cast<uint64_t>(st.st_size);
    ::posix_fadvise(feed->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  ImageBound bound;
  if (maxImage == kMaxImageByInput) {
    bound = defaultImageBound(st);
  } else {
    bound.bytes = maxImage;
    bound.why = "--max-image";
  }
  feed->file = std::make_unique<FdSource>(feed->fd, stop);
  feed->head = std::make_unique<PeekedSource>(*feed->file, kSignatureBytes);
  if (S_ISCHR(st.st_mode)) {
    // A character device: one at its end at once (/dev/null) is an empty
    // image; one that gives data is refused (it may never end).
    feed->refused = !feed->head->head().empty();
    return std::make_unique<SingleInput>(path, std::move(feed), stem, bound);
  }
  const StreamKind kind = forcedKind != StreamKind::kNone ? forcedKind : kindOf(feed->head->head());
  if (kind == StreamKind::kGzip || kind == StreamKind::kFilter) {
    feed->chain.push_back(forcedKind != StreamKind::kNone ? forced
                                                          : compressionName(feed->head->head()));
    try {
      feed->decoder = makeDecoder(feed->head->head(), *feed->head,
                                  forcedKind != StreamKind::kNone ? forced : "");
      feed->inner = std::make_unique<PeekedSource>(*feed->decoder, kSignatureBytes);
    } catch (const StreamDamage& damage) {
      feed->openDamage = std::string(damage.what()) + " at byte 0 of the decompressed image";
      return std::make_unique<SingleInput>(path, std::move(feed), stem, bound);
    }
    if (kindOf(feed->inner->head()) == StreamKind::kArchive) {
      return openArchive(path, std::move(feed), bound, keepGoing);
    }
  } else if (kind == StreamKind::kArchive) {
    feed->seekable = S_ISREG(st.st_mode);
    feed->format = forced;
    return openArchive(path, std::move(feed), bound, keepGoing);
  }
  return std::make_unique<SingleInput>(path, std::move(feed), stem, bound);
}

}  // namespace

std::unique_ptr<StreamInput> StreamInput::openDescriptor(int fd, const std::string& path,
                                                         const std::string& stem,
                                                         const std::string& forced,
                                                         uint64_t maxImage, bool keepGoing,
                                                         const bfsscan::StopToken* stop) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return nullptr;
  auto feed = std::make_unique<Feed>();
  feed->fd = fd;
  if (S_ISREG(st.st_mode)) {
    // A plain file is read in place unless its signature says otherwise.
    std::string head(kSignatureBytes, '\0');
    const ssize_t got = ::pread(fd, &head[0], head.size(), 0);
    head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (kindOfFormatName(forced) == StreamKind::kNone && kindOf(head) == StreamKind::kNone) {
      return std::make_unique<PlainInput>(path, stem, fd);
    }
  }
  return openFeed(path, std::move(feed), st, stem, forced, maxImage, keepGoing, stop);
}

std::unique_ptr<StreamInput> StreamInput::open(const std::string& path, ImageFormat format,
                                               const std::string& forced, uint64_t maxImage,
                                               bool keepGoing, const bfsscan::StopToken* stop) {
  if (format != ImageFormat::kAuto) return nullptr;
  if (path == "-") {
    return openDescriptor(STDIN_FILENO, path, "stdin", forced, maxImage, keepGoing, stop);
  }
  const StreamKind forcedKind = kindOfFormatName(forced);
  auto feed = std::make_unique<Feed>();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return nullptr;
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) return nullptr;
  if (S_ISREG(st.st_mode)) {
    // A plain file is a stream only by its signature.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::string head(kSignatureBytes, '\0');
    const ssize_t got = ::pread(fd, &head[0], head.size(), 0);
    head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (forcedKind == StreamKind::kNone && kindOf(head) == StreamKind::kNone) {
      ::close(fd);
      return nullptr;
    }
    feed->fd = fd;
  } else {
    feed->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (feed->fd < 0) return nullptr;
  }
  feed->ownFd = true;
  return openFeed(path, std::move(feed), st, stemOf(path), forced, maxImage, keepGoing, stop);
}

bool parseInputFormat(const std::string& name, ImageFormat* format, std::string* streamFormat) {
  streamFormat->clear();
  if (kindOfFormatName(name) != StreamKind::kNone) {
    *format = ImageFormat::kAuto;
    *streamFormat = name;
    return true;
  }
  return parseImageFormat(name, format);
}
