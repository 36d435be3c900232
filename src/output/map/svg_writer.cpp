// Writing SVG text and elements through a destination of the subclass.
#include "svg_writer.h"

#include <cstdarg>
#include <vector>

void SvgWriter::printf(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    write(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    write(big.data(), static_cast<size_t>(n));
  }
  va_end(again);
}

void SvgWriter::rect(const char* cls, double x, double y, double w, double h,
                     const std::string& title, double minWidth) {
  if (w < minWidth) w = minWidth;
  printf("<g><title>");
  put(title);
  printf("</title><rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/></g>\n",
         cls, x, y, w, h);
}

void SvgWriter::line(const char* cls, double x1, double y1, double x2, double y2,
                     const std::string& title) {
  printf("<g><title>");
  put(title);
  printf("</title><line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/></g>\n", cls,
         x1, y1, x2, y2);
}

void SvgWriter::text(double x, double y, const std::string& s, const char* cls,
                     const char* anchor) {
  printf("<text x=\"%.1f\" y=\"%.1f\"", x, y);
  if (cls) printf(" class=\"%s\"", cls);
  if (anchor) printf(" text-anchor=\"%s\"", anchor);
  printf(">");
  put(s);
  printf("</text>\n");
}
