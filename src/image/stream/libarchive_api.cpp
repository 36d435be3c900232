// Loading libarchive on demand.
#include "libarchive_api.h"

#include <dlfcn.h>

#include <string>

#include "stream_failure.h"

std::shared_ptr<const LibarchiveApi> loadLibarchive() {
  void* handle = ::dlopen("libarchive.so.13", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    throw StreamDamage(std::string("cannot load libarchive: ") + (why ? why : "not found"));
  }
  std::shared_ptr<LibarchiveApi> api(new LibarchiveApi, [](LibarchiveApi* a) {
    ::dlclose(a->handle);
    delete a;
  });
  api->handle = handle;
#define BFSSCAN_LIBARCHIVE_LOAD(name)                                                   \
  api->name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));             \
  if (api->name == nullptr) throw StreamDamage("libarchive lacks " #name);
  BFSSCAN_LIBARCHIVE_FUNCTIONS(BFSSCAN_LIBARCHIVE_LOAD)
#undef BFSSCAN_LIBARCHIVE_LOAD
  return api;
}
