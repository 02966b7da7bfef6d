// setupcheck's manifest and signature rules: SHA-256 against the FIPS 180-2
// examples, the manifest's lines, the certificate table of a PE file, and the
// findings for a distribution whose files changed, went missing or were added.
#include <gtest/gtest.h>

#include "check_manifest.h"

#include <string>
#include <vector>

using setupcheck::Distribution;
using setupcheck::Finding;
using setupcheck::ManifestEntry;
using setupcheck::Severity;
using setupcheck::Signature;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string Sha(const std::string& s) {
  return setupcheck::Sha256Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// A PE32 image as far as the certificate table: MZ, e_lfanew 0x40, PE
// signature, COFF header, optional header magic and 16 data directories.
std::vector<uint8_t> Program(uint32_t certOffset, uint32_t certSize, size_t total) {
  std::vector<uint8_t> b(total, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x40;
  b[0x40] = 'P';
  b[0x41] = 'E';
  const size_t optional = 0x40 + 24;
  b[optional] = 0x0B;
  b[optional + 1] = 0x01;
  b[optional + 92] = 16;  // NumberOfRvaAndSizes
  const size_t security = optional + 96 + 4 * 8;
  for (int i = 0; i < 4; ++i) {
    b[security + i] = uint8_t(certOffset >> (8 * i));
    b[security + 4 + i] = uint8_t(certSize >> (8 * i));
  }
  return b;
}

void Certificate(std::vector<uint8_t>& b, size_t at, uint32_t length, uint16_t revision, uint16_t type) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(length >> (8 * i));
  b[at + 4] = uint8_t(revision);
  b[at + 5] = uint8_t(revision >> 8);
  b[at + 6] = uint8_t(type);
  b[at + 7] = uint8_t(type >> 8);
}

std::string Line(const std::string& path, const std::string& content) {
  return Sha(content) + " " + std::to_string(content.size()) + " " + path + "\r\n";
}

// "severity subject: text" of every finding.
std::vector<std::string> Findings(const Distribution& dist) {
  std::vector<Finding> findings;
  setupcheck::CheckManifest(dist, &findings);
  std::vector<std::string> out;
  for (const Finding& f : findings) {
    const char* s = f.severity == Severity::Error ? "error" : f.severity == Severity::Warning ? "warning" : "note";
    out.push_back(std::string(s) + " " + f.subject + ": " + f.text);
  }
  return out;
}

bool Has(const std::vector<std::string>& findings, const std::string& start, const std::string& part) {
  for (const std::string& f : findings)
    if (f.rfind(start, 0) == 0 && f.find(part) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(Sha256, TheStandardsExamples) {
  EXPECT_EQ(Sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first padded block.
  EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(Sha(std::string(64, 'a')), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(ManifestText, EntriesCommentsAndLineEnds) {
  std::vector<ManifestEntry> entries;
  size_t bad = 0;
  std::string text = "# comment\r\n\r\n" + Line("Setup.exe", "x") + Line("Docs\\My Guide.txt", "guide");
  text += Sha("lf") + " 2 lf.txt\n";
  ASSERT_TRUE(setupcheck::ParseManifest(text, &entries, &bad));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].path, "Docs\\My Guide.txt");
  EXPECT_EQ(entries[1].size, 5u);
  EXPECT_EQ(entries[2].path, "lf.txt");
}

TEST(ManifestText, AFaultyLineIsNamed) {
  const std::string good = Line("a.txt", "a");
  for (const std::string& faulty : {std::string("not a manifest line\r\n"), Sha("a") + " 1\r\n",
                                    Sha("a") + " one a.txt\r\n", Sha("a").substr(1) + " 1 a.txt\r\n",
                                    std::string(64, 'g') + " 1 a.txt\r\n"}) {
    std::vector<ManifestEntry> entries;
    size_t bad = 0;
    EXPECT_FALSE(setupcheck::ParseManifest(good + faulty + good, &entries, &bad)) << faulty;
    EXPECT_EQ(bad, 2u) << faulty;
  }
}

TEST(Signature, WhatTheCertificateTableHolds) {
  EXPECT_EQ(setupcheck::AuthenticodeSignature(Bytes("setup program image")), Signature::NotAProgram);
  EXPECT_EQ(setupcheck::AuthenticodeSignature(Program(0, 0, 1024)), Signature::None);
  std::vector<uint8_t> signed_ = Program(512, 256, 768);
  Certificate(signed_, 512, 256, 0x0200, 0x0002);
  EXPECT_EQ(setupcheck::AuthenticodeSignature(signed_), Signature::Authenticode);
  std::vector<uint8_t> cut = signed_;
  cut.resize(600);  // the table runs past the end of the file
  EXPECT_EQ(setupcheck::AuthenticodeSignature(cut), Signature::Damaged);
  std::vector<uint8_t> other = Program(512, 256, 768);
  Certificate(other, 512, 256, 0x0200, 0x0001);  // an X.509 certificate, not a signature
  EXPECT_EQ(setupcheck::AuthenticodeSignature(other), Signature::Damaged);
}

class ManifestCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<uint8_t> program = Program(0, 0, 1024);
    setup_.assign(program.begin(), program.end());
    Put("Setup.exe", setup_);
    Put("QXFTP.EX_", "packed program");
    Put("Docs\\guide.txt", "guide");
    Put("SETUP.INI", "[FTPSetup]\r\n");
    Put("SETUP.INI.template", "; every key\r\n");
    manifest_ = "# written by tools/mkdist\r\n" + Line("Docs\\guide.txt", "guide") +
                Line("QXFTP.EX_", "packed program") + Line("Setup.exe", setup_);
  }
  void Put(const std::string& rel, const std::string& content) {
    for (auto& f : dist_.files)
      if (f.first == rel) {
        f.second = Bytes(content);
        return;
      }
    dist_.files.push_back({rel, Bytes(content)});
  }
  void Remove(const std::string& rel) {
    std::erase_if(dist_.files, [&](const auto& f) { return f.first == rel; });
  }
  std::vector<std::string> Run() {
    Put("Manifest.sha256_", manifest_);
    return Findings(dist_);
  }
  Distribution dist_;
  std::string setup_, manifest_;
};

TEST_F(ManifestCheck, AnIntactDistributionHasOnlyTheSignatureNote) {
  std::vector<std::string> findings = Run();
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_TRUE(Has(findings, "note Setup.exe:", "no Authenticode signature")) << findings[0];
}

TEST_F(ManifestCheck, AChangedFileIsAnErrorNamingIt) {
  Put("Docs\\guide.txt", "guidf");
  Put("QXFTP.EX_", "packed program, longer");
  std::vector<std::string> findings = Run();
  EXPECT_TRUE(Has(findings, "error Docs\\guide.txt:", "(SHA-256)"));
  EXPECT_TRUE(Has(findings, "error QXFTP.EX_:", "(size)"));
  EXPECT_EQ(findings.size(), 3u);
}

TEST_F(ManifestCheck, AMissingFileIsAnErrorNamingIt) {
  Remove("Docs\\guide.txt");
  std::vector<std::string> findings = Run();
  EXPECT_TRUE(Has(findings, "error Docs\\guide.txt:", "the distribution lacks it"));
}

TEST_F(ManifestCheck, AnUnlistedFileIsAWarningButSetupIniIsNot) {
  Put("Extra.cfg", "added on the share");
  Put("Docs\\new.txt", "added too");
  std::vector<std::string> findings = Run();
  EXPECT_TRUE(Has(findings, "warning Extra.cfg:", "does not list this file"));
  EXPECT_TRUE(Has(findings, "warning Docs\\new.txt:", "does not list this file"));
  EXPECT_FALSE(Has(findings, "warning SETUP.INI:", ""));
  EXPECT_EQ(findings.size(), 3u);
}

TEST_F(ManifestCheck, NamesAreComparedWithoutCaseAsOnWindows) {
  Remove("QXFTP.EX_");
  Put("qxftp.ex_", "packed program");
  EXPECT_EQ(Run().size(), 1u);
}

TEST_F(ManifestCheck, WithoutAManifestANote) {
  std::vector<std::string> findings = Findings(dist_);
  EXPECT_TRUE(Has(findings, "note Manifest.sha256_:", "no manifest"));
  EXPECT_EQ(findings.size(), 2u);
}

TEST_F(ManifestCheck, ADamagedManifestIsAnError) {
  manifest_ += "garbage\r\n";
  std::vector<std::string> findings = Run();
  EXPECT_TRUE(Has(findings, "error Manifest.sha256_:", "Line 5"));
}

TEST_F(ManifestCheck, ASetupThatIsNoProgramGetsNoSignatureFinding) {
  // The distribution's own rules judge the program; this one only reads
  // the certificate table of a PE file.
  Put("Setup.exe", "setup program image");
  manifest_ = Line("Docs\\guide.txt", "guide") + Line("QXFTP.EX_", "packed program") +
              Line("Setup.exe", "setup program image");
  EXPECT_EQ(Run(), std::vector<std::string>());
}

TEST_F(ManifestCheck, ASignedSetupIsNoted) {
  std::vector<uint8_t> program = Program(512, 256, 768);
  Certificate(program, 512, 256, 0x0200, 0x0002);
  std::string image(program.begin(), program.end());
  Put("Setup.exe", image);
  manifest_ = Line("Docs\\guide.txt", "guide") + Line("QXFTP.EX_", "packed program") + Line("Setup.exe", image);
  std::vector<std::string> findings = Run();
  EXPECT_TRUE(Has(findings, "note Setup.exe:", "carries an Authenticode signature"));
  EXPECT_EQ(findings.size(), 1u);
}
