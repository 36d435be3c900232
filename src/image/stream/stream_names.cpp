// Naming compressed streams and archives by their signatures.
#include "stream_names.h"

namespace {

bool at(const std::string& head, size_t pos, const std::string& bytes) {
  return head.size() >= pos + bytes.size() && head.compare(pos, bytes.size(), bytes) == 0;
}

struct Signature {
  size_t pos;
  std::string bytes;
  const char* name;
};

std::string nameOf(const std::string& head, const Signature* list, size_t n,
                   const char* otherwise) {
  for (size_t i = 0; i < n; ++i) {
    if (at(head, list[i].pos, list[i].bytes)) return list[i].name;
  }
  return otherwise;
}

}  // namespace

std::string compressionName(const std::string& head) {
  using namespace std::string_literals;
  static const Signature kList[] = {
      {0, "\x1f\x8b"s, "gzip"},         {0, "\xfd" "7zXZ\x00"s, "xz"},
      {0, "\x28\xb5\x2f\xfd"s, "zstd"}, {0, "BZh"s, "bzip2"},
      {0, "\x04\x22\x4d\x18"s, "lz4"},  {0, "LZIP"s, "lzip"},
      {0, "\x1f\x9d"s, "compress"},     {0, "\x5d\x00\x00"s, "lzma"},
  };
  return nameOf(head, kList, sizeof kList / sizeof kList[0], "compressed");
}

std::string archiveName(const std::string& head) {
  using namespace std::string_literals;
  static const Signature kList[] = {
      {257, "ustar"s, "tar"},      {0, "PK"s, "zip"},          {0, "7z\xbc\xaf\x27\x1c"s, "7zip"},
      {0, "0707"s, "cpio"},        {0, "!<arch>\n"s, "ar"},    {0, "xar!"s, "xar"},
      {0, "Rar!"s, "rar"},         {32769, "CD001"s, "iso9660"},
  };
  return nameOf(head, kList, sizeof kList / sizeof kList[0], "archive");
}
