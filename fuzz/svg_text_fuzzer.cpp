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
  static const char* const kEntities[][2] = {
      {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};
  std::string decoded;
  for (size_t i = 0; i < text.size();) {
    FUZZ_CHECK(std::strchr("<>\"'", text[i]) == nullptr || text[i] == '\0');
    if (text[i] == '&') {
      bool known = false;
      for (const auto& entity : kEntities) {
        if (text.compare(i, std::strlen(entity[0]), entity[0]) == 0) {
          decoded += entity[1];
          i += std::strlen(entity[0]);
          known = true;
          break;
        }
      }
      FUZZ_CHECK(known);
      continue;
    }
    const size_t at = i;
    const long cp = nextCodePoint(text, i);
    FUZZ_CHECK(cp >= 0 && xmlChar(cp));
    decoded.append(text, at, i - at);
  }
  FUZZ_CHECK(unescapeChecked(decoded, true) == raw);
  return 0;
}
