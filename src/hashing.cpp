#include "hashing.h"

#include <openssl/evp.h>

#include <new>

struct FileHasher::Context {
  std::string name;
  EVP_MD_CTX* ctx;
  ~Context() { EVP_MD_CTX_free(ctx); }
};

FileHasher::FileHasher(const std::vector<std::string>& algorithms) {
  for (const std::string& name : algorithms) {
    const EVP_MD* md = EVP_get_digestbyname(name.c_str());
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!md || !ctx || EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
      EVP_MD_CTX_free(ctx);
      throw std::bad_alloc();
    }
    contexts_.push_back(std::unique_ptr<Context>(new Context{name, ctx}));
  }
}

FileHasher::~FileHasher() = default;

void FileHasher::update(const char* data, size_t n) {
  for (auto& c : contexts_) EVP_DigestUpdate(c->ctx, data, n);
}

std::vector<Digest> FileHasher::finish() {
  static const char kDigits[] = "0123456789abcdef";
  std::vector<Digest> digests;
  for (auto& c : contexts_) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(c->ctx, md, &len);
    std::string hex;
    for (unsigned i = 0; i < len; ++i) {
      hex += kDigits[md[i] >> 4];
      hex += kDigits[md[i] & 15];
    }
    digests.push_back({c->name, hex});
  }
  return digests;
}
