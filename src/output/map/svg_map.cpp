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
#include <iostream>

#include "map_drawing.h"
#include "map_layout.h"
#include "output_failure.h"
#include "svg_writer.h"

MapSink::MapSink(const std::string& path, const std::string& image, Console* console)
    : console_(console), file_(path, image, "the map"), firstPath_(path) {}

void MapSink::end(const EndEvent& e) {
  model_.end(e);
  if (written_) return;
  written_ = true;
  try {
    file_.write([this](std::FILE* f) {
      FileSvgWriter svg(f);
      drawMap(svg, model_, layOutMap(model_));
    });
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
    if (file_.path() != "-") file_.setPath(freeMemberMapPath(firstPath_, &member_));
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
