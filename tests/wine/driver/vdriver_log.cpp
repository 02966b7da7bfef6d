// vdriver's log: one line an event, its fields escaped and separated by
// TABs, written to stdout and to the --log file.
#include "vdriver.h"

namespace vdriver {

FILE* g_log = nullptr;

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

}  // namespace

void LogLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += '\t';
    line += Escape(fields[i]);
  }
  line += '\n';
  fputs(line.c_str(), stdout);
  fflush(stdout);
  if (g_log) {
    fputs(line.c_str(), g_log);
    fflush(g_log);
  }
}

// Appended rather than written as "!" + std::to_string(code): GCC 12 at -O3
// warns wrongly (-Wrestrict) about that string concatenation.
std::string ErrorField(const char* prefix, DWORD code) {
  std::string field = prefix;
  field += std::to_string(code);
  return field;
}

}  // namespace vdriver
