// The bounded text helpers every path goes through: a text that does not fit
// its buffer, terminator included, is refused and the buffer left as it was.
#include "fixture.h"

#include <array>

namespace {

// A 260-byte buffer followed by guard bytes that no helper may touch.
struct GuardedPath {
  std::array<char, kPathSize + 8> bytes;
  GuardedPath(const std::string& text) {
    bytes.fill('#');
    std::memcpy(bytes.data(), text.c_str(), text.size() + 1);
  }
  char* buffer() { return bytes.data(); }
  std::string text() const { return std::string(bytes.data()); }
  bool guardIntact() const {
    for (size_t i = kPathSize; i < bytes.size(); ++i)
      if (bytes[i] != '#') return false;
    return true;
  }
};

std::string Chars(size_t count) { return std::string(count, 'x'); }

TEST(TextHelpers, AJoinThatExactlyFillsTheBufferIsRefused) {
  // 255 characters + "\" + 4 = 260 characters: the NUL would be byte 261.
  GuardedPath path("C:\\" + Chars(252));
  EXPECT_FALSE(JoinPath(path.buffer(), kPathSize, "abcd"));
  EXPECT_EQ(path.text(), "C:\\" + Chars(252)) << "left as it was";
  EXPECT_TRUE(path.guardIntact());
  EXPECT_TRUE(JoinPath(path.buffer(), kPathSize, "abc")) << "259 characters and the NUL fit";
  EXPECT_EQ(path.text().size(), 259u);
  EXPECT_TRUE(path.guardIntact());
}

TEST(TextHelpers, AnAppendThatExactlyFillsTheBufferIsRefused) {
  GuardedPath path(Chars(250));
  EXPECT_FALSE(AppendText(path.buffer(), kPathSize, "0123456789"));
  EXPECT_EQ(path.text(), Chars(250));
  EXPECT_TRUE(path.guardIntact());
  EXPECT_TRUE(AppendText(path.buffer(), kPathSize, "012345678"));
  EXPECT_EQ(path.text(), Chars(250) + "012345678");
  EXPECT_TRUE(path.guardIntact());
}

TEST(TextHelpers, ACopyOfAsManyCharactersAsTheBufferHasBytesIsRefused) {
  GuardedPath path("old");
  EXPECT_FALSE(CopyText(path.buffer(), kPathSize, Chars(kPathSize).c_str()));
  EXPECT_EQ(path.text(), "old");
  EXPECT_TRUE(path.guardIntact());
  EXPECT_TRUE(CopyText(path.buffer(), kPathSize, Chars(kPathSize - 1).c_str()));
  EXPECT_EQ(path.text().size(), kPathSize - 1);
  EXPECT_TRUE(path.guardIntact());
}

TEST(TextHelpers, AFolderJoinThatExactlyFillsTheBufferLeavesTheDestination) {
  GuardedPath path("D:\\Old");
  FolderJoin(path.buffer(), ("C:\\" + Chars(253)).c_str(), "FTP");  // 256 + "\" + 3 = 260
  EXPECT_EQ(path.text(), "D:\\Old");
  EXPECT_TRUE(path.guardIntact());
  FolderJoin(path.buffer(), ("C:\\" + Chars(252)).c_str(), "FTP");
  EXPECT_EQ(path.text(), "C:\\" + Chars(252) + "\\FTP");
  EXPECT_TRUE(path.guardIntact());
}

}  // namespace
