// Reading cabinets made by gcab -c -z (MSZIP), as the certificate cabinet is,
// and refusing damaged ones without reading past the image.
#include <gtest/gtest.h>

#include <winsim/cabinet.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// `gcab -c -z t.cab CA1.0 Ca2.0` with CA1.0 = "CA1 certificate\n" and
// Ca2.0 = "second member, a bit longer: second member\n": one MSZIP folder,
// one data block with a checksum.
const Bytes kTwoMemberCab = {
    0x4d, 0x53, 0x43, 0x46, 0x00, 0x00, 0x00, 0x00, 0x94, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x58, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x88, 0x5d, 0xda, 0x7a, 0x20, 0x00, 0x43, 0x41, 0x31, 0x2e, 0x30, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x10, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x88, 0x5d, 0xda, 0x7a, 0x20, 0x00, 0x43, 0x61, 0x32, 0x2e, 0x30, 0x00, 0x53, 0x2d,
    0x1c, 0xcd, 0x34, 0x00, 0x3b, 0x00, 0x43, 0x4b, 0x73, 0x76, 0x34, 0x54, 0x48, 0x4e, 0x2d, 0x2a, 0xc9, 0x4c,
    0xcb, 0x4c, 0x4e, 0x2c, 0x49, 0xe5, 0x2a, 0x4e, 0x4d, 0xce, 0xcf, 0x4b, 0x51, 0xc8, 0x4d, 0xcd, 0x4d, 0x4a,
    0x2d, 0xd2, 0x51, 0x48, 0x54, 0x48, 0xca, 0x2c, 0x51, 0xc8, 0xc9, 0xcf, 0x4b, 0x4f, 0x2d, 0xb2, 0x52, 0x40,
    0x91, 0xe4, 0x02, 0x00};
constexpr size_t kDataBlockAt = 0x58;  // CFDATA: checksum, sizes, MSZIP bytes

std::string Describe(const std::vector<winsim::CabinetMember>& members) {
  std::string s;
  for (const auto& m : members) s += m.name + "=" + std::string(m.data.begin(), m.data.end()) + ";";
  return s;
}

void ExpectReads(const Bytes& image, const std::string& expected) {
  std::vector<winsim::CabinetMember> members;
  EXPECT_TRUE(winsim::ReadCabinet(image, members)) << "members read: " << Describe(members);
  EXPECT_EQ(expected, Describe(members));
}

void ExpectRefused(const Bytes& image, const std::string& why) {
  std::vector<winsim::CabinetMember> members;
  EXPECT_FALSE(winsim::ReadCabinet(image, members)) << why << "; members read: " << Describe(members);
}

Bytes WithByte(Bytes b, size_t at, uint8_t value) {
  b.at(at) = value;
  return b;
}

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(CabinetRead, TwoMembersWithNamesAsStored) {
  ExpectReads(kTwoMemberCab, "CA1.0=CA1 certificate\n;Ca2.0=second member, a bit longer: second member\n;");
}

TEST(CabinetRead, ResultReplacesWhatTheCallerPassedIn) {
  std::vector<winsim::CabinetMember> members = {{"stale", {1, 2, 3}}};
  ASSERT_TRUE(winsim::ReadCabinet(kTwoMemberCab, members));
  EXPECT_EQ(2u, members.size());
}

TEST(CabinetCorrupt, EmptyImage) { ExpectRefused({}, "empty image"); }
TEST(CabinetCorrupt, NotACabinet) { ExpectRefused(Bytes(300, 'x'), "plain text"); }
TEST(CabinetCorrupt, BadSignature) { ExpectRefused(WithByte(kTwoMemberCab, 0, 'N'), "signature MSCF changed"); }
TEST(CabinetCorrupt, DamagedCompressedByte) {
  ExpectRefused(WithByte(kTwoMemberCab, kDataBlockAt + 20, 0x00), "compressed byte changed under the checksum");
}
TEST(CabinetCorrupt, DamagedChecksum) {
  ExpectRefused(WithByte(kTwoMemberCab, kDataBlockAt, 0x00), "data block checksum changed");
}
TEST(CabinetCorrupt, MemberBeyondFolderData) {
  // Second member's offset in its folder (at 0x46) moved far past the 59
  // bytes the folder holds.
  ExpectRefused(WithByte(kTwoMemberCab, 0x46 + 1, 0x40), "member offset beyond the data");
}

TEST(CabinetTruncated, EveryShorterLengthIsRefused) {
  for (size_t n = 0; n < kTwoMemberCab.size(); ++n) {
    const Bytes cut(kTwoMemberCab.begin(), kTwoMemberCab.begin() + n);
    std::vector<winsim::CabinetMember> members;
    EXPECT_FALSE(winsim::ReadCabinet(cut, members)) << "cut to " << n << " bytes";
    // What was delivered must be complete members, never partial ones.
    for (const auto& m : members) {
      EXPECT_TRUE(m.name == "CA1.0" && std::string(m.data.begin(), m.data.end()) == "CA1 certificate\n")
          << "cut to " << n << ": partial member " << m.name;
    }
  }
}

TEST(CabinetCorrupt, RandomDamageNeverCrashes) {
  // Results vary with the damage; the point is that libmspack is driven
  // safely (this runs under ASan/UBSan too) and a success still yields both
  // members whole.
  std::mt19937 gen(5);
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = kTwoMemberCab;
    for (int k = 0; k < 3; ++k) bad[gen() % bad.size()] = static_cast<uint8_t>(gen());
    std::vector<winsim::CabinetMember> members;
    if (winsim::ReadCabinet(bad, members)) {
      ASSERT_EQ(2u, members.size()) << "round " << round;
    }
  }
}

TEST(CabinetRead, LargeGcabCabinetWithSeveralBlocks) {
  if (std::system("command -v gcab >/dev/null 2>&1") != 0) GTEST_SKIP() << "gcab not installed";
  std::string tmpl = (fs::temp_directory_path() / "cabtest.XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(tmpl.data()));
  const fs::path dir = tmpl;
  std::mt19937 gen(3);
  std::string big;
  while (big.size() < 200000) big += "line " + std::to_string(gen() % 1000) + " of the certificate store\n";
  std::ofstream(dir / "big.pem") << big;
  std::ofstream(dir / "CA3.0") << "third";
  ASSERT_EQ(0, std::system(("cd '" + dir.string() + "' && gcab -c -z certs.cab big.pem CA3.0 >/dev/null 2>&1").c_str()));
  std::vector<winsim::CabinetMember> members;
  ASSERT_TRUE(winsim::ReadCabinet(ReadFile(dir / "certs.cab"), members));
  ASSERT_EQ(2u, members.size());
  EXPECT_EQ("big.pem", members[0].name);
  EXPECT_TRUE(std::string(members[0].data.begin(), members[0].data.end()) == big) << "big.pem content differs";
  EXPECT_EQ("CA3.0", members[1].name);
  EXPECT_EQ("third", std::string(members[1].data.begin(), members[1].data.end()));
  fs::remove_all(dir);
}
