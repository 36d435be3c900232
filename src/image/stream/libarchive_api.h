// libarchive, loaded with dlopen when a compressed stream or an archive is
// first read rather than linked: it brings a dozen libraries (ICU's 30 MiB of
// data among them) that the scan of a raw image or a container never uses.
#ifndef BFSSCAN_LIBARCHIVE_API_H
#define BFSSCAN_LIBARCHIVE_API_H

#include <archive.h>
#include <archive_entry.h>

#include <memory>

// The functions used, by their libarchive names.
#define BFSSCAN_LIBARCHIVE_FUNCTIONS(X)                                                  \
  X(archive_read_new) X(archive_read_free) X(archive_read_open) X(archive_read_open1)    \
  X(archive_read_set_read_callback) X(archive_read_set_seek_callback)                    \
  X(archive_read_set_callback_data) X(archive_read_next_header) X(archive_read_data)     \
  X(archive_error_string) X(archive_set_error) X(archive_filter_count) X(archive_errno)   \
  X(archive_entry_filetype) X(archive_entry_pathname)                                    \
  X(archive_read_support_filter_all) X(archive_read_support_format_all)                  \
  X(archive_read_support_format_raw) X(archive_read_support_filter_xz)                   \
  X(archive_read_support_filter_lzma) X(archive_read_support_filter_zstd)                \
  X(archive_read_support_filter_bzip2) X(archive_read_support_filter_lz4)                \
  X(archive_read_support_filter_lzip) X(archive_read_support_filter_compress)            \
  X(archive_read_support_format_tar) X(archive_read_support_format_zip)                  \
  X(archive_read_support_format_7zip) X(archive_read_support_format_cpio)                \
  X(archive_read_support_format_iso9660) X(archive_read_support_format_ar)               \
  X(archive_read_support_format_xar) X(archive_read_support_format_rar)

struct LibarchiveApi {
#define BFSSCAN_LIBARCHIVE_MEMBER(name) decltype(&::name) name = nullptr;
  BFSSCAN_LIBARCHIVE_FUNCTIONS(BFSSCAN_LIBARCHIVE_MEMBER)
#undef BFSSCAN_LIBARCHIVE_MEMBER
  void* handle = nullptr;
};

// Loads the library (again: the loader counts) and finds its functions;
// throws StreamDamage when it cannot. The library stays loaded as long as
// the returned object lives.
std::shared_ptr<const LibarchiveApi> loadLibarchive();

#endif  // BFSSCAN_LIBARCHIVE_API_H
