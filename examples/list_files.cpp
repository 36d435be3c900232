// Lists every BFS file system in a disk image and every file in it, without
// writing anything:  list_files IMAGE
// Build: c++ -std=c++17 list_files.cpp $(pkg-config --cflags --libs bfsscan)
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

// Receives the scan's events; only those of interest are overridden.
class Lister : public bfsscan::Sink {
 public:
  void fileSystem(const bfsscan::FileSystemEvent& e) override {
    std::cout << "file system at byte " << e.base << ", " << e.end + 1 << " bytes\n";
  }
  void file(const bfsscan::FileEvent& e) override {
    if (e.status == bfsscan::FileEvent::kListed) {
      std::cout << "  " << printable(e.name) << ": " << e.length << " bytes at byte "
                << e.imageOffset << '\n';
    }
  }
  // Damage, unreadable or unnamed files: one line each, already escaped.
  void problem(const bfsscan::ProblemEvent& e) override { std::cerr << e.text << '\n'; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: list_files IMAGE\n";
    return 1;
  }
  bfsscan::ScanConfig config;
  config.dryRun = true;  // read every file, write nothing
  Lister lister;
  const bfsscan::Outcome outcome = bfsscan::scan(argv[1], "auto", config, lister);
  return outcome.status;  // 0 when the whole image was read
}
