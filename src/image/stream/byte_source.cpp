// The byte sources: a descriptor, zlib's gzip inflation with its checks,
// and libarchive's decoders for the other compressed streams.
#include "byte_source.h"

#include <poll.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "libarchive_api.h"
#include "stream_failure.h"

PeekedSource::PeekedSource(ByteSource& in, size_t headSize) : in_(in) {
  head_.resize(headSize);
  size_t got = 0;
  try {
    while (got < headSize) {
      const size_t n = in_.read(&head_[got], headSize - got);
      if (n == 0) break;
      got += n;
    }
  } catch (const StreamDamage& damage) {
    damage_ = damage.what();
  }
  head_.resize(got);
}

size_t PeekedSource::read(char* buf, size_t n) {
  if (given_ < head_.size()) {
    const size_t k = std::min(n, head_.size() - given_);
    std::memcpy(buf, head_.data() + given_, k);
    given_ += k;
    return k;
  }
  if (!damage_.empty()) throw StreamDamage(damage_);
  return in_.read(buf, n);
}

size_t FdSource::read(char* buf, size_t n) {
  for (;;) {
    if (stop_ != nullptr) waitForData();
    const ssize_t got = ::read(fd_, buf, n);
    if (got >= 0) {
      consumed_ += static_cast<uint64_t>(got);
      return static_cast<size_t>(got);
    }
    if (errno != EINTR) throw StreamDamage(std::strerror(errno));
    if (stop_ != nullptr && stop_->requested() != 0) throw StreamDamage("interrupted");
  }
}

void FdSource::waitForData() {
  // A signal that comes just before read() would not cut it short: the
  // wait is in short slices, each after a look at the token.
  for (;;) {
    if (stop_->requested() != 0) throw StreamDamage("interrupted");
    pollfd p = {fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, 200);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return;  // read() tells the rest
  }
}

