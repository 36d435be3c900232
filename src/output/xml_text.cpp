// Escaping bytes for XML: entities for markup, \xHH for what XML cannot carry.
#include "xml_text.h"

#include <cstdint>
#include <cstdio>

std::string xmlText(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  const auto* s = reinterpret_cast<const unsigned char*>(raw.data());
  const size_t n = raw.size();
  auto escapeByte = [&out](unsigned char c) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", c);
    out += text;
  };
  for (size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\\': out += "\\\\"; break;
        default:
          if (c < 0x20 || c == 0x7f) {
            escapeByte(c);
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    // A multi-byte sequence: its length from the lead byte, then the rules
    // against overlong forms, surrogates and code points past U+10FFFF.
    size_t len = 0;
    uint32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && i + len <= n && s[i + 1] >= lo && s[i + 1] <= hi;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // C1 controls and the two non-characters XML does not allow.
    if (ok && (cp <= 0x9F || cp == 0xFFFE || cp == 0xFFFF)) ok = false;
    if (!ok) {
      escapeByte(c);
      ++i;
      continue;
    }
    out.append(raw, i, len);
    i += len;
  }
  return out;
}
