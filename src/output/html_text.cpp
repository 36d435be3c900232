// Escaping bytes for HTML: the XML escaping (entities, \xHH), with the short
// forms standard error uses for tab, newline and carriage return.
#include "html_text.h"

#include <cstdio>

#include "xml_text.h"

std::string htmlText(const std::string& raw) {
  const std::string xml = xmlText(raw);
  std::string out;
  out.reserve(xml.size());
  for (size_t i = 0; i < xml.size(); ++i) {
    if (xml[i] != '\\' || i + 1 >= xml.size()) {
      out += xml[i];
      continue;
    }
    // A backslash of the text is doubled, so this one starts an escape.
    if (xml[i + 1] == 'x' && i + 3 < xml.size() && xml[i + 2] == '0') {
      const char low = xml[i + 3];
      const char* shortForm = low == '9' ? "\\t" : low == 'a' ? "\\n" : low == 'd' ? "\\r" : nullptr;
      if (shortForm != nullptr) {
        out += shortForm;
        i += 3;
        continue;
      }
    }
    out += xml[i];
    out += xml[++i];
  }
  return out;
}

std::string hrefPath(const std::string& path) {
  std::string out;
  if (path.empty() || path[0] != '/') out = "./";
  for (const char ch : path) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += ch;
    } else {
      char text[4];
      std::snprintf(text, sizeof text, "%%%02X", c);
      out += text;
    }
  }
  return out;
}
