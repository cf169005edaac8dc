#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

#include <cstdio>

using namespace df;

TEST(Archive, WordsAreLittleEndianInMemoryAndFile) {
  std::vector<uint8_t> bytes;
  {
    CArchive out(&bytes);
    out << 0x43646E45u << 1u;
  }
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x45, 0x6E, 0x64, 0x43, 1, 0, 0, 0}));

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    CArchive out(file, CArchive::store);
    for (uint32_t i = 0; i < 5000; ++i) out << i * 2654435761u;  // crosses the buffer
    EXPECT_TRUE(out.Flush());
  }
  std::rewind(file);
  CArchive in(file, CArchive::load);
  for (uint32_t i = 0; i < 5000; ++i) {
    uint32_t w = 0;
    ASSERT_TRUE(in.ReadWord(w));
    ASSERT_EQ(w, i * 2654435761u);
  }
  EXPECT_TRUE(in.AtEnd());
  std::fclose(file);
}

TEST(Archive, ReadingPastTheEndFailsAndStaysFailed) {
  const uint8_t data[] = {1, 2, 3, 4, 5, 6};
  CArchive in(data, sizeof data);
  uint32_t w = 0;
  EXPECT_TRUE(in.ReadWord(w));
  EXPECT_EQ(w, 0x04030201u);
  EXPECT_FALSE(in.ReadWord(w));
  EXPECT_TRUE(in.Failed());
  EXPECT_FALSE(in.ReadWord(w));
  EXPECT_FALSE(in.WriteWord(1));  // wrong direction
}

TEST(Archive, DoublesAndFloatsRoundTrip) {
  std::vector<uint8_t> bytes;
  {
    CArchive out(&bytes);
    out.WriteDouble(-2.5e300);
    out.WriteFloat(0.1f);
  }
  CArchive in(bytes.data(), bytes.size());
  double d = 0;
  float f = 0;
  EXPECT_TRUE(in.ReadDouble(d));
  EXPECT_TRUE(in.ReadFloat(f));
  EXPECT_EQ(d, -2.5e300);
  EXPECT_EQ(f, 0.1f);
}
