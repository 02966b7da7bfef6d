// SZDD codec and packer: round trips, the decoder's ring semantics, corrupt
// input, and agreement with Debian's mscompress/msexpand when installed.
#include <gtest/gtest.h>

#include <szdd/szdd.h>

#include <chrono>
#include <cstdio>
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

Bytes FromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pack(const Bytes& data, char last = 'E') { return szdd::Compress(data.data(), data.size(), last); }

szdd::ExpandResult Unpack(const Bytes& packed, Bytes& out) {
  return szdd::Expand(packed.data(), packed.size(), out);
}

std::string ResultName(szdd::ExpandResult r) {
  switch (r) {
    case szdd::ExpandResult::Ok: return "Ok";
    case szdd::ExpandResult::NotSzdd: return "NotSzdd";
    case szdd::ExpandResult::Corrupt: return "Corrupt";
  }
  return "?";
}

// Compress then expand must give the input back, byte for byte.
void ExpectRoundTrip(const Bytes& data) {
  const Bytes packed = Pack(data);
  Bytes out;
  const auto r = Unpack(packed, out);
  ASSERT_EQ("Ok", ResultName(r)) << "input of " << data.size() << " bytes";
  ASSERT_EQ(data.size(), out.size());
  EXPECT_TRUE(data == out) << "expanded bytes differ from the input of " << data.size() << " bytes";
}

void ExpectExpandsTo(const Bytes& packed, szdd::ExpandResult expected, const Bytes& expectedOut) {
  Bytes out;
  const auto r = Unpack(packed, out);
  EXPECT_EQ(ResultName(expected), ResultName(r));
  EXPECT_EQ(std::string(expectedOut.begin(), expectedOut.end()), std::string(out.begin(), out.end()));
}

void ExpectCorrupt(const Bytes& packed) {
  Bytes out;
  EXPECT_EQ("Corrupt", ResultName(Unpack(packed, out))) << "image of " << packed.size() << " bytes";
}

Bytes Header(uint32_t size, char mode = 'A', char last = 'E') {
  Bytes h = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, static_cast<uint8_t>(mode), static_cast<uint8_t>(last)};
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<uint8_t>(size >> (8 * i)));
  return h;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(gen());
  return b;
}

// Words drawn with a skewed distribution, like prose or an INI/HTML file.
Bytes Text(size_t n, uint32_t seed) {
  static const char* words[] = {"the ",     "FTP ",    "server ", "file ",    "transfer ", "VORTAN ",
                                "install ", "folder ", "of ",     "a ",       "to ",       "and ",
                                "<p>",      "</p>\r\n", "Setup ", "program ", "=",         "Y\r\n"};
  std::mt19937 gen(seed);
  std::geometric_distribution<int> pick(0.15);
  std::string s;
  while (s.size() < n) s += words[pick(gen) % std::size(words)];
  s.resize(n);
  return FromString(s);
}

// Code-like bytes: short repeated instruction patterns, addresses, tables
// of small integers and string islands, as in a 32-bit executable.
Bytes BinaryLike(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes b;
  const Bytes prologue = {0x55, 0x8B, 0xEC, 0x83, 0xEC};
  while (b.size() < n) {
    switch (gen() % 4) {
      case 0: b.insert(b.end(), prologue.begin(), prologue.end()); b.push_back(static_cast<uint8_t>(gen() % 64)); break;
      case 1: b.push_back(0xE8); for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(gen() % (i < 2 ? 256 : 2))); break;
      case 2: for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(gen() % 4)); break;
      default: { const Bytes t = Text(12, gen()); b.insert(b.end(), t.begin(), t.end()); break; }
    }
  }
  b.resize(n);
  return b;
}

