// setupcheck: checks a distribution and its SETUP.INI, and previews what
// Setup.exe will do on each Windows version, by running the real program
// code over winsim.
//
//   setupcheck check DIST [--ini FILE] [--windows VERSION|all] [--user standard|administrator]
//   setupcheck preview DIST [--ini FILE] [--windows VERSION|all] [--user standard|administrator]
//                      [--remove] [--wizard] [--answer yes|no] [--json]
//                      [--state SCENARIO.scn] [--dump]
//
// VERSION is 95, 98, nt4, 2000, xp, 7, 10 (the 32-bit editions) or xp-x64,
// 7-x64, 8.1-x64, 10-x64, 11-x64 (the program under WOW64); all is every one.
// check probes the 32-bit editions unless told otherwise; a standard user
// exists from 7 on, so with --user standard the earlier ones are left out.
//
// check exits 0 (nothing to report), 1 (warnings) or 2 (errors); both exit
// 3 when they cannot run at all (a missing directory, a bad option).
#include "check.h"
#include "preview.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace setupcheck;

constexpr int kCannotRun = 3;

const char kUsage[] =
    "usage: setupcheck check DIST [--ini FILE] [--windows VERSION|all] [--user standard|administrator]\n"
    "       setupcheck preview DIST [--ini FILE] [--windows VERSION|all] [--user standard|administrator]\n"
    "                          [--remove] [--wizard] [--answer yes|no] [--json] [--state SCENARIO.scn] [--dump]\n"
    "  VERSION: 95, 98, nt4, 2000, xp, 7, 10, xp-x64, 7-x64, 8.1-x64, 10-x64, 11-x64\n";

int Fail(const std::string& message) {
  std::cerr << "setupcheck: " << message << "\n";
  return kCannotRun;
}

bool ReadText(const fs::path& file, std::string* text, std::string* why) {
  std::error_code ec;
  if (!fs::exists(file, ec)) return *why = file.string() + ": no such file", false;
  if (!fs::is_regular_file(file, ec)) return *why = file.string() + ": not a regular file", false;
  if (fs::file_size(file, ec) > kMaxIniBytes)
    return *why = file.string() + ": " + std::to_string(fs::file_size(file, ec)) +
                  " bytes is far too large for a SETUP.INI (run check for what is wrong)", false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return *why = file.string() + ": cannot be read", false;
  std::stringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

// The editions --windows names (none: the default) for a user kind; "" or why not.
std::string Editions(const std::string& windows, bool standardUser, std::vector<winsim::WindowsVersion>* out) {
  out->clear();
  if (windows == "all") {
    *out = AllEditions();
  } else if (auto v = VersionOf(windows)) {
    out->push_back(*v);
  } else if (!windows.empty()) {
    return "--windows " + windows + ": not one of 95, 98, nt4, 2000, xp, 7, 10, xp-x64, 7-x64, 8.1-x64, 10-x64, 11-x64, all";
  }
  if (standardUser) {
    if (out->empty()) *out = AllVersions();
    out->erase(std::remove_if(out->begin(), out->end(), [](winsim::WindowsVersion v) { return !HasUserKinds(v); }),
               out->end());
    if (out->empty()) return "--user standard: Windows " + windows + " has no user kinds (7 and later have)";
  }
  return "";
}

int RunCheck(const fs::path& dist, const std::optional<fs::path>& ini, const std::string& windows, bool standardUser) {
  CheckReport report;
  std::string fatal;
  CheckMachines machines;
  machines.standardUser = standardUser;
  std::string why = Editions(windows, standardUser, &machines.versions);
  if (!why.empty()) return Fail(why);
  if (!Check(dist, ini, ResourcePath(), &report, &fatal, machines)) return Fail(fatal);
  std::cout << report.Text();
  return report.Status();
}

int RunPreview(const fs::path& dist, const std::optional<fs::path>& iniFile, const std::string& windows,
               const PreviewRequest& base, bool json, const std::optional<fs::path>& state, bool dump) {
  std::error_code ec;
  if (!fs::is_directory(dist, ec)) return Fail(dist.string() + (fs::exists(dist, ec) ? ": not a directory" : ": no such directory"));
  Distribution files;
  std::string why;
  if (!ReadDistribution(dist, &files, &why)) return Fail(why);

  std::vector<VersionDump> runs;
  if (state) {
    Scenario s = ReadScenario(*state);
    if (!s.error.empty()) return Fail(state->string() + ": " + s.error);
    runs.push_back({*VersionOf(s.windows), Play(s, files, ResourcePath()), s.standardUser});
  } else {
    PreviewRequest request = base;
    std::optional<fs::path> ini = iniFile;
    if (!ini) {
      for (fs::directory_iterator it(dist, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "setup.ini") ini = it->path();
      }
    }
    if (ini && !ReadText(*ini, &request.ini, &why)) return Fail(why);
    std::vector<winsim::WindowsVersion> versions;
    std::string bad = Editions(windows, request.standardUser, &versions);
    if (!bad.empty()) return Fail(bad);
    for (winsim::WindowsVersion v : versions)
      runs.push_back({v, Play(PreviewScenario(request, v), files, ResourcePath()), request.standardUser});
  }
  if (dump) {
    for (const VersionDump& r : runs) std::cout << r.dump.Text();
  } else {
    std::cout << (json ? RenderJson(runs) : RenderText(runs));
  }
  for (const VersionDump& r : runs)
    if (!r.dump.errors.empty()) return 2;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << kUsage;
    return kCannotRun;
  }
  std::string command = argv[1];
  if (command != "check" && command != "preview") {
    std::cerr << "setupcheck: unknown command " << command << "\n" << kUsage;
    return kCannotRun;
  }
  fs::path dist = argv[2];
  std::optional<fs::path> ini, state;
  std::string windows;
  PreviewRequest request;
  bool json = false, dump = false;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string value;
    if (a == "--ini" && next(&value)) ini = value;
    else if (a == "--windows" && next(&value)) {
      for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      windows = value;
    } else if (command == "preview" && a == "--remove") request.remove = true;
    else if (command == "preview" && a == "--wizard") request.wizard = true;
    else if (command == "preview" && a == "--json") json = true;
    else if (command == "preview" && a == "--dump") dump = true;
    else if (command == "preview" && a == "--state" && next(&value)) state = value;
    else if (a == "--user" && next(&value)) {
      if (value == "standard") request.standardUser = true;
      else if (value != "administrator") return Fail("--user " + value + ": standard or administrator");
    }
    else if (command == "preview" && a == "--answer" && next(&value)) {
      if (value == "yes") request.answer = IDYES;
      else if (value == "no") request.answer = IDNO;
      else return Fail("--answer " + value + ": yes or no");
    } else {
      std::cerr << "setupcheck: unknown or incomplete option " << a << "\n" << kUsage;
      return kCannotRun;
    }
  }
  try {
    if (command == "check") return RunCheck(dist, ini, windows, request.standardUser);
    // A preview shows XP unless told otherwise.
    return RunPreview(dist, ini, windows.empty() ? "xp" : windows, request, json, state, dump);
  } catch (const std::exception& e) {
    return Fail(std::string("internal failure: ") + e.what());
  }
}
