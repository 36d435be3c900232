// A shared library loaded only when something asks for it, so that a run
// that never needs it does not pay for mapping and relocating it: by its
// SONAME (a system library), or as a module of this program found beside
// the object that holds the calling code (the program, or a library it is
// part of) or in a directory relative to it. Once loaded, a library stays
// loaded: objects made by its code may live until the process ends.
#ifndef BFSSCAN_LAZY_LIBRARY_H
#define BFSSCAN_LAZY_LIBRARY_H

#include <string>
#include <vector>

class LazyLibrary {
 public:
  // By SONAME, through the loader's search path.
  static LazyLibrary bySoname(const std::string& soname);
  // The module file, looked for in each of dirs (relative to the directory
  // of the object that holds anchor, a function of the caller) in order.
  static LazyLibrary beside(const void* anchor, const std::string& file,
                            const std::vector<std::string>& dirs);

  bool loaded() const { return handle_ != nullptr; }
  // Why it could not be loaded, or a symbol was not found.
  const std::string& error() const { return error_; }

  // The address of a symbol as type T (a function pointer), or nullptr with
  // error() saying why.
  template <typename T>
  T symbol(const char* name) {
    return reinterpret_cast<T>(address(name));
  }

 private:
  LazyLibrary(void* handle, std::string error) : handle_(handle), error_(std::move(error)) {}
  void* address(const char* name);

  void* handle_;
  std::string error_;
};

#endif  // BFSSCAN_LAZY_LIBRARY_H
