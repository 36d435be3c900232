// Digests of a file's bytes, computed while they are copied (OpenSSL EVP).
#ifndef BFSSCAN_HASHING_H
#define BFSSCAN_HASHING_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "scan_sink.h"

class FileHasher {
 public:
  // algorithms: "md5", "sha1", "sha256"; none makes a hasher that does nothing.
  explicit FileHasher(const std::vector<std::string>& algorithms);
  ~FileHasher();
  FileHasher(const FileHasher&) = delete;
  FileHasher& operator=(const FileHasher&) = delete;

  bool active() const { return !contexts_.empty(); }
  void update(const char* data, size_t n);
  // The digests, in the order asked for.
  std::vector<Digest> finish();

 private:
  struct Context;
  std::vector<std::unique_ptr<Context>> contexts_;
};

#endif  // BFSSCAN_HASHING_H
