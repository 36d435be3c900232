// Hashing through OpenSSL's EVP interface. The crypto library is loaded
// when a digest is first asked for, not when the program starts: a run
// without --hash never maps it.
#include "hashing.h"

#include <openssl/evp.h>

#include <algorithm>
#include <stdexcept>

#include "escape.h"
#include "lazy_library.h"
#include "output_failure.h"

#ifndef BFSSCAN_LIBCRYPTO_SONAME
#error "BFSSCAN_LIBCRYPTO_SONAME: the SONAME of the crypto library built against"
#endif

namespace {

bool isDigestName(const std::string& name) {
  return name == "md5" || name == "sha1" || name == "sha256";
}

// The few functions of the crypto library that hashing uses.
struct Evp {
  decltype(&EVP_MD_CTX_new) ctxNew;
  decltype(&EVP_MD_CTX_free) ctxFree;
  decltype(&EVP_DigestInit_ex) init;
  decltype(&EVP_DigestUpdate) update;
  decltype(&EVP_DigestFinal_ex) final;
  const EVP_MD* (*md)();
};

Evp loadEvp(const std::string& name) {
  LazyLibrary crypto = LazyLibrary::bySoname(BFSSCAN_LIBCRYPTO_SONAME);
  Evp evp;
  evp.ctxNew = crypto.symbol<decltype(evp.ctxNew)>("EVP_MD_CTX_new");
  evp.ctxFree = crypto.symbol<decltype(evp.ctxFree)>("EVP_MD_CTX_free");
  evp.init = crypto.symbol<decltype(evp.init)>("EVP_DigestInit_ex");
  evp.update = crypto.symbol<decltype(evp.update)>("EVP_DigestUpdate");
  evp.final = crypto.symbol<decltype(evp.final)>("EVP_DigestFinal_ex");
  evp.md = crypto.symbol<decltype(evp.md)>(name == "md5"    ? "EVP_md5"
                                           : name == "sha1" ? "EVP_sha1"
                                                            : "EVP_sha256");
  if (!evp.ctxNew || !evp.ctxFree || !evp.init || !evp.update || !evp.final || !evp.md) {
    throw OutputFailure("cannot compute " + name + " digests: " + crypto.error());
  }
  return evp;
}

}  // namespace

bool parseHashList(const std::string& list, std::vector<std::string>* algs) {
  std::vector<std::string> parsed;
  size_t pos = 0;
  while (true) {
    const size_t comma = list.find(',', pos);
    const std::string name = list.substr(pos, comma == std::string::npos ? comma : comma - pos);
    if (!isDigestName(name)) return false;
    if (std::find(parsed.begin(), parsed.end(), name) != parsed.end()) return false;
    parsed.push_back(name);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  *algs = std::move(parsed);
  return true;
}

struct FileHasher::Context {
  std::string name;
  Evp evp;
  EVP_MD_CTX* ctx = nullptr;

  Context(const std::string& n, const Evp& e) : name(n), evp(e), ctx(evp.ctxNew()) {}
  ~Context() { evp.ctxFree(ctx); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  void init() {
    if (!ctx || evp.init(ctx, evp.md(), nullptr) != 1) {
      throw OutputFailure("cannot compute " + name + " digests");
    }
  }
};

FileHasher::FileHasher(const std::vector<std::string>& algs) {
  for (const std::string& name : algs) {
    if (!isDigestName(name)) throw OutputFailure("unknown digest " + name);
    auto c = std::make_unique<Context>(name, loadEvp(name));
    c->init();
    contexts_.push_back(std::move(c));
  }
}

FileHasher::~FileHasher() = default;

void FileHasher::update(const char* data, size_t n) {
  for (auto& c : contexts_) {
    if (c->evp.update(c->ctx, data, n) != 1) {
      throw OutputFailure("cannot compute " + c->name + " digests");
    }
  }
}

std::vector<Digest> FileHasher::finish() {
  std::vector<Digest> out;
  for (auto& c : contexts_) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (c->evp.final(c->ctx, md, &len) != 1) {
      throw OutputFailure("cannot compute " + c->name + " digests");
    }
    out.push_back(Digest{c->name, hexBytes(std::string(reinterpret_cast<const char*>(md), len))});
    c->init();
  }
  return out;
}
