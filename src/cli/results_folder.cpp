// Making the -C folder before a results file inside it is created.
#include "results_folder.h"

#include <sys/stat.h>

#include <boost/filesystem.hpp>

namespace {

// The name without "." parts and trailing slashes: "./out/" is "out".
boost::filesystem::path plain(const std::string& name) {
  boost::filesystem::path p = boost::filesystem::path(name).lexically_normal();
  if (p.filename() == ".") p = p.parent_path();
  return p;
}

}  // namespace

bool isInsideFolder(const std::string& path, const std::string& folder) {
  if (path.empty() || path == "-" || folder.empty()) return false;
  const boost::filesystem::path f = plain(folder);
  const boost::filesystem::path p = plain(path).parent_path();
  auto fi = f.begin();
  auto pi = p.begin();
  for (; fi != f.end(); ++fi, ++pi) {
    if (pi == p.end() || *pi != *fi) return false;
  }
  return true;
}

void makeFolderForResults(const ScanOptions& options) {
  for (const std::string* file :
       {&options.bodyFile, &options.jsonFile, &options.mapFile, &options.dfxmlFile}) {
    if (isInsideFolder(*file, options.directory)) {
      ::mkdir(options.directory.c_str(), 0777);  // EEXIST and the rest: said later, if at all
      return;
    }
  }
}
