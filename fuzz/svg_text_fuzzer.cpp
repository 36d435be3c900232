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
#include "xml_text.h"

namespace {

// The code point of the UTF-8 sequence at text[i], advancing i; -1 when
// the sequence is not valid (overlong, a surrogate, past U+10FFFF, cut).
long nextCodePoint(const std::string& text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > text.size()) return -1;
  long cp = len == 1 ? c : c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return -1;
    cp = cp << 6 | (byte(i + k) & 0x3F);
  }
  static const long kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  i += len;
  return cp;
}

// The Char production of XML 1.0.
bool xmlChar(long cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

}  // namespace

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
