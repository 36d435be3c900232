#include "attribute_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <vector>

namespace mkbfs {
namespace {

bool parseNumber(const std::string& text, int base, uint64_t limit, uint64_t* n) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v > limit) return false;
  *n = v;
  return true;
}

// Replaces the field the option names; false for an option of another kind.
bool setField(Attributes& a, const std::string& option, uint32_t v) {
  if (option == "--mode")
    a.mode = v;
  else if (option == "--uid")
    a.uid = v;
  else if (option == "--gid")
    a.gid = v;
  else if (option == "--atime")
    a.atime = v;
  else if (option == "--mtime")
    a.mtime = v;
  else if (option == "--ctime")
    a.ctime = v;
  else if (option == "--time")
    a.atime = a.mtime = a.ctime = v;
  else
    return false;
  return true;
}

void merge(Attributes& into, const Attributes& from) {
  for (auto [to, field] : {std::pair{&into.mode, &from.mode},
                           {&into.uid, &from.uid},
                           {&into.gid, &from.gid},
                           {&into.atime, &from.atime},
                           {&into.mtime, &from.mtime},
                           {&into.ctime, &from.ctime}}) {
    if (*field) *to = *field;
  }
}

}  // namespace

bool parseTime(const std::string& text, uint32_t* seconds) {
  uint64_t n = 0;
  if (parseNumber(text, 10, UINT32_MAX, &n)) {
    *seconds = static_cast<uint32_t>(n);
    return true;
  }
  struct tm tm = {};
  int used = 0;
  const bool dateOnly = text.size() == 10;
  const char* format = dateOnly ? "%4d-%2d-%2d%n" : "%4d-%2d-%2dT%2d:%2d:%2dZ%n";
  const int fields =
      dateOnly ? std::sscanf(text.c_str(), format, &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &used)
               : std::sscanf(text.c_str(), format, &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                             &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &used);
  if (fields != (dateOnly ? 3 : 6) || static_cast<size_t>(used) != text.size()) return false;
  if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 60) {
    return false;
  }
  const int day = tm.tm_mday, month = tm.tm_mon;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const time_t t = timegm(&tm);
  if (tm.tm_mday != day || tm.tm_mon != month - 1) return false;  // no such day
  if (t < 0 || static_cast<uint64_t>(t) > UINT32_MAX) return false;
  *seconds = static_cast<uint32_t>(t);
  return true;
}

bool AttributeOptions::take(const std::string& option, const std::string& value) {
  Attributes probe;
  if (!setField(probe, option, 0)) return false;
  // NAME=VALUE for one file; no mode, id or time holds an '='.
  const size_t eq = value.find('=');
  const std::string name = eq == std::string::npos ? "" : value.substr(0, eq);
  const std::string text = eq == std::string::npos ? value : value.substr(eq + 1);
  uint64_t n = 0;
  uint32_t v = 0;
  bool ok;
  if (option == "--mode") {
    ok = parseNumber(text, 8, 0177777, &n);
    v = static_cast<uint32_t>(n);
  } else if (option == "--uid" || option == "--gid") {
    ok = parseNumber(text, 10, UINT32_MAX, &n);
    v = static_cast<uint32_t>(n);
  } else {
    ok = parseTime(text, &v);
  }
  if (!ok) {
    const char* what = option == "--mode"                       ? "an octal mode"
                       : option == "--uid" || option == "--gid" ? "a decimal id"
                                                                : "seconds since 1970 or "
                                                                  "YYYY-MM-DDTHH:MM:SSZ";
    throw BuildError(option + " takes " + what + ", not '" + text + "'");
  }
  setField(eq == std::string::npos ? every_ : byName_[name], option, v);
  return true;
}

Attributes AttributeOptions::forFile(const std::string& name) const {
  Attributes a = every_;
  const auto it = byName_.find(name);
  if (it != byName_.end()) merge(a, it->second);
  return a;
}

void AttributeOptions::checkNames(const std::vector<File>& files) const {
  std::set<std::string> names;
  for (const File& f : files) names.insert(f.name);
  for (const auto& [name, a] : byName_) {
    if (names.count(name) == 0) throw BuildError("no file named '" + name + "' is given");
  }
}

}  // namespace mkbfs
