#include "inode_target.h"

#include <cctype>

namespace {

bool parseNumber(const std::string& text, uint64_t limit, uint64_t* n) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const size_t from = hex ? 2 : 0;
  const unsigned base = hex ? 16 : 10;
  if (text.size() == from) return false;
  uint64_t v = 0;
  for (size_t i = from; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned digit;
    if (std::isdigit(c)) {
      digit = c - '0';
    } else if (hex && std::isxdigit(c)) {
      digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
    } else {
      return false;
    }
    if (v > (limit - digit) / base) return false;
    v = v * base + digit;
  }
  *n = v;
  return true;
}

}  // namespace

bool parseOffset(const std::string& text, int64_t* offset) {
  uint64_t n = 0;
  if (!parseNumber(text, INT64_MAX, &n)) return false;
  *offset = static_cast<int64_t>(n);
  return true;
}

bool parseInodeTarget(const std::string& text, InodeTarget* target) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  InodeTarget t;
  std::string number = text.substr(colon + 1);
  if (number.compare(0, 5, "slot=") == 0) {
    t.deleted = true;
    number.erase(0, 5);
  }
  uint64_t n = 0;
  if (!parseOffset(text.substr(0, colon), &t.fs) || !parseNumber(number, UINT32_MAX, &n)) {
    return false;
  }
  t.number = static_cast<uint32_t>(n);
  *target = t;
  return true;
}
