// The map sink: gathers the scan's events into the model and writes the
// map at the end of the run, through a temporary file renamed into place
// (or straight through for standard output, links, devices and pipes).
#include "svg_map.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "escape.h"
#include "map_drawing.h"
#include "map_layout.h"
#include "output_failure.h"
#include "svg_writer.h"

namespace {

std::string quoted(const std::string& path) { return "\"" + escapeForDiag(path) + "\""; }

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

MapSink::MapSink(const std::string& path, const std::string& image, Console* console)
    : path_(path), image_(image), console_(console), firstPath_(path) {}

MapSink::~MapSink() {
  if (fd_ >= 0) ::close(fd_);
}

void MapSink::fail(int err) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  file_.abandon();
  const std::string where = path_ == "-" ? "the map to standard output" : quoted(path_);
  throw OutputFailure("cannot write " + where + ": " + std::strerror(err));
}

void MapSink::open() {
  if (fd_ >= 0 || file_.fd() >= 0) return;
  if (path_ == "-") {
    fd_ = ::dup(STDOUT_FILENO);
    if (fd_ < 0) fail(errno);
    return;
  }
  if (!image_.empty() && sameFile(path_, image_)) {
    throw OutputFailure("cannot write " + quoted(path_) + ": it is the image");
  }
  // A symbolic link, device or pipe is written through, as the other
  // results files are: renaming over it would replace the link or the node.
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) fail(errno);
    return;
  }
  unsigned n = 0;
  const std::string temp = path_ + ".bfsscan-" + std::to_string(::getpid()) + "-";
  const int err = file_.create(AT_FDCWD, path_, [&] { return temp + std::to_string(++n); });
  if (err != 0) fail(err);
}

void MapSink::write() {
  open();
  const bool atomic = file_.fd() >= 0;
  const int fd = atomic ? ::dup(file_.fd()) : fd_;
  if (fd < 0) fail(errno);
  std::FILE* f = ::fdopen(fd, "w");
  if (!f) {
    if (atomic) ::close(fd);
    fail(errno);
  }
  if (!atomic) fd_ = -1;  // the stream owns it now
  errno = 0;
  FileSvgWriter svg(f);
  drawMap(svg, model_, layOutMap(model_));
  int err = 0;
  if (std::fflush(f) != 0 || std::ferror(f)) err = errno ? errno : EIO;
  if (std::fclose(f) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0 && atomic) file_.commit(&err);
  if (err != 0) fail(err);
}

void MapSink::end(const EndEvent& e) {
  model_.end(e);
  if (written_) return;
  written_ = true;
  try {
    write();
  } catch (const OutputFailure& failure) {
    lost_ = true;
    (console_ != nullptr ? console_->err() : std::cerr) << "bfsscan: " << failure.what() << std::endl;
  }
  if (!e.lastImage) {
    // Another image follows (the next member of an archive): a map of its
    // own, FILE with the member's number before the extension (map.2.svg).
    ++member_;
    written_ = false;
    model_ = MapModel();
    // A name that is taken already (a file this run did not make: every
    // results file exists by now) is passed over for the next free number.
    if (path_ != "-") path_ = freeMemberMapPath(firstPath_, &member_);
  }
}

std::string freeMemberMapPath(const std::string& path, unsigned* member) {
  struct stat st;
  std::string name = memberMapPath(path, *member);
  while (::lstat(name.c_str(), &st) == 0 && *member < UINT_MAX) name = memberMapPath(path, ++*member);
  return name;
}

std::string memberMapPath(const std::string& path, unsigned member) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  const bool hasExtension =
      dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
  const std::string number = "." + std::to_string(member);
  return hasExtension ? path.substr(0, dot) + number + path.substr(dot) : path + number;
}
