// Prints the SHA-256 of every file of every BFS file system in a disk image,
// in the form sha256sum prints (digest, two spaces, path), writing nothing:
//   sha256_files IMAGE
// Build: c++ -std=c++17 sha256_files.cpp $(pkg-config --cflags --libs bfsscan)
#include <bfsscan/bfsscan.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

// A name as printable ASCII: other bytes as \xHH.
std::string printable(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

class Digests : public bfsscan::Sink {
 public:
  void file(const bfsscan::FileEvent& e) override {
    if (e.status != bfsscan::FileEvent::kListed) return;  // skipped or unreadable
    for (const bfsscan::Digest& d : e.digests) {
      // The path is where the file would be extracted: DIRECTORY/NAME.
      if (d.algorithm == "sha256") std::cout << d.hex << "  " << printable(e.dir + '/' + e.name)
                                        << '\n';
    }
  }
  void problem(const bfsscan::ProblemEvent& e) override { std::cerr << e.text << '\n'; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: sha256_files IMAGE\n";
    return 1;
  }
  bfsscan::ScanConfig config;
  config.dryRun = true;         // the bytes are read and hashed, not written
  config.hashes = {"sha256"};
  Digests digests;
  return bfsscan::scan(argv[1], "auto", config, digests).status;
}
