// Escaping of names and paths for standard error and the results files.
#include "escape.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

void appendHex(std::string& out, unsigned char c) {
  out += kHexDigits[c >> 4];
  out += kHexDigits[c & 0xf];
}

void appendEscapedHex(std::string& out, unsigned char c) {
  out += "\\x";
  appendHex(out, c);
}

bool printable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }

}  // namespace

std::string escapeForDiag(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (printable(c)) {
          out += ch;
        } else {
          appendEscapedHex(out, c);
        }
    }
  }
  return out;
}

std::string escapeBodyName(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (printable(c) && c != '|' && c != '\\' && c != '%') {
      out += ch;
    } else {
      appendEscapedHex(out, c);
    }
  }
  return out;
}

std::string hexBytes(const std::string& bytes) {
  std::string out;
  out.reserve(2 * bytes.size());
  for (const char ch : bytes) appendHex(out, static_cast<unsigned char>(ch));
  return out;
}
