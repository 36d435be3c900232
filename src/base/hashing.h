// Digests of extracted files (md5, sha1, sha256), computed while their bytes
// are copied so that no file is read twice.
#ifndef BFSSCAN_HASHING_H
#define BFSSCAN_HASHING_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "scan_sink.h"

// Parses "md5,sha1,sha256" (any non-empty subset, in any order, each at most
// once) into algs. False, with algs untouched, on anything else.
bool parseHashList(const std::string& list, std::vector<std::string>* algs);

// Hashes one file's bytes with each algorithm of a list at once. With an
// empty list every call does nothing and finish() returns nothing.
class FileHasher {
 public:
  // algs as parseHashList gives them. Throws OutputFailure when the crypto
  // library cannot provide one of them (the digests cannot be written).
  explicit FileHasher(const std::vector<std::string>& algs);
  ~FileHasher();
  FileHasher(const FileHasher&) = delete;
  FileHasher& operator=(const FileHasher&) = delete;

  // Whether any algorithm was asked for.
  bool active() const { return !contexts_.empty(); }
  void update(const char* data, size_t n);
  // The digests of everything given since construction or the last finish(),
  // in the order of the list; the hasher is then ready for the next file.
  std::vector<Digest> finish();

 private:
  struct Context;
  std::vector<std::unique_ptr<Context>> contexts_;
};

#endif  // BFSSCAN_HASHING_H