fs::path MakeTempDir() {
  std::string tmpl = (fs::temp_directory_path() / "szddtest.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return {};
  return tmpl;
}

void WriteFile(const fs::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command with its messages silenced; its own redirections stay
// in effect.
int Shell(const std::string& cmd) { return std::system(("{ " + cmd + " ; } >/dev/null 2>&1").c_str()); }

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

const std::string kPacker = std::string(TOOLS_BIN_DIR) + "/szddpack";

// A file packed by Debian's mscompress (which writes 0 as the last
// character and ends with a padding match past the declared size).
const Bytes kMscompressFixture = {
    0x53, 0x5a, 0x44, 0x44, 0x88, 0xf0, 0x27, 0x33, 0x41, 0x00, 0x43, 0x00, 0x00, 0x00, 0xff,
    0x56, 0x4f, 0x52, 0x54, 0x41, 0x4e, 0x20, 0x46, 0xff, 0x54, 0x50, 0x20, 0x72, 0x65, 0x61,
    0x64, 0x6d, 0xbf, 0x65, 0x0d, 0x0a, 0x61, 0x62, 0x63, 0x03, 0x09, 0x20, 0xfe, 0x12, 0x01,
    0x73, 0x70, 0x61, 0x63, 0x65, 0x73, 0x21, 0x03, 0x0d, 0x0a, 0xf0, 0xfd, 0x00, 0x00};
const std::string kMscompressFixtureText =
    "VORTAN FTP readme\r\nabcabcabcabcabc     spaces!\r\nVORTAN FTP readme\r\n";

}  // namespace

// --- Round trips ---------------------------------------------------------

TEST(SzddRoundTrip, Empty) { ExpectRoundTrip({}); }
TEST(SzddRoundTrip, OneByte) { ExpectRoundTrip({0x41}); }
TEST(SzddRoundTrip, TwoBytes) { ExpectRoundTrip({0x00, 0xFF}); }
TEST(SzddRoundTrip, Blanks) { ExpectRoundTrip(Bytes(5000, ' ')); }
TEST(SzddRoundTrip, ZeroRun) { ExpectRoundTrip(Bytes(100000, 0)); }
TEST(SzddRoundTrip, AlternatingPair) { ExpectRoundTrip(FromString(std::string(3001, 'a') + std::string(17, 'b') + "abababababababab")); }
TEST(SzddRoundTrip, Text) { ExpectRoundTrip(Text(200000, 1)); }
TEST(SzddRoundTrip, BinaryLike) { ExpectRoundTrip(BinaryLike(200000, 2)); }
TEST(SzddRoundTrip, Random) { ExpectRoundTrip(Random(70000, 3)); }
TEST(SzddRoundTrip, PeriodJustAboveMaxMatch) {
  Bytes b;
  for (int i = 0; i < 20000; ++i) b.push_back(static_cast<uint8_t>('A' + i % 19));
  ExpectRoundTrip(b);
}
TEST(SzddRoundTrip, RepeatAtRingDistance) {
  // The same block again 4095 and 4096 bytes later: the farthest distance the
  // ring offers and one beyond it.
  const Bytes block = Random(4096, 4);
  ExpectRoundTrip(Concat(Concat(block, block), Random(5, 5)));
  const Bytes shorter(block.begin(), block.end() - 1);
  ExpectRoundTrip(Concat(shorter, shorter));
}
TEST(SzddRoundTrip, EverySizeUpTo300) {
  for (size_t n = 0; n < 300; ++n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 7) % 5 == 0 ? ' ' : i * 37);
    ExpectRoundTrip(b);
  }
}

// --- Header -------------------------------------------------------------

