#include "options.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "hashing.h"
#include "stream_input.h"

const char kUsageText[] =
    "usage: bfsscan [OPTION]... IMAGE\n"
    "Finds every BFS file system in IMAGE (a disk image, device or container),\n"
    "reports it on standard output and copies its files into STEM-OFFSET.\n"
    "\n"
    "  -C, --directory=DIR  make the extraction directories in DIR (created if\n"
    "                       missing) instead of the current directory\n"
    "  -n, --dry-run        read and report everything, create and write nothing\n"
    "  -k, --keep-going     go on past damage: a broken file system, an unreadable\n"
    "                       file or block is skipped with a message\n"
    "  -p, --preserve       give files the inode's mode and times (and owner, as root)\n"
    "      --max-output=SIZE  write at most SIZE bytes (K, M, G, T; 0: no limit;\n"
    "                       default 16 times the image, at least 1G)\n"
    "      --format=FORMAT  auto (default), raw, ewf, split, vhd, vhdx, vmdk, qcow;\n"
    "                       gzip, xz, lzma, zstd, bzip2, lz4, lzip, compress;\n"
    "                       tar, zip, 7zip, cpio, iso9660, ar, xar, rar\n"
    "      --max-image=SIZE  decompress at most SIZE bytes of a compressed or piped\n"
    "                       image (0: no limit; default 1000 times a compressed\n"
    "                       file, at least 1G; for a pipe the free space of\n"
    "                       $TMPDIR less a tenth)\n"
    "      --bodyfile=FILE  a body file of every inode for timelines (mactime -b)\n"
    "      --json=FILE      the whole scan as JSON Lines\n"
    "      --hash=ALG,...   hash every file: md5, sha1, sha256\n"
    "      --map=FILE       an SVG map of what was found where\n"
    "      --dfxml=FILE     the file systems and their files as DFXML\n"
    "      --html=FILE      a self-contained HTML report: the image, the map, a table\n"
    "                       of files per file system (linked), the problems\n"
    "      --unallocated    also write free space and slack that hold data into\n"
    "                       STEM-OFFSET/.bfsscan-unallocated\n"
    "      --deleted        also report deleted names and write deleted candidates\n"
    "                       into STEM-OFFSET/.bfsscan-deleted (candidates only)\n"
    "      --list           one tab-separated line per file (fs, inode, mode, uid,\n"
    "                       gid, length, mtime, atime, ctime, path); no file's bytes\n"
    "                       are read, nothing is written\n"
    "      --cat=FS:INODE   the bytes of one file to standard output; FS is the file\n"
    "                       system's byte offset (FS:slot=N: a deleted candidate)\n"
    "      --stat=FS:INODE  the details of one inode, one 'key: value' a line\n"
    "      --offset=N       examine only the file system at byte offset N\n"
    "      --name=ID        use ID as STEM, and name the image ID in the records\n"
    "      --sqlite=FILE    add the image's records to the case database FILE (SQLite)\n"
    "  -h, --help           this help;  -V, --version  the version\n"
    "FILE may be - for standard output (the report is then not printed).\n"
    "body: 0|/disk-0/notes|3|r/rrw-r--r--|0|0|29|568080000|567993600|567993600|0\n"
    "JSON: {\"type\":\"dirent\",\"fs\":0,\"ino\":3,\"name\":\"notes\",\"name_hex\":\"6e6f746573\"}\n"
    "An IMAGE whose name starts with - is taken as such when it exists and is not\n"
    "an option; otherwise give it as ./NAME or after --. IMAGE - alone is standard\n"
    "input (a file named - is ./-); compressed images (gzip, xz, zstd, bzip2, lz4,\n"
    "...) and archives (tar, zip, 7z, cpio, ...) are decompressed into a temporary file.\n"
    "\n"
    "Exit status: 0 done, 1 wrong command line, 2 something could not be read or\n"
    "extracted (see standard error), 3 a file system is inconsistent,\n"
    "130/143 interrupted. See bfsscan(1).\n";

