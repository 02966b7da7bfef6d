// setupcheck: checks a distribution and its SETUP.INI, and previews what
// Setup.exe will do on each Windows version, by running the real program
// code over winsim.
//
//   setupcheck check DIST [--ini FILE]
//   setupcheck preview DIST [--ini FILE] [--windows 95|98|nt4|2000|xp|7|10|all]
//                      [--remove] [--wizard] [--answer yes|no] [--json]
//                      [--state SCENARIO.scn] [--dump]
//
// check exits 0 (nothing to report), 1 (warnings) or 2 (errors); both exit
// 3 when they cannot run at all (a missing directory, a bad option).
#include "check.h"
#include "preview.h"

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
    "usage: setupcheck check DIST [--ini FILE]\n"
    "       setupcheck preview DIST [--ini FILE] [--windows 95|98|nt4|2000|xp|7|10|all] [--remove] [--wizard]\n"
    "                          [--answer yes|no] [--json] [--state SCENARIO.scn] [--dump]\n";

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

int RunCheck(const fs::path& dist, const std::optional<fs::path>& ini) {
  CheckReport report;
  std::string fatal;
  if (!Check(dist, ini, ResourcePath(), &report, &fatal)) return Fail(fatal);
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
    runs.push_back({*VersionOf(s.windows), Play(s, files, ResourcePath())});
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
    if (windows == "all") {
      versions = AllVersions();
    } else if (auto v = VersionOf(windows)) {
      versions.push_back(*v);
    } else {
      return Fail("--windows " + windows + ": not one of 95, 98, nt4, 2000, xp, 7, 10, all");
    }
    for (winsim::WindowsVersion v : versions) runs.push_back({v, Play(PreviewScenario(request, v), files, ResourcePath())});
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
  std::string windows = "xp";
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
    else if (command == "preview" && a == "--windows" && next(&value)) {
      for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      windows = value;
    } else if (command == "preview" && a == "--remove") request.remove = true;
    else if (command == "preview" && a == "--wizard") request.wizard = true;
    else if (command == "preview" && a == "--json") json = true;
    else if (command == "preview" && a == "--dump") dump = true;
    else if (command == "preview" && a == "--state" && next(&value)) state = value;
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
    if (command == "check") return RunCheck(dist, ini);
    return RunPreview(dist, ini, windows, request, json, state, dump);
  } catch (const std::exception& e) {
    return Fail(std::string("internal failure: ") + e.what());
  }
}
