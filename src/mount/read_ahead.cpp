#include "read_ahead.h"

#include <fstream>
#include <sstream>

namespace {

// A path as mountinfo writes it: blank, tab, newline and backslash in octal.
std::string mountinfoEscaped(const std::string& path) {
  std::string out;
  for (const char c : path) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      const unsigned char u = static_cast<unsigned char>(c);
      out += '\\';
      out += static_cast<char>('0' + (u >> 6));
      out += static_cast<char>('0' + ((u >> 3) & 7));
      out += static_cast<char>('0' + (u & 7));
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string mountDevice(const std::string& mountinfo, const std::string& mountPoint) {
  const std::string wanted = mountinfoEscaped(mountPoint);
  std::istringstream in(mountinfo);
  std::string line, device;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, point;
    fields >> id >> parent >> dev >> root >> point;
    if (point == wanted) device = dev;  // the last one mounted there is the one seen
  }
  return device;
}

bool widenReadAhead(const std::string& mountPoint, unsigned kib) {
  std::ifstream info("/proc/self/mountinfo");
  std::stringstream text;
  text << info.rdbuf();
  const std::string device = mountDevice(text.str(), mountPoint);
  if (device.empty() || device.find('/') != std::string::npos) return false;
  std::ofstream setting("/sys/class/bdi/" + device + "/read_ahead_kb");
  setting << kib << '\n';
  setting.flush();
  return static_cast<bool>(setting);
}