namespace {

enum LongOnly { kFormat = 256, kMaxOutput, kBodyFile, kJson, kHash, kMap, kDfxml, kUnallocated,
                kDeleted, kMaxImage, kList, kCat, kStat, kOffset, kName, kHtml, kSqlite };

const option kLongOptions[] = {
    {"directory", required_argument, nullptr, 'C'},
    {"dry-run", no_argument, nullptr, 'n'},
    {"keep-going", no_argument, nullptr, 'k'},
    {"preserve", no_argument, nullptr, 'p'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"format", required_argument, nullptr, kFormat},
    {"max-output", required_argument, nullptr, kMaxOutput},
    {"bodyfile", required_argument, nullptr, kBodyFile},
    {"json", required_argument, nullptr, kJson},
    {"hash", required_argument, nullptr, kHash},
    {"map", required_argument, nullptr, kMap},
    {"dfxml", required_argument, nullptr, kDfxml},
    {"unallocated", no_argument, nullptr, kUnallocated},
    {"deleted", no_argument, nullptr, kDeleted},
    {"max-image", required_argument, nullptr, kMaxImage},
    {"list", no_argument, nullptr, kList},
    {"cat", required_argument, nullptr, kCat},
    {"stat", required_argument, nullptr, kStat},
    {"offset", required_argument, nullptr, kOffset},
    {"name", required_argument, nullptr, kName},
    {"html", required_argument, nullptr, kHtml},
    {"sqlite", required_argument, nullptr, kSqlite},
    {nullptr, 0, nullptr, 0},
};

const char kShortOptions[] = ":C:nkphV";

// Whether getopt_long takes arg (which starts with '-') as options; *value
// is set when the option's value is the next argument.
bool isOption(const char* arg, bool* value) {
  *value = false;
  if (arg[1] == '-') {  // --name, --name=VALUE, or an abbreviation of a name
    const char* name = arg + 2;
    const size_t n = std::strcspn(name, "=");
    for (const option* o = kLongOptions; o->name != nullptr; ++o) {
      if (std::strncmp(o->name, name, n) == 0) {
        *value = name[n] != '=' && o->has_arg == required_argument;
        return true;
      }
    }
    return false;
  }
  for (const char* c = arg + 1; *c != '\0'; ++c) {
    const char* known = std::strchr(kShortOptions + 1, *c);
    if (*c == ':' || known == nullptr) return false;
    if (known[1] == ':') {  // the rest of the argument, or the next one, is the value
      *value = c[1] == '\0';
      return true;
    }
  }
  return true;
}

bool isFile(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0;
}

// argv with every argument that starts with '-' but is no option, and names
// an existing file, moved behind a "--" so that getopt_long takes it as the
// image.
std::vector<char*> dashImagesAsOperands(int argc, char** argv) {
  std::vector<char*> args{argv[0]};
  std::vector<char*> images;
  bool operandsOnly = false;
  for (int i = 1; i < argc; ++i) {
    char* arg = argv[i];
    bool value = false;
    if (operandsOnly || arg[0] != '-' || arg[1] == '\0') {
      args.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      operandsOnly = true;
      args.push_back(arg);
    } else if (isOption(arg, &value)) {
      args.push_back(arg);
      if (value && i + 1 < argc) args.push_back(argv[++i]);
    } else if (isFile(arg)) {
      images.push_back(arg);
    } else {
      args.push_back(arg);  // an unknown option
    }
  }
  if (!images.empty() && !operandsOnly) args.push_back(const_cast<char*>("--"));  // not written
  args.insert(args.end(), images.begin(), images.end());
  args.push_back(nullptr);
  return args;
}

// What --list, --cat, --stat and --offset cannot be combined with, or null.
const char* examinerClash(const ScanOptions& o) {
  if (o.list + o.cat + o.stat > 1) return "only one of --list, --cat and --stat can be given";
  const bool resultsFile =
      !o.bodyFile.empty() || !o.jsonFile.empty() || !o.mapFile.empty() || !o.dfxmlFile.empty();
  if ((o.cat || o.stat) && (resultsFile || o.offsetGiven || o.unallocated || o.deleted ||
                            !o.hashes.empty() || !o.directory.empty() || o.dryRun || o.preserve)) {
    return "--cat and --stat take no other option but --format and --max-image";
  }
  if (o.list && (o.bodyFile == "-" || o.jsonFile == "-" || o.mapFile == "-" ||
                 o.dfxmlFile == "-")) {
    return "--list takes standard output: give the results file a name";
  }
  return nullptr;
}

Command usageError(std::string* error, const std::string& text) {
  *error = "bfsscan: " + text + " (see bfsscan --help)\n";
  return Command::kUsageError;
}

}  // namespace

bool parseSize(const std::string& text, uint64_t* bytes) {
  size_t i = 0;
  uint64_t n = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
    ++i;
  }
  if (i == 0) return false;
  unsigned shift = 0;
  if (i < text.size()) {
    switch (std::toupper(static_cast<unsigned char>(text[i]))) {
      case 'K': shift = 10; break;
      case 'M': shift = 20; break;
      case 'G': shift = 30; break;
      case 'T': shift = 40; break;
      default: return false;
    }
    if (++i != text.size()) return false;
  }
  if (shift != 0 && n > (UINT64_MAX >> shift)) return false;
  *bytes = n << shift;
  return true;
}

