// Fuzzing target: text of any bytes put in the SVG map. What xmlText makes
// of the input must be well-formed XML character data and attribute text:
// valid UTF-8 of characters XML allows, no raw markup character, every '&'
// the start of one of the five entities; and it must give the bytes back
// (entities, then \\ and \xHH, undone).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "xml_chars.h"
#include "xml_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = xmlText(raw);
  size_t i = 0;
  const std::string decoded = decodeXmlText(text, i, nullptr, "<>\"'");
  FUZZ_CHECK(unescapeChecked(decoded, true) == raw);
  return 0;
}
