// The signatures of the compressed streams and archives that are read
// through a decoder rather than scanned as they are.
#include "stream_signature.h"

namespace {

bool at(const std::string& head, size_t pos, const std::string& bytes) {
  return head.size() >= pos + bytes.size() && head.compare(pos, bytes.size(), bytes) == 0;
}

}  // namespace

StreamKind kindOf(const std::string& h) {
  using namespace std::string_literals;
  if (at(h, 0, "\x1f\x8b\x08"s)) return StreamKind::kGzip;
  static const std::string kFilters[] = {
      "\xfd" "7zXZ\x00"s,        // xz
      "\x28\xb5\x2f\xfd"s,       // zstd
      "BZh"s,                    // bzip2 (a digit follows)
      "\x04\x22\x4d\x18"s,       // lz4
      "LZIP"s,                   // lzip
      "\x1f\x9d"s,               // compress (.Z)
  };
  for (const std::string& s : kFilters) {
    if (!at(h, 0, s)) continue;
    if (s == "BZh" && !(h.size() > 3 && h[3] >= '1' && h[3] <= '9')) continue;
    return StreamKind::kFilter;
  }
  static const struct {
    size_t pos;
    std::string bytes;
  } kArchives[] = {
      {257, "ustar"s},                       // POSIX and GNU tar
      {0, "PK\x03\x04"s},                    // zip
      {0, "PK\x05\x06"s},                    // an empty zip
      {0, "7z\xbc\xaf\x27\x1c"s},            // 7z
      {0, "070701"s}, {0, "070702"s}, {0, "070707"s},  // cpio (ASCII)
      {0, "!<arch>\n"s},                     // ar
      {0, "xar!"s},                          // xar
      {0, "Rar!\x1a\x07"s},                  // rar
      {32769, "CD001"s},                     // ISO 9660
  };
  for (const auto& s : kArchives) {
    if (at(h, s.pos, s.bytes)) return StreamKind::kArchive;
  }
  return StreamKind::kNone;
}

std::string withoutCompressionSuffix(const std::string& name) {
  static const char* const kSuffixes[] = {".gz",  ".gzip", ".xz",  ".zst", ".zstd", ".bz2",
                                          ".bzip2", ".lz4", ".lz", ".lzma", ".Z"};
  for (const char* suffix : kSuffixes) {
    const std::string s = suffix;
    if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
      return name.substr(0, name.size() - s.size());
    }
  }
  return name;
}

StreamKind kindOfFormatName(const std::string& name) {
  if (name == "gzip") return StreamKind::kGzip;
  for (const char* n : {"xz", "lzma", "zstd", "bzip2", "lz4", "lzip", "compress"}) {
    if (name == n) return StreamKind::kFilter;
  }
  for (const char* n : {"tar", "zip", "7zip", "cpio", "iso9660", "ar", "xar", "rar"}) {
    if (name == n) return StreamKind::kArchive;
  }
  return StreamKind::kNone;
}
