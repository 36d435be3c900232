// For the XML checks of the fuzzing targets: UTF-8 decoding of one code
// point, the Char production of XML 1.0, and character data read back.
#ifndef BFSSCAN_FUZZ_XML_CHARS_H
#define BFSSCAN_FUZZ_XML_CHARS_H

#include <cstddef>
#include <cstring>
#include <string>

#include "fuzz_check.h"

// The code point of the UTF-8 sequence at text[i], advancing i; -1 when
// the sequence is not valid (overlong, a surrogate, past U+10FFFF, cut).
inline long nextCodePoint(const std::string& text, size_t& i) {
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
inline bool xmlChar(long cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Character data read back from text at i, up to a byte in stops (or the
// end; null stops reads to the end), advancing i: every byte of forbidden
// is absent, every '&' is one of the five entities (decoded), and the rest
// is valid UTF-8 of XML characters.
inline std::string decodeXmlText(const std::string& text, size_t& i, const char* stops,
                                 const char* forbidden) {
  static const char* const kEntities[][2] = {
      {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};
  std::string out;
  while (i < text.size() && (stops == nullptr || std::strchr(stops, text[i]) == nullptr)) {
    FUZZ_CHECK(std::strchr(forbidden, text[i]) == nullptr || text[i] == '\0');
    if (text[i] == '&') {
      bool known = false;
      for (const auto& entity : kEntities) {
        if (text.compare(i, std::strlen(entity[0]), entity[0]) == 0) {
          out += entity[1];
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
    out.append(text, at, i - at);
  }
  return out;
}

#endif  // BFSSCAN_FUZZ_XML_CHARS_H
