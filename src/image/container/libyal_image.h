// The steps every libyal family's handle goes through, written once:
// initialise, open read-only, read at an offset, close and free, and the
// text of an error. A family names its functions in a small traits struct
// and adds its own checks after the handle is open.
#ifndef BFSSCAN_LIBYAL_IMAGE_H
#define BFSSCAN_LIBYAL_IMAGE_H

#include <sys/types.h>

#include <memory>
#include <string>

#include "container_image.h"
#include "decode_ahead.h"

// Lib: using Handle, Error; static functions initialize, open, close, free,
// readAt, backtrace, freeError; static constexpr int kOpenRead.
template <typename Lib>
class LibyalImage : public ContainerImage {
 protected:
  using Handle = typename Lib::Handle;
  using Error = typename Lib::Error;

  // Opens path read-only; throws ReadFailure ("cannot open as WHAT: ...").
  LibyalImage(const char* format, const std::string& path, const char* what)
      : ContainerImage(format) {
    Error* error = nullptr;
    if (Lib::initialize(&handle_, &error) != 1) fail(error);
    if (Lib::open(handle_, path.c_str(), Lib::kOpenRead, &error) != 1) {
      const std::string text = "cannot open as " + std::string(what) + ": " + takeError(error);
      release(handle_);
      throw ReadFailure(ReadFailure::kSystemError, text);
    }
  }
  ~LibyalImage() override {
    ahead_.reset();  // its thread reads with the second handle
    release(second_);
    release(handle_);
  }

  static std::string takeError(Error*& error) {
    return takeLibraryError(error, Lib::backtrace, Lib::freeError);
  }
  // Throws the library's error as a ReadFailure.
  [[noreturn]] static void fail(Error*& error) {
    throw ReadFailure(ReadFailure::kSystemError, takeError(error));
  }

  size_t readMedia(uint64_t pos, char* buf, size_t n) const override {
    const size_t taken = ahead_ ? ahead_->take(pos, buf, n) : 0;
    if (taken == n) return n;
    return taken + readWith(handle_, pos + taken, buf + taken, n - taken);
  }

  // A large disk is decoded on two cores: a second handle of path reads
  // ahead of the scan (decode_ahead.h), once prepare (the family's own steps
  // after opening; false where they fail) made it ready. Called last in the
  // family's constructor, with the length and allocation set.
  template <typename Prepare>
  void startDecodeAhead(const std::string& path, Prepare prepare) {
    ahead_ = DecodeAhead::start(
        static_cast<uint64_t>(length()),
        [&]() -> DecodeAhead::Reader {
          Error* error = nullptr;
          if (Lib::initialize(&second_, &error) != 1 ||
              Lib::open(second_, path.c_str(), Lib::kOpenRead, &error) != 1 || !prepare(second_)) {
            if (error != nullptr) Lib::freeError(&error);
            release(second_);
            return nullptr;
          }
          return [this](uint64_t pos, char* buf, size_t n) { return readWith(second_, pos, buf, n); };
        },
        [this](uint64_t pos) { return nextData(pos); });
  }

  Handle* handle_ = nullptr;

 private:
  size_t readWith(Handle* handle, uint64_t pos, char* buf, size_t n) const {
    Error* error = nullptr;
    const ssize_t got = Lib::readAt(handle, buf, n, static_cast<off64_t>(pos), &error);
    if (got < 0) fail(error);
    return static_cast<size_t>(got);
  }

  static void release(Handle*& handle) {
    if (handle == nullptr) return;
    Lib::close(handle, nullptr);
    Lib::free(&handle, nullptr);
    handle = nullptr;
  }

  Handle* second_ = nullptr;  // the read-ahead's, when it runs
  std::unique_ptr<DecodeAhead> ahead_;
};

#endif  // BFSSCAN_LIBYAL_IMAGE_H
