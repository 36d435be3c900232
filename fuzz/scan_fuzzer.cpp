// libFuzzer target: the whole scan, extraction included, of the input taken
// as an image, in a private temporary working directory. A violated
// consistency condition is an expected outcome; anything the sanitizers
// catch, a crash, a hang or runaway memory is a finding.
#include <stdlib.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <streambuf>

#include "console.h"
#include "scan.h"
#include "text_report.h"

namespace fs = boost::filesystem;

namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

NullBuffer g_null;
std::ostream g_discard(&g_null);
fs::path g_work;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/bfsscan-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl) || ::chdir(tmpl) != 0) abort();
  g_work = tmpl;
  ::atexit([] {
    boost::system::error_code ec;
    fs::remove_all(g_work, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream image("fuzz.img", std::ios::binary | std::ios::trunc);
    image.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // Once as by default, once keeping going past damage.
  for (const bool keepGoing : {false, true}) {
    ScanRequest request;
    request.image = "fuzz.img";
    request.config.keepGoing = keepGoing;
    request.format = ImageFormat::kRaw;  // the scanner, not the container libraries
    StreamConsole console(g_discard, g_discard);
    TextReport report(console, request.image);
    do_scan(request, report);
  }
  // Only extraction directories may have appeared next to the image.
  boost::system::error_code ec;
  for (fs::directory_iterator it(g_work, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path name = it->path().filename();
    if (name == "fuzz.img") continue;
    if (name.string().rfind("fuzz-", 0) != 0 || !fs::is_directory(it->symlink_status())) {
      abort();  // something was written outside an extraction directory
    }
  }
  for (fs::directory_iterator it(g_work, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() != "fuzz.img") fs::remove_all(it->path(), ec);
  }
  return 0;
}
