// The check's pieces that its rule families share: the sections and keys the
// program knows, SETUP.INI as its writer meant it, the program's own reading
// of it on each Windows version, and the Checker that gathers the findings.
#pragma once

#include "check.h"
#include "play.h"

#include "setup/setup.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace setupcheck {

// ---- The names the program reads (check_ini.cpp) ---------------------------------

const KnownSection* FindKnown(const std::string& section);

// ---- SETUP.INI as its writer meant it (initext.cpp) ------------------------------

enum class Encoding { Ansi, Utf8Bom, Utf16Le, Utf16Be, Utf16NoMark, Binary };

Encoding Detect(const std::vector<uint8_t>& b);

std::string Cp1252ToUtf8(const std::string& s);

bool DecodeUtf8(const std::string& s, std::vector<uint32_t>* out);

std::string MeantText(const std::vector<uint8_t>& b, Encoding e);

struct IniLine {
  int number;
  std::string section;  // as written
  int sectionIndex;     // which occurrence of the section (0 = the first)
  std::string key;
  std::optional<std::string> value;
};

struct IniText {
  std::vector<std::pair<std::string, int>> sections;  // name, line
  std::vector<IniLine> keys;
  std::vector<int> outside;  // lines before the first section
};

IniText ParseMeant(const std::string& text);

std::string Value(const IniText& ini, const std::string& section, const std::string& key);

// ---- Asking the program and wording the findings (check.cpp) ---------------------

struct Probe {
  winsim::WindowsVersion version;
  SetupState state;
  bool installDirProtected = false;
  bool workingDirProtected = false;
  bool groupNamePlain = true;
  std::string programFiles, personal;
  bool standardUser = false;
};

std::string Quoted(const std::string& s, size_t limit = 60);
std::string Subject(const std::string& section, const std::string& key);
std::string Versions(const std::vector<winsim::WindowsVersion>& versions);

// ---- The rules (check_ini.cpp, check_dist.cpp) -----------------------------------

class Checker {
 public:
  Checker(CheckReport* report) : report_(report) {}
  void Warn(const std::string& subject, const std::string& text) {
    report_->findings.push_back({Severity::Warning, subject, text});
  }
  void Error(const std::string& subject, const std::string& text) {
    report_->findings.push_back({Severity::Error, subject, text});
  }

  // SETUP.INI
  void Names(const IniText& ini);
  void YesNo(const IniText& ini);
  void Values(const IniText& ini, const std::vector<Probe>& fresh, const std::vector<Probe>& previous);
  void Encoding(const std::vector<uint8_t>& bytes, ::setupcheck::Encoding e, const IniText& ini,
                const std::string& meant);
  // The distribution
  void Distribution(const setupcheck::Distribution& dist);
  void Played(const IniText& ini, const setupcheck::Distribution& dist, const std::string& iniText,
              const std::string& res, const std::vector<Probe>& fresh);

 private:
  CheckReport* report_;
};

}  // namespace setupcheck
