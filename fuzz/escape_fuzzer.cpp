// Fuzzing target: the escapes of names for standard error, for the body
// file and JSON names, and as hex. Whatever the bytes, each form is
// printable ASCII (the body form without its field separator and the %
// mactime decodes) and gives the bytes back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "escape.h"
#include "fuzz_check.h"
#include "name_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string line = escapeForDiag(bytes);
  FUZZ_CHECK(printableAscii(line));
  FUZZ_CHECK(unescapeChecked(line, true) == bytes);
  const std::string body = escapeBodyName(bytes);
  FUZZ_CHECK(printableAscii(body) && body.find_first_of("|%") == std::string::npos);
  FUZZ_CHECK(unescapeChecked(body, false) == bytes);
  FUZZ_CHECK(fromHex(hexBytes(bytes)) == bytes);
  return 0;
}
