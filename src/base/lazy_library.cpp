// Loading libraries on demand with dlopen.
#include "lazy_library.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>

namespace {

std::string lastError() {
  const char* e = ::dlerror();
  return e != nullptr ? e : "unknown error of the dynamic loader";
}

// The directory, ending in '/', of the object that holds address; the
// program itself when that is the main program (whose link map has no name).
std::string directoryOfObject(const void* address) {
  Dl_info info;
  link_map* map = nullptr;
  std::string path;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 &&
      map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
    path = map->l_name;
  } else {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) path.assign(self, static_cast<size_t>(n));
  }
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// RTLD_NODELETE: code of the library may still be needed after the last
// handle is closed (destructors of the objects it made).
constexpr int kFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

}  // namespace

LazyLibrary LazyLibrary::bySoname(const std::string& soname) {
  void* handle = ::dlopen(soname.c_str(), kFlags);
  return LazyLibrary(handle, handle != nullptr ? "" : lastError());
}

LazyLibrary LazyLibrary::beside(const void* anchor, const std::string& file,
                                const std::vector<std::string>& dirs) {
  const std::string base = directoryOfObject(anchor);
  std::string errors;
  for (const std::string& dir : dirs) {
    const std::string path = base + (dir.empty() ? "" : dir + "/") + file;
    if (::access(path.c_str(), F_OK) != 0) continue;
    void* handle = ::dlopen(path.c_str(), kFlags);
    if (handle != nullptr) return LazyLibrary(handle, "");
    errors += (errors.empty() ? "" : "; ") + lastError();
  }
  return LazyLibrary(nullptr, errors.empty() ? file + " not found beside " + base : errors);
}

void* LazyLibrary::address(const char* name) {
  if (handle_ == nullptr) return nullptr;
  ::dlerror();
  void* p = ::dlsym(handle_, name);
  if (p == nullptr) error_ = lastError();
  return p;
}