namespace {

constexpr size_t kInput = 64 << 10;

// A decoder's message on one line, without doubled or trailing spaces.
std::string libraryText(const char* msg) {
  std::string out;
  for (const char* p = msg ? msg : "the compressed stream cannot be decoded"; *p; ++p) {
    const char c = (*p == '\n' || *p == '\t') ? ' ' : *p;
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

class GzipSource : public ByteSource {
 public:
  explicit GzipSource(ByteSource& in) : in_(in), input_(kInput) {
    std::memset(&z_, 0, sizeof z_);
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) throw StreamDamage("cannot start zlib");
  }
  ~GzipSource() override { inflateEnd(&z_); }

  size_t read(char* buf, size_t n) override {
    if (!pending_.empty()) throw StreamDamage(pending_);
    if (done_ || n == 0) return 0;
    z_.next_out = reinterpret_cast<Bytef*>(buf);
    z_.avail_out = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
    try {
      inflateInto();
    } catch (const StreamDamage& damage) {
      // The bytes inflated before the damage are handed out first.
      if (reinterpret_cast<char*>(z_.next_out) == buf) throw;
      pending_ = damage.what();
    }
    return static_cast<size_t>(reinterpret_cast<char*>(z_.next_out) - buf);
  }

 private:
  void inflateInto() {
    while (z_.avail_out > 0) {
      if (z_.avail_in == 0 && !fill()) {
        if (!inMember_) {  // the end, between members
          done_ = true;
          return;
        }
        throw StreamDamage("the compressed stream is cut short");
      }
      inMember_ = true;
      const int rc = inflate(&z_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        inMember_ = false;
        if (!nextMember()) {
          done_ = true;
          return;
        }
        continue;
      }
      if (rc == Z_OK) continue;
      if (rc == Z_BUF_ERROR && z_.avail_in == 0) continue;  // more input wanted
      if (rc == Z_DATA_ERROR) throw StreamDamage(describe(z_.msg));
      if (rc == Z_MEM_ERROR) throw StreamDamage("out of memory in zlib");
      throw StreamDamage("zlib error " + std::to_string(rc));
    }
  }

  static std::string describe(const char* msg) {
    const std::string m = msg ? msg : "invalid compressed data";
    if (m == "incorrect data check") return "gzip CRC-32 mismatch";
    if (m == "incorrect length check") return "gzip length (ISIZE) mismatch";
    return "gzip data damaged (" + m + ")";
  }

  bool fill() {
    if (eof_) return false;
    const size_t got = in_.read(input_.data(), input_.size());
    if (got == 0) {
      eof_ = true;
      return false;
    }
    z_.next_in = reinterpret_cast<Bytef*>(input_.data());
    z_.avail_in = static_cast<uInt>(got);
    return true;
  }

  // After a member: another one follows (concatenated gzip), or only zeros
  // (padding) or nothing. Anything else is damage.
  bool nextMember() {
    for (;;) {
      if (z_.avail_in == 0 && !fill()) return false;
      if (z_.next_in[0] == 0) {  // padding
        zerosSeen_ = true;
        ++z_.next_in;
        --z_.avail_in;
        continue;
      }
      if (zerosSeen_) throw StreamDamage("data after the end of the gzip stream");
      if (z_.next_in[0] != 0x1f) throw StreamDamage("data after the end of the gzip stream");
      if (inflateReset(&z_) != Z_OK) throw StreamDamage("cannot restart zlib");
      return true;
    }
  }

  ByteSource& in_;
  std::vector<char> input_;
  z_stream z_;
  bool eof_ = false;
  bool done_ = false;
  bool inMember_ = false;
  bool zerosSeen_ = false;
  std::string pending_;  // damage met after bytes that were handed out
};

// A zstd stream (frames one after another), decoded with libzstd straight
// into the caller's buffer. The window is limited to 128 MiB (--long=27),
// the library's default limit.
class ZstdSource : public ByteSource {
 public:
  explicit ZstdSource(ByteSource& in) : in_(in), input_(ZSTD_DStreamInSize()), z_(ZSTD_createDStream()) {
    if (z_ == nullptr) throw StreamDamage("cannot start zstd");
    ZSTD_DCtx_setParameter(z_, ZSTD_d_windowLogMax, 27);
  }
  ~ZstdSource() override { ZSTD_freeDStream(z_); }

  size_t read(char* buf, size_t n) override {
    if (!pending_.empty()) throw StreamDamage(pending_);
    ZSTD_outBuffer out = {buf, n, 0};
    while (out.pos < out.size) {
      if (in_buf_.pos == in_buf_.size) {
        const size_t got = in_.read(input_.data(), input_.size());
        if (got == 0) {
          if (inFrame_) damage(out, "the compressed stream is cut short");
          break;
        }
        in_buf_ = {input_.data(), got, 0};
      }
      const size_t rc = ZSTD_decompressStream(z_, &out, &in_buf_);
      if (ZSTD_isError(rc)) {
        damage(out, std::string("zstd: ") + ZSTD_getErrorName(rc));
        break;
      }
      inFrame_ = rc != 0;  // 0: a frame ended here
    }
    return out.pos;
  }

 private:
  // Damage after some bytes: those are handed out first.
  void damage(const ZSTD_outBuffer& out, const std::string& reason) {
    if (out.pos == 0) throw StreamDamage(reason);
    pending_ = reason;
  }

  ByteSource& in_;
  std::vector<char> input_;
  ZSTD_inBuffer in_buf_ = {nullptr, 0, 0};
  ZSTD_DStream* z_;
  bool inFrame_ = false;
  std::string pending_;
};

// A libarchive reader of one compressed stream as a single raw entry.
class FilterSource : public ByteSource {
 public:
  FilterSource(ByteSource& in, const std::string& name)
      : in_(in), input_(kInput), la_(loadLibarchive()), a_(la_->archive_read_new()) {
    if (a_ == nullptr) throw StreamDamage("cannot start libarchive");
    try {
      start(name);
    } catch (...) {
      la_->archive_read_free(a_);  // the destructor does not run
      throw;
    }
  }
  ~FilterSource() override { la_->archive_read_free(a_); }

 private:
  void start(const std::string& name) {
    if (name.empty()) {
      la_->archive_read_support_filter_all(a_);
    } else {
      enableLibarchiveFormat(*la_, a_, name);
    }
    la_->archive_read_support_format_raw(a_);
    if (la_->archive_read_open(a_, this, nullptr, &FilterSource::readCallback, nullptr) !=
        ARCHIVE_OK) {
      // A stream that decodes to no byte at all leaves the raw format
      // nothing to recognise: an empty image, as its gzip would be.
      if (inner_.empty() && la_->archive_filter_count(a_) > 1 &&
          la_->archive_errno(a_) == EILSEQ) {  // ARCHIVE_ERRNO_FILE_FORMAT
        done_ = true;
        return;
      }
      fail();
    }
    archive_entry* entry = nullptr;
    if (la_->archive_read_next_header(a_, &entry) != ARCHIVE_OK) fail();
    // Only the filter "none": the bytes are no stream of the format asked for.
    if (la_->archive_filter_count(a_) <= 1) {
      throw StreamDamage(name.empty() ? "not a compressed stream" : "not " + name + " data");
    }
  }

 public:
  size_t read(char* buf, size_t n) override {
    if (done_) return 0;
    const la_ssize_t got = la_->archive_read_data(a_, buf, n);
    if (got < 0) fail();
    if (got == 0) done_ = true;
    return static_cast<size_t>(got);
  }

 private:
  [[noreturn]] void fail() {
    if (!inner_.empty()) throw StreamDamage(inner_);
    throw StreamDamage(libraryText(la_->archive_error_string(a_)));
  }

  static la_ssize_t readCallback(archive* a, void* self, const void** buffer) {
    auto* s = static_cast<FilterSource*>(self);
    try {
      const size_t got = s->in_.read(s->input_.data(), s->input_.size());
      *buffer = s->input_.data();
      return static_cast<la_ssize_t>(got);
    } catch (const StreamDamage& d) {
      s->inner_ = d.what();
      s->la_->archive_set_error(a, EIO, "%s", d.what());
      return -1;
    }
  }

  ByteSource& in_;
  std::vector<char> input_;
  std::shared_ptr<const LibarchiveApi> la_;
  archive* a_;
  std::string inner_;  // a failure of the source below, told as it was
  bool done_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> makeGzipSource(ByteSource& in) {
  return std::make_unique<GzipSource>(in);
}

std::unique_ptr<ByteSource> makeFilterSource(ByteSource& in, const std::string& name) {
  return std::make_unique<FilterSource>(in, name);
}

std::unique_ptr<ByteSource> makeDecoder(const std::string& head, ByteSource& in,
                                        const std::string& forced) {
  const bool zstd = head.compare(0, 4, "\x28\xb5\x2f\xfd") == 0;
  if (forced == "gzip" || (forced.empty() && head.compare(0, 2, "\x1f\x8b") == 0)) {
    return makeGzipSource(in);
  }
  if (forced == "zstd" || (forced.empty() && zstd)) return std::make_unique<ZstdSource>(in);
  if ((forced.empty() || forced == "xz") && isXzStream(head)) return makeXzSource(in);
  return makeFilterSource(in, forced);
}

void enableLibarchiveFormat(const LibarchiveApi& la, archive* a, const std::string& name) {
  using Enable = int (*LibarchiveApi::*)(archive*);
  static const struct {
    const char* name;
    Enable enable;
  } kFormats[] = {
      {"xz", &LibarchiveApi::archive_read_support_filter_xz},
      {"lzma", &LibarchiveApi::archive_read_support_filter_lzma},
      {"zstd", &LibarchiveApi::archive_read_support_filter_zstd},
      {"bzip2", &LibarchiveApi::archive_read_support_filter_bzip2},
      {"lz4", &LibarchiveApi::archive_read_support_filter_lz4},
      {"lzip", &LibarchiveApi::archive_read_support_filter_lzip},
      {"compress", &LibarchiveApi::archive_read_support_filter_compress},
      {"tar", &LibarchiveApi::archive_read_support_format_tar},
      {"zip", &LibarchiveApi::archive_read_support_format_zip},
      {"7zip", &LibarchiveApi::archive_read_support_format_7zip},
      {"cpio", &LibarchiveApi::archive_read_support_format_cpio},
      {"iso9660", &LibarchiveApi::archive_read_support_format_iso9660},
      {"ar", &LibarchiveApi::archive_read_support_format_ar},
      {"xar", &LibarchiveApi::archive_read_support_format_xar},
      {"rar", &LibarchiveApi::archive_read_support_format_rar},
  };
  if (name.empty()) {
    la.archive_read_support_format_all(a);
    return;
  }
  for (const auto& f : kFormats) {
    if (name == f.name) (la.*f.enable)(a);
  }
}
