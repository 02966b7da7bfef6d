// The winsim half of the parity harness: plays each tests/scenarios/*.scn on
// a simulated machine and writes the canonical state dump that
// tests/wine/cases_parity.py compares with what Wine leaves behind. The
// playing and the dump are setupcheck's (tools/setupcheck/play.h), so its
// preview shows what these tests hold against Wine.
//
// Both sides install the same distribution, the one tools/mkdist makes from
// the Windows build's sample product (PARITY_DIST, by default
// build/parity/dist, made by the Wine side), so that file sizes and hashes
// compare. The one exception is QXFTP.DLL: winsim can only load its own sim
// DLL images, so its packed copy is replaced by one; scenarios accept that
// difference. Without a distribution the scenario is skipped: the Wine side
// makes the distribution and then runs this test itself.
#include <gtest/gtest.h>

#include "play.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::string ScenarioDir() { return std::string(SOURCE_ROOT) + "/tests/scenarios"; }

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(ScenarioDir(), ec))
    if (entry.path().extension() == ".scn") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

fs::path DistDir() {
  const char* env = std::getenv("PARITY_DIST");
  return env && *env ? fs::path(env) : fs::path(SOURCE_ROOT) / "build" / "parity" / "dist";
}

fs::path OutDir() {
  const char* env = std::getenv("PARITY_OUT");
  return env && *env ? fs::path(env) : fs::path(SOURCE_ROOT) / "build" / "parity";
}

std::string Resources() {
#ifdef SETUP_RES_PATH
  return SETUP_RES_PATH;
#else
  return "";
#endif
}

TEST(ParityScenarioFiles, EveryScenarioParses) {
  auto names = ScenarioNames();
  EXPECT_FALSE(names.empty()) << "no scenarios in " << ScenarioDir();
  for (const std::string& name : names) {
    setupcheck::Scenario s = setupcheck::ReadScenario(fs::path(ScenarioDir()) / (name + ".scn"));
    EXPECT_EQ(s.error, "") << name;
    EXPECT_TRUE(setupcheck::VersionOf(s.windows).has_value()) << name << ": windows " << s.windows;
    std::vector<std::string> errors;
    setupcheck::WizardSteps(s.installWizard, &errors);
    setupcheck::WizardSteps(s.removeWizard, &errors);
    EXPECT_EQ(errors, std::vector<std::string>{}) << name;
  }
}

class ParityTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ParityTest, WritesTheCanonicalState) {
  setupcheck::Scenario s = setupcheck::ReadScenario(fs::path(ScenarioDir()) / (GetParam() + ".scn"));
  ASSERT_EQ(s.error, "");
  fs::path dist = DistDir();
  if (!fs::exists(dist / "Setup.exe"))
    GTEST_SKIP() << "no distribution in " << dist << " (tests/wine/cases_parity.py makes it with tools/mkdist)";
  if ((!s.installWizard.empty() || !s.removeWizard.empty()) && Resources().empty())
    GTEST_SKIP() << "no compiled resources (windres) for the wizard";
  setupcheck::Distribution files;
  std::string why;
  ASSERT_TRUE(setupcheck::ReadDistribution(dist, &files, &why)) << why;
  setupcheck::Dump dump = setupcheck::Play(s, files, Resources());
  EXPECT_EQ(dump.errors, std::vector<std::string>{});
  std::error_code ignored;  // another scenario may be making it at the same moment
  fs::create_directories(OutDir(), ignored);
  std::ofstream(OutDir() / (s.name + ".winsim.txt"), std::ios::binary) << dump.Text();
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ParityTest, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ParityTest);

}  // namespace