TEST(SzddHeader, MagicModeLastCharAndSize) {
  const Bytes packed = Pack(FromString("hello"), 'm');
  ASSERT_GE(packed.size(), 14u);
  EXPECT_EQ(Header(5, 'A', 'm'), Bytes(packed.begin(), packed.begin() + 14));
  EXPECT_TRUE(szdd::IsSzdd(packed.data(), packed.size()));
}
TEST(SzddHeader, EmptyInputIsHeaderOnly) { EXPECT_EQ(Header(0), Pack({})); }
TEST(SzddHeader, ShortOrForeignDataIsNotSzdd) {
  const Bytes magic = Header(0);
  EXPECT_FALSE(szdd::IsSzdd(magic.data(), 7));
  EXPECT_FALSE(szdd::IsSzdd(nullptr, 0));
  const Bytes kwaj = {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(szdd::IsSzdd(kwaj.data(), kwaj.size()));
}

// --- Decoder semantics (hand-made streams) -------------------------------

TEST(SzddDecoder, OverlappingMatchAndInitialBlanks) {
  // 'a' literal at ring 0xFF0; a 6-byte copy from 0xFF0 overlaps what it
  // writes (7 'a's); a 3-byte copy from ring 0 reads the initial blanks.
  const Bytes stream = {0x01, 'a', 0xF0, 0xF3, 0x00, 0x00};
  ExpectExpandsTo(Concat(Header(10), stream), szdd::ExpandResult::Ok, FromString("aaaaaaa   "));
}
TEST(SzddDecoder, StopsAtDeclaredSizeInsideAMatch) {
  const Bytes stream = {0x01, 'x', 0xF0, 0xFF};  // an 18-byte copy, only 4 wanted
  ExpectExpandsTo(Concat(Header(5), stream), szdd::ExpandResult::Ok, FromString("xxxxx"));
}
TEST(SzddDecoder, ExpandsMscompressOutput) {
  ExpectExpandsTo(kMscompressFixture, szdd::ExpandResult::Ok, FromString(kMscompressFixtureText));
}
TEST(SzddDecoder, PlainFileIsNotSzdd) {
  ExpectExpandsTo(FromString("MZ plain executable bytes"), szdd::ExpandResult::NotSzdd, {});
}

// --- Corrupt input --------------------------------------------------------

TEST(SzddCorrupt, HeaderCutShort) {
  Bytes h = Header(5);
  h.resize(12);
  ExpectCorrupt(h);
}
TEST(SzddCorrupt, UnknownMode) { ExpectCorrupt(Concat(Header(1, 'B'), {0x01, 'x'})); }
TEST(SzddCorrupt, NoStreamForDeclaredSize) { ExpectCorrupt(Header(5)); }
TEST(SzddCorrupt, LiteralMissingAfterFlag) { ExpectCorrupt(Concat(Header(2), {0x03, 'x'})); }
TEST(SzddCorrupt, MatchCutInHalf) { ExpectCorrupt(Concat(Header(20), {0x00, 0xF0})); }
TEST(SzddCorrupt, TruncatedStreamKeepsDecodedPrefix) {
  const Bytes text = Text(20000, 7);
  Bytes packed = Pack(text);
  packed.resize(packed.size() / 2);
  Bytes out;
  EXPECT_EQ("Corrupt", ResultName(Unpack(packed, out)));
  ASSERT_GT(out.size(), 0u);
  ASSERT_LT(out.size(), text.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), text.begin())) << "decoded prefix differs from the original";
}
TEST(SzddCorrupt, HugeDeclaredSizeDoesNotAllocateIt) {
  Bytes out;
  EXPECT_EQ("Corrupt", ResultName(Unpack(Concat(Header(0xFFFFFFFFu), {0xFF, 'a', 'b'}), out)));
  EXPECT_LT(out.capacity(), size_t{1} << 20) << "reserved " << out.capacity() << " bytes for a 3-byte stream";
}
TEST(SzddCorrupt, RandomDamageNeverOverrunsTheDeclaredSize) {
  const Bytes good = Pack(Text(3000, 8));
  std::mt19937 gen(9);
  for (int round = 0; round < 2000; ++round) {
    Bytes bad = good;
    for (int k = 0; k < 4; ++k) bad[14 + gen() % (bad.size() - 14)] = static_cast<uint8_t>(gen());
    bad.resize(14 + gen() % (bad.size() - 13));
    Bytes out;
    const auto r = Unpack(bad, out);
    ASSERT_LE(out.size(), 3000u) << "round " << round;
    if (r == szdd::ExpandResult::Ok) {
      ASSERT_EQ(3000u, out.size()) << "round " << round;
    }
  }
}

// --- Compression ratio and speed (tool-independent bounds) ------------------

TEST(SzddRatio, ZerosUseFullLengthMatches) {
  // Each 18-byte match costs 17 bits; a parser that settles for shorter
  // matches or misses the blank-filled ring start does worse.
  const size_t n = 180000;
  const size_t bound = 14 + (n / 18 * 17 + 7) / 8 + 2;
  const Bytes packed = Pack(Bytes(n, 0));
  EXPECT_LE(packed.size(), bound);
}
TEST(SzddRatio, LeadingBlanksCostNoLiterals) {
  // 18 blanks are one match into the initial ring: 1 flag byte + 2 bytes.
  EXPECT_EQ(14u + 3u, Pack(Bytes(18, ' ')).size());
}
TEST(SzddRatio, RandomDataGrowsByOneEighthAtMost) {
  const Bytes r = Random(80000, 10);
  EXPECT_LE(Pack(r).size(), 14 + r.size() + (r.size() + 7) / 8);
}
TEST(SzddSpeed, FourMegabytesOfAdverseInputInSeconds) {
  // Two symbols: every position has hundreds of short matches in the window,
  // the case that makes a plain window scan or an unbounded hash chain slow.
  std::mt19937 gen(11);
  Bytes b(4 << 20);
  for (auto& c : b) c = static_cast<uint8_t>('0' + (gen() & 1));
  const auto start = std::chrono::steady_clock::now();
  const Bytes packed = Pack(b);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 30.0) << "packing 4 MB took " << seconds << " s";
  Bytes out;
  ASSERT_EQ("Ok", ResultName(Unpack(packed, out)));
  EXPECT_TRUE(out == b);
}

// --- Against Debian's mscompress / msexpand --------------------------------

