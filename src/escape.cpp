#include "escape.h"

namespace {
const char kDigits[] = "0123456789abcdef";

void appendHex(std::string& out, unsigned char b) {
  out += "\\x";
  out += kDigits[b >> 4];
  out += kDigits[b & 15];
}
}  // namespace

std::string escapeForDiag(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    switch (b) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b >= 0x20 && b <= 0x7e) {
          out += c;
        } else {
          appendHex(out, b);
        }
    }
  }
  return out;
}

std::string escapeBodyName(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b <= 0x7e && b != '|' && b != '\\') {
      out += c;
    } else {
      appendHex(out, b);
    }
  }
  return out;
}

std::string hexBytes(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}
