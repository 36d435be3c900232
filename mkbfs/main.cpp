// mkbfs: writes a BFS file system holding the given files into an image.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "attribute_options.h"
#include "image_builder.h"

namespace {

const char kUsage[] =
    "usage: mkbfs [--at OFFSET] [TRACE OPTION]... OUT.img FILE...\n"
    "Writes a BFS file system holding the FILEs (each under its last path\n"
    "component) into OUT.img. Without --at, OUT.img is created anew with the\n"
    "file system at offset 0; with --at, the file system is written at byte\n"
    "OFFSET (a multiple of 512) of OUT.img, which is kept as it is elsewhere.\n"
    "Traces of use, for tests of recovery:\n"
    "  --free-blocks N     leave N free blocks after the last file\n"
    "  --marker TEXT       write TEXT into the free blocks and each file's slack\n"
    "  --clear-inode NAME  give the inode of file NAME inode number 0\n"
    "  --clear-entry NAME  give the directory entry of file NAME inode number 0\n"
    "Attributes (each also as NAME=VALUE for the file NAME only):\n"
    "  --mode MODE         permission bits in octal (default 644)\n"
    "  --uid N, --gid N    owner and group (default 0)\n"
    "  --mtime T, --atime T, --ctime T, --time T (all three)\n"
    "                      seconds since 1970 or YYYY-MM-DDTHH:MM:SSZ (default 0)\n"
    "Any option can also be given as --OPTION=VALUE.\n"
    "A FILE named like an option can be given as ./NAME.\n";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw mkbfs::BuildError("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

std::string baseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

}  // namespace

#ifndef MKBFS_VERSION
#define MKBFS_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage << "See mkbfs(1).\n";
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << "mkbfs " MKBFS_VERSION "\n";
    return 0;
  }
  bool at = false;
  unsigned long long offset = 0;
  mkbfs::Traces traces;
  mkbfs::AttributeOptions attributes;
  while (!args.empty() && args[0].rfind("--", 0) == 0) {
    // --OPTION=VALUE is one argument, --OPTION VALUE two.
    const size_t eq = args[0].find('=');
    if (eq != std::string::npos) {
      args.insert(args.begin() + 1, args[0].substr(eq + 1));
      args[0].resize(eq);
    }
    if (args.size() < 2) break;
    const std::string& value = args[1];
    bool taken = false;
    try {
      taken = attributes.take(args[0], value);
    } catch (const mkbfs::BuildError& e) {
      std::cerr << "mkbfs: " << e.what() << "\n";
      return 1;
    }
    if (taken) {  // an attribute, given to the files below
    } else if (args[0] == "--at") {
      char* end = nullptr;
      errno = 0;
      offset = std::strtoull(value.c_str(), &end, 0);
      if (errno != 0 || *end != '\0' || value.empty() || offset % 512 != 0) {
        std::cerr << "mkbfs: offset must be a multiple of 512: " << value << "\n";
        return 1;
      }
      at = true;
    } else if (args[0] == "--free-blocks") {
      char* end = nullptr;
      errno = 0;
      const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
      if (errno != 0 || *end != '\0' || value.empty() || n > (1ull << 23)) {
        std::cerr << "mkbfs: --free-blocks takes a block count: " << value << "\n";
        return 1;
      }
      traces.freeBlocks = static_cast<uint32_t>(n);
    } else if (args[0] == "--marker") {
      traces.marker = value;
    } else if (args[0] == "--clear-inode") {
      traces.clearInode.insert(value);
    } else if (args[0] == "--clear-entry") {
      traces.clearEntry.insert(value);
    } else {
      break;
    }
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0].empty() || args[0][0] == '-') {
    std::cerr << kUsage;
    return 1;
  }
  try {
    std::vector<mkbfs::File> files;
    for (size_t i = 1; i < args.size(); ++i) {
      const std::string name = baseName(args[i]);
      files.push_back({name, readFile(args[i]), attributes.forFile(name)});
    }
    attributes.checkNames(files);
    mkbfs::checkFiles(files);
    mkbfs::ImageWriter image(args[0], !at);
    const mkbfs::Layout layout = mkbfs::writeFileSystem(image, offset, files, traces);
    std::cout << "mkbfs: wrote a file system of " << (layout.end + 1ull) << " bytes with "
              << files.size() << " files at offset " << offset << " of " << args[0] << "\n";
  } catch (const mkbfs::BuildError& e) {
    std::cerr << "mkbfs: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
