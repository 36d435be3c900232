// The steps every libyal family's handle goes through, written once:
// initialise, open read-only, read at an offset, close and free, and the
// text of an error. A family names its functions in a small traits struct
// and adds its own checks after the handle is open.
#ifndef BFSSCAN_LIBYAL_IMAGE_H
#define BFSSCAN_LIBYAL_IMAGE_H

#include <sys/types.h>

#include <string>

#include "container_image.h"

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
      release();
      throw ReadFailure(ReadFailure::kSystemError, text);
    }
  }
  ~LibyalImage() override { release(); }

  static std::string takeError(Error*& error) {
    return takeLibraryError(error, Lib::backtrace, Lib::freeError);
  }
  // Throws the library's error as a ReadFailure.
  [[noreturn]] static void fail(Error*& error) {
    throw ReadFailure(ReadFailure::kSystemError, takeError(error));
  }

  size_t readMedia(uint64_t pos, char* buf, size_t n) const override {
    Error* error = nullptr;
    const ssize_t got = Lib::readAt(handle_, buf, n, static_cast<off64_t>(pos), &error);
    if (got < 0) fail(error);
    return static_cast<size_t>(got);
  }

  Handle* handle_ = nullptr;

 private:
  void release() {
    if (handle_ == nullptr) return;
    Lib::close(handle_, nullptr);
    Lib::free(&handle_, nullptr);
    handle_ = nullptr;
  }
};

#endif  // BFSSCAN_LIBYAL_IMAGE_H
