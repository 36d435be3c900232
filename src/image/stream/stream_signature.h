// Telling compressed streams and archives by their first bytes. An archive
// is recognised only by an explicit signature: a disk image that begins
// with zeros is never taken for an empty archive.
#ifndef BFSSCAN_STREAM_SIGNATURE_H
#define BFSSCAN_STREAM_SIGNATURE_H

#include <cstddef>
#include <string>

enum class StreamKind {
  kNone,     // neither: a raw image or a container
  kGzip,     // inflated with zlib
  kFilter,   // another compressed stream, decoded by libarchive
  kArchive,  // an archive of members (tar, zip, 7z, cpio, ISO 9660, ar, ...)
};

// How many leading bytes kindOf wants to see (an ISO 9660 volume
// descriptor lies at 32769).
constexpr size_t kSignatureBytes = 32774;

StreamKind kindOf(const std::string& head);

// The kind a format named on the command line forces: a compression
// ("gzip", "xz", "lzma", "zstd", "bzip2", "lz4", "lzip", "compress") or an
// archive ("tar", "zip", "7zip", "cpio", "iso9660", "ar", "xar", "rar");
// kNone for another name.
StreamKind kindOfFormatName(const std::string& name);

// The name without a compression suffix (".gz", ".xz", ".zst", ".bz2",
// ".lz4", ".lz", ".lzma", ".Z", ...), when it has one.
std::string withoutCompressionSuffix(const std::string& name);

#endif  // BFSSCAN_STREAM_SIGNATURE_H
