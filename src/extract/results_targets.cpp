// Locating the results files and telling when one of them would meet
// another, the image, or an extracted file.
#include "results_targets.h"

#include <sys/stat.h>

#include "escape.h"

namespace {

std::string quoted(const std::string& path) { return "\"" + escapeForDiag(path) + "\""; }

bool sameTarget(const ResultsTarget& a, const ResultsTarget& b) {
  if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino;
  return a.placed && b.placed && a.dirDev == b.dirDev && a.dirIno == b.dirIno &&
         a.name == b.name;
}

}  // namespace

void ResultsTargets::add(const std::string& option, const std::string& path) {
  if (path.empty() || path == "-") return;
  ResultsTarget t;
  t.option = option;
  t.path = path;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    t.exists = true;
    t.dev = st.st_dev;
    t.ino = st.st_ino;
  }
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  t.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!t.name.empty() && t.name != "." && t.name != ".." && ::stat(dir.c_str(), &st) == 0) {
    t.placed = true;
    t.dirDev = st.st_dev;
    t.dirIno = st.st_ino;
  }
  targets_.push_back(t);
}

std::string ResultsTargets::clashAmongThem() const {
  for (size_t i = 0; i < targets_.size(); ++i) {
    for (size_t j = i + 1; j < targets_.size(); ++j) {
      const ResultsTarget &a = targets_[i], &b = targets_[j];
      if (sameTarget(a, b)) {
        return a.option + " and " + b.option + " name one file: " + quoted(a.path) + " and " +
               quoted(b.path);
      }
    }
  }
  return "";
}

std::string ResultsTargets::clashWithImage(const Image* image,
                                           const std::string& imagePath) const {
  struct stat st;
  const bool imageKnown = ::stat(imagePath.c_str(), &st) == 0;
  for (const ResultsTarget& t : targets_) {
    if (!t.exists) continue;
    const bool isImagePath = imageKnown && st.st_dev == t.dev && st.st_ino == t.ino;
    if (isImagePath) {
      return "cannot write " + quoted(t.path) + ": it is the image " + quoted(imagePath);
    }
    if (image != nullptr && image->isSameFile(t.dev, t.ino)) {
      return "cannot write " + quoted(t.path) + ": it is a file of the image " +
             quoted(imagePath);
    }
  }
  return "";
}

const ResultsTarget* ResultsTargets::at(dev_t dirDev, ino_t dirIno, const std::string& name,
                                        bool fileKnown, dev_t fileDev, ino_t fileIno) const {
  for (const ResultsTarget& t : targets_) {
    if (t.placed && t.dirDev == dirDev && t.dirIno == dirIno && t.name == name) return &t;
    if (fileKnown && t.exists && t.dev == fileDev && t.ino == fileIno) return &t;
  }
  return nullptr;
}
