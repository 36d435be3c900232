#include "mount_options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdlib>

const char* const kMountUsageText =
    "Usage: bfsmount [OPTIONS] IMAGE MOUNTPOINT\n"
    "Mounts every BFS file system found in IMAGE (anything bfsscan reads; - is\n"
    "standard input), read-only, one directory each\n"
    "(named as bfsscan names its extraction directories), under MOUNTPOINT.\n"
    "Unmount with fusermount3 -u MOUNTPOINT.\n"
    "\n"
    "  -f, --foreground     stay in the foreground; SIGINT or SIGTERM unmounts\n"
    "  -o OPTIONS           FUSE mount options, comma-separated (allow_other, ...)\n"
    "      --format=FORMAT  auto (default), raw, ewf, split, vhd, vhdx, vmdk, qcow;\n"
    "                       gzip, xz, lzma, zstd, bzip2, lz4, lzip, compress;\n"
    "                       tar, zip, 7zip, cpio, iso9660, ar, xar, rar\n"
    "      --direct         every read goes to the image, past the mount's page\n"
    "                       cache: faster large reads, slower small ones, and\n"
    "                       no shared mmap\n"
    "      --deleted        also STEM-OFFSET/.bfsscan-deleted, as bfsscan --deleted\n"
    "      --unallocated    also STEM-OFFSET/.bfsscan-unallocated, as bfsscan does\n"
    "  -h, --help           this help;  -V, --version  the version\n"
    "\n"
    "Exit status: 0 after the mount ends, 1 usage error, 2 the image cannot be\n"
    "opened, holds no file system, or the mount fails.\n";

namespace {

MountCommand usageError(std::string* error, const std::string& text) {
  *error = "bfsmount: " + text + " (see bfsmount --help)\n";
  return MountCommand::kUsageError;
}

}  // namespace

MountCommand parseMountCommandLine(int argc, char** argv, MountOptions* options,
                                   std::string* error) {
  enum { kFormat = 256, kDirect, kDeleted, kUnallocated };
  static const option longOptions[] = {
      {"foreground", no_argument, nullptr, 'f'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {"format", required_argument, nullptr, kFormat},
      {"direct", no_argument, nullptr, kDirect},
      {"deleted", no_argument, nullptr, kDeleted},
      {"unallocated", no_argument, nullptr, kUnallocated},
      {nullptr, 0, nullptr, 0},
  };
  optind = 0;  // a fresh parse (GNU: also re-reads the option string)
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":fo:hV", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'f':
        options->foreground = true;
        break;
      case 'o':
        if (*optarg == '\0') return usageError(error, "-o needs options");
        options->fuseOptions.push_back(optarg);
        break;
      case 'h':
        return MountCommand::kHelp;
      case 'V':
        return MountCommand::kVersion;
      case kDirect:
        options->direct = true;
        break;
      case kDeleted:
        options->deleted = true;
        break;
      case kUnallocated:
        options->unallocated = true;
        break;
      case kFormat:  // checked when the image is opened
        options->format = optarg;
        break;
      case ':':
        return usageError(error, "option '" + std::string(argv[optind - 1]) + "' needs a value");
      default:
        return usageError(error, "unknown option '" + std::string(argv[optind - 1]) + "'");
    }
  }
  if (argc - optind != 2) return usageError(error, "an image and a mount point are needed");
  options->image = argv[optind];
  options->mountPoint = argv[optind + 1];
  return MountCommand::kMount;
}

unsigned maxReadOption(const std::vector<std::string>& fuseOptions, unsigned fallback) {
  static const std::string kKey = "max_read=";
  unsigned value = fallback;
  for (const std::string& list : fuseOptions) {
    size_t at = 0;
    while (at <= list.size()) {
      const size_t comma = std::min(list.find(',', at), list.size());
      const std::string option = list.substr(at, comma - at);
      if (option.compare(0, kKey.size(), kKey) == 0) {
        value = static_cast<unsigned>(std::strtoul(option.c_str() + kKey.size(), nullptr, 0));
      }
      at = comma + 1;
    }
  }
  return value;
}
