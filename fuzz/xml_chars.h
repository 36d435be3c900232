// For the XML checks of the fuzzing targets: UTF-8 decoding of one code
// point and the Char production of XML 1.0.
#ifndef BFSSCAN_FUZZ_XML_CHARS_H
#define BFSSCAN_FUZZ_XML_CHARS_H

#include <cstddef>
#include <string>

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

#endif  // BFSSCAN_FUZZ_XML_CHARS_H
