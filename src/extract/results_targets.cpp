// Locating the results files and telling when one of them would meet
// another, the image, or an extracted file.
#include "results_targets.h"

#include <sys/stat.h>
#include <unistd.h>

#include "escape.h"

namespace {

std::string quoted(const std::string& path) { return "\"" + escapeForDiag(path) + "\""; }

bool sameTarget(const ResultsTarget& a, const ResultsTarget& b) {
  if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino;
  return a.placed && b.placed && a.dirDev == b.dirDev && a.dirIno == b.dirIno &&
         a.name == b.name;
}

// Whether name is first ("map.svg") with a number of 2 or more before its
// extension ("map.2.svg"), or after it when it has none ("map.2").
bool isMemberName(const std::string& first, const std::string& name) {
  const size_t dot = first.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  const std::string stem = hasExtension ? first.substr(0, dot + 1) : first + ".";
  const std::string extension = hasExtension ? first.substr(dot) : "";
  if (name.size() <= stem.size() + extension.size() || name.compare(0, stem.size(), stem) != 0 ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
    return false;
  }
  const std::string number =
      name.substr(stem.size(), name.size() - stem.size() - extension.size());
  if (number[0] == '0' || number.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  return number.size() > 1 || number[0] >= '2';
}

}  // namespace

void ResultsTargets::add(const std::string& option, const std::string& path) {
  if (path.empty()) return;
  ResultsTarget t;
  t.option = option;
  t.path = path;
  struct stat st, out;
  const bool outKnown = ::fstat(STDOUT_FILENO, &out) == 0;
  if (path == "-") {
    // Written to the descriptor: standard output, whatever file that is.
    t.standardOutput = true;
    t.exists = outKnown;
    t.dev = out.st_dev;
    t.ino = out.st_ino;
    targets_.push_back(t);
    return;
  }
  if (::stat(path.c_str(), &st) == 0) {
    t.exists = true;
    t.dev = st.st_dev;
    t.ino = st.st_ino;
    t.standardOutput = outKnown && out.st_dev == st.st_dev && out.st_ino == st.st_ino;
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

bool ResultsTargets::isStandardOutput(const std::string& path) const {
  for (const ResultsTarget& t : targets_) {
    if (t.path == path && t.standardOutput) return true;
  }
  return false;
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

std::string ResultsTargets::clashWithMemberMaps() const {
  for (const ResultsTarget& map : targets_) {
    // The per-image files of an archive: the maps, and the HTML pages.
    if ((map.option != "--map" && map.option != "--html") || !map.placed) continue;
    for (const ResultsTarget& t : targets_) {
      if (&t != &map && t.placed && t.dirDev == map.dirDev && t.dirIno == map.dirIno &&
          isMemberName(map.name, t.name)) {
        const char* what = map.option == "--map" ? "map" : "HTML page";
        return t.option + " " + quoted(t.path) + " is the name of the " + what +
               " of a later image of the archive (" + map.option + " " + quoted(map.path) + ")";
      }
    }
  }
  return "";
}

std::string ResultsTargets::clashWithImage(const Image* image,
                                           const std::string& imagePath) const {
  // Standard input is the image "-": a results file that is its pipe would
  // be written into the input (a socket cannot be opened again by name).
  struct stat st;
  const bool imageKnown = imagePath == "-"
                              ? ::fstat(STDIN_FILENO, &st) == 0 && !S_ISSOCK(st.st_mode)
                              : ::stat(imagePath.c_str(), &st) == 0;
  for (const ResultsTarget& t : targets_) {
    if (!t.exists || t.path == "-") continue;
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