namespace {

struct Sample {
  const char* name;
  Bytes data;
};

std::vector<Sample> ComparisonSamples() {
  std::vector<Sample> s;
  s.push_back({"text", Text(300000, 21)});
  s.push_back({"binary", BinaryLike(300000, 22)});
  s.push_back({"zeros", Bytes(200000, 0)});
  s.push_back({"random", Random(100000, 23)});
  s.push_back({"empty", {}});
  s.push_back({"one", {'x'}});
  // This very test program: a real executable, like Setup.exe.
  Bytes self = ReadFile("/proc/self/exe");
  if (self.size() > 600000) self.resize(600000);
  s.push_back({"executable", self});
  return s;
}

}  // namespace

TEST(SzddVersusMscompress, NeverLarger) {
  if (!HaveTool("mscompress")) GTEST_SKIP() << "mscompress not installed";
  const fs::path dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  for (const Sample& s : ComparisonSamples()) {
    const fs::path in = dir / (std::string(s.name) + ".bin");
    WriteFile(in, s.data);
    ASSERT_EQ(0, Shell("cd " + Quote(dir) + " && mscompress " + Quote(in.filename()))) << s.name;
    const fs::path theirs = dir / (std::string(s.name) + ".bin_");
    ASSERT_TRUE(fs::exists(theirs)) << s.name;
    const size_t ours = Pack(s.data).size();
    EXPECT_LE(ours, fs::file_size(theirs)) << s.name << ": ours " << ours << " bytes, mscompress " << fs::file_size(theirs);
  }
  fs::remove_all(dir);
}

TEST(SzddVersusMscompress, MsexpandRestoresOurOutput) {
  if (!HaveTool("msexpand")) GTEST_SKIP() << "msexpand not installed";
  const fs::path dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  for (const Sample& s : ComparisonSamples()) {
    const fs::path packed = dir / (std::string(s.name) + ".pk_");
    const fs::path back = dir / (std::string(s.name) + ".out");
    WriteFile(packed, Pack(s.data));
    ASSERT_EQ(0, Shell("msexpand < " + Quote(packed) + " > " + Quote(back))) << s.name;
    EXPECT_TRUE(ReadFile(back) == s.data) << s.name << ": msexpand gave " << fs::file_size(back) << " bytes, want "
                                          << s.data.size();
  }
  fs::remove_all(dir);
}

// --- The packer tool ------------------------------------------------------

namespace {

struct SzddPacker : ::testing::Test {
  void SetUp() override {
    if (!fs::exists(kPacker)) GTEST_SKIP() << kPacker << " not built";
    dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }
  fs::path dir;
};

}  // namespace

TEST_F(SzddPacker, HeaderKeepsLastCharacterOfInputName) {
  WriteFile(dir / "QXFTP.EXE", FromString("MZ..."));
  WriteFile(dir / "readme.htm", FromString("<html>"));
  ASSERT_EQ(0, Shell(kPacker + " " + Quote(dir / "QXFTP.EXE") + " " + Quote(dir / "QXFTP.EX_")));
  ASSERT_EQ(0, Shell(kPacker + " " + Quote(dir / "readme.htm") + " " + Quote(dir / "readme.ht_")));
  EXPECT_EQ(Pack(FromString("MZ..."), 'E'), ReadFile(dir / "QXFTP.EX_"));
  EXPECT_EQ(Pack(FromString("<html>"), 'm'), ReadFile(dir / "readme.ht_"));
}
TEST_F(SzddPacker, ExpandOptionRestoresTheFile) {
  const Bytes data = BinaryLike(50000, 30);
  WriteFile(dir / "QXFTP.DLL", data);
  ASSERT_EQ(0, Shell(kPacker + " " + Quote(dir / "QXFTP.DLL") + " " + Quote(dir / "QXFTP.DL_")));
  ASSERT_EQ(0, Shell(kPacker + " -x " + Quote(dir / "QXFTP.DL_") + " " + Quote(dir / "back.dll")));
  EXPECT_TRUE(ReadFile(dir / "back.dll") == data);
}
TEST_F(SzddPacker, MissingInputFails) {
  EXPECT_NE(0, Shell(kPacker + " " + Quote(dir / "absent.exe") + " " + Quote(dir / "absent.ex_")));
  EXPECT_FALSE(fs::exists(dir / "absent.ex_"));
}
TEST_F(SzddPacker, CorruptInputToExpandFails) {
  WriteFile(dir / "bad.ex_", Header(100));
  EXPECT_NE(0, Shell(kPacker + " -x " + Quote(dir / "bad.ex_") + " " + Quote(dir / "bad.exe")));
}
TEST_F(SzddPacker, WrongArgumentCountFails) { EXPECT_NE(0, Shell(kPacker + " " + Quote(dir / "only-one"))); }
