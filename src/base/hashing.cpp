// Hashing through OpenSSL's EVP interface.
#include "hashing.h"

#include <openssl/evp.h>

#include <algorithm>
#include <stdexcept>

#include "escape.h"
#include "output_failure.h"

namespace {

const EVP_MD* digestByName(const std::string& name) {
  if (name == "md5") return EVP_md5();
  if (name == "sha1") return EVP_sha1();
  if (name == "sha256") return EVP_sha256();
  return nullptr;
}

}  // namespace

bool parseHashList(const std::string& list, std::vector<std::string>* algs) {
  std::vector<std::string> parsed;
  size_t pos = 0;
  while (true) {
    const size_t comma = list.find(',', pos);
    const std::string name = list.substr(pos, comma == std::string::npos ? comma : comma - pos);
    if (digestByName(name) == nullptr) return false;
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
  const EVP_MD* md = nullptr;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), &EVP_MD_CTX_free};

  void init() {
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) {
      throw OutputFailure("cannot compute " + name + " digests");
    }
  }
};

FileHasher::FileHasher(const std::vector<std::string>& algs) {
  for (const std::string& name : algs) {
    auto c = std::make_unique<Context>();
    c->name = name;
    c->md = digestByName(name);
    if (c->md == nullptr) throw OutputFailure("unknown digest " + name);
    c->init();
    contexts_.push_back(std::move(c));
  }
}

FileHasher::~FileHasher() = default;

void FileHasher::update(const char* data, size_t n) {
  for (auto& c : contexts_) {
    if (EVP_DigestUpdate(c->ctx.get(), data, n) != 1) {
      throw OutputFailure("cannot compute " + c->name + " digests");
    }
  }
}

std::vector<Digest> FileHasher::finish() {
  std::vector<Digest> out;
  for (auto& c : contexts_) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(c->ctx.get(), md, &len) != 1) {
      throw OutputFailure("cannot compute " + c->name + " digests");
    }
    out.push_back(Digest{c->name, hexBytes(std::string(reinterpret_cast<const char*>(md), len))});
    c->init();
  }
  return out;
}