Command parseCommandLine(int argc, char** argv, ScanOptions* options, std::string* error) {
  std::vector<char*> reordered = dashImagesAsOperands(argc, argv);
  argc = static_cast<int>(reordered.size()) - 1;
  argv = reordered.data();
  opterr = 0;
  optind = 0;  // a fresh scan of argv, also when called more than once
  int c;
  Command asked = Command::kScan;
  while ((c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
    const std::string arg = optarg ? optarg : "";
    switch (c) {
      case 'C':
        if (arg.empty()) return usageError(error, "-C needs a directory");
        options->directory = arg;
        break;
      case 'n': options->dryRun = true; break;
      case 'k': options->keepGoing = true; break;
      case 'p': options->preserve = true; break;
      case 'h': asked = Command::kHelp; break;
      case 'V': asked = Command::kVersion; break;
      case kFormat:
        if (!parseInputFormat(arg, &options->format, &options->streamFormat)) {
          return usageError(error, "unknown image format '" + arg + "'");
        }
        break;
      case kMaxOutput:
        if (!parseSize(arg, &options->maxOutput)) {
          return usageError(error, "--max-output takes a size such as 500M, not '" + arg + "'");
        }
        options->maxOutputGiven = true;
        break;
      case kMaxImage:
        if (!parseSize(arg, &options->maxImage)) {
          return usageError(error, "--max-image takes a size such as 100G, not '" + arg + "'");
        }
        options->maxImageGiven = true;
        break;
      case kBodyFile: options->bodyFile = arg; break;
      case kJson: options->jsonFile = arg; break;
      case kMap: options->mapFile = arg; break;
      case kDfxml: options->dfxmlFile = arg; break;
      case kName:
        if (arg.empty() || arg == "." || arg == ".." || arg.find('/') != std::string::npos) {
          return usageError(error, "--name takes a name for a directory, not '" + arg + "'");
        }
        options->name = arg;
        break;
      case kHtml: options->htmlFile = arg; break;
      case kUnallocated: options->unallocated = true; break;
      case kDeleted: options->deleted = true; break;
      case kList: options->list = true; break;
      case kCat:
      case kStat:
        if (!parseInodeTarget(arg, &options->target)) {
          return usageError(error, std::string(c == kCat ? "--cat" : "--stat") +
                                       " takes FS:INODE or FS:slot=N, not '" + arg + "'");
        }
        (c == kCat ? options->cat : options->stat) = true;
        break;
      case kOffset:
        if (!parseOffset(arg, &options->offset)) {
          return usageError(error, "--offset takes a byte offset, not '" + arg + "'");
        }
        options->offsetGiven = true;
        break;
      case kSqlite:
        if (arg.empty() || arg == "-") return usageError(error, "--sqlite needs a file");
        options->sqliteFile = arg;
        break;
      case kHash:
        if (!parseHashList(arg, &options->hashes)) {
          return usageError(error, "--hash takes md5, sha1 or sha256, comma-separated, not '" +
                                       arg + "'");
        }
        break;
      case ':':
        return usageError(error, std::string("option '") + argv[optind - 1] + "' needs a value");
      default:
        if (optopt != 0) return usageError(error, std::string("unknown option '-") +
                                                      static_cast<char>(optopt) + "'");
        return usageError(error, std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (asked != Command::kScan && optind == argc) return asked;
  if (argc - optind != 1 || asked != Command::kScan) {
    *error = "exactly one argument needed";
    return Command::kUsageError;
  }
  const int toStdout = (options->bodyFile == "-") + (options->jsonFile == "-") +
                       (options->mapFile == "-") + (options->dfxmlFile == "-");
  if (toStdout > 1) {
    return usageError(error,
                      "only one of --bodyfile, --json, --map and --dfxml can take standard output");
  }
  const std::string* files[] = {&options->bodyFile, &options->jsonFile, &options->mapFile,
                                &options->dfxmlFile};
  for (size_t i = 0; i < 4; ++i) {
    for (size_t j = i + 1; j < 4; ++j) {
      if (!files[i]->empty() && *files[i] != "-" && *files[i] == *files[j]) {
        return usageError(error, "--bodyfile, --json, --map and --dfxml need different files");
      }
    }
  }
  if (const char* clash = examinerClash(*options)) return usageError(error, clash);
  if (options->htmlFile == "-" && toStdout > 0) {
    return usageError(error, "--html cannot take standard output with another option");
  }
  for (const std::string* other : files) {
    if (!options->htmlFile.empty() && options->htmlFile != "-" && options->htmlFile == *other) {
      return usageError(error, "--html needs a file of its own");
    }
  }
  options->image = argv[optind];
  return Command::kScan;
}
