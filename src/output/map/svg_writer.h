// Writing SVG text: formatted output and the few elements the map is made
// of (a rectangle or a line with a <title>, a text), with coordinates to one
// decimal. Where the text goes is the subclass's business: a stdio stream
// (FileSvgWriter, whose errors the owner of the stream looks at once, at
// the end) or a string (StringSvgWriter). Text handed in is already escaped
// (xml_text.h).
#ifndef BFSSCAN_SVG_WRITER_H
#define BFSSCAN_SVG_WRITER_H

#include <cstddef>
#include <cstdio>
#include <string>

class SvgWriter {
 public:
  virtual ~SvgWriter() = default;

  void put(const std::string& s) { write(s.data(), s.size()); }
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // A rectangle of a class with a title, at least minWidth wide.
  void rect(const char* cls, double x, double y, double w, double h, const std::string& title,
            double minWidth = 1);
  // A line of a class with a title.
  void line(const char* cls, double x1, double y1, double x2, double y2, const std::string& title);
  // A text, with a class and an anchor when not null.
  void text(double x, double y, const std::string& s, const char* cls = nullptr,
            const char* anchor = nullptr);

 protected:
  virtual void write(const char* data, size_t size) = 0;
};

// Into a stdio stream, buffered; the stream's error state tells of failures.
class FileSvgWriter final : public SvgWriter {
 public:
  explicit FileSvgWriter(std::FILE* f) : f_(f) {}

 protected:
  void write(const char* data, size_t size) override { std::fwrite(data, 1, size, f_); }

 private:
  std::FILE* f_;
};

// Into a string.
class StringSvgWriter final : public SvgWriter {
 public:
  const std::string& str() const { return out_; }

 protected:
  void write(const char* data, size_t size) override { out_.append(data, size); }

 private:
  std::string out_;
};

#endif  // BFSSCAN_SVG_WRITER_H
