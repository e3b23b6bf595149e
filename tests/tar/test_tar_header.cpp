#include "tar/TarHeader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace zv;

TEST(TarHeader, EveryFieldReadsBackWhatWasSet) {
  TTarHeader h;
  h.SetName(std::string(100, 'n'));
  h.SetMode(04755);
  h.SetUid(1000);
  h.SetGid(0777777); // the most six octal digits hold
  h.SetSize(077777777777);
  h.SetMtime(1700000000);
  h.SetFileType(TTarFileType::ftVolumeHeader);
  h.SetLinkName("target");
  h.SetMagic("ustar");
  h.SetUserName("user");
  h.SetGroupName(std::string(32, 'g'));
  h.SetDevMajor(8);
  h.SetDevMinor(1);
  h.SetChecksum();

  EXPECT_EQ(h.Name(), std::string(100, 'n'));
  EXPECT_EQ(h.Mode(), 04755u);
  EXPECT_EQ(h.Uid(), 1000);
  EXPECT_EQ(h.Gid(), 0777777);
  EXPECT_EQ(h.Size(), 077777777777);
  EXPECT_EQ(h.Mtime(), 1700000000);
  EXPECT_EQ(h.TypeFlag(), 'V');
  EXPECT_EQ(h.FileType(), TTarFileType::ftVolumeHeader);
  EXPECT_EQ(h.LinkName(), "target");
  EXPECT_EQ(h.Magic(), "ustar");
  EXPECT_FALSE(h.IsPosixUstar()); // blank-filled, not "ustar" and a zero byte
  EXPECT_EQ(h.UserName(), "user");
  EXPECT_EQ(h.GroupName(), std::string(32, 'g'));
  EXPECT_EQ(h.DevMajor(), 8);
  EXPECT_EQ(h.DevMinor(), 1);
  EXPECT_EQ(h.Prefix(), "");
  EXPECT_TRUE(h.ChecksumMatches());
  EXPECT_FALSE(h.EndOfArchive());
}

TEST(TarHeader, FieldsSitWherePosixUstarPutsThem) {
  TTarHeader h;
  h.SetName("a");
  h.SetSize(8);
  h.SetFileType(TTarFileType::ftDirectory);
  h.SetLinkName("b");
  h.SetUserName("c");
  h.SetChecksum();
  const unsigned char* d = h.Data();
  EXPECT_EQ(d[0], 'a');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d + 124), 12), "         10 ");
  EXPECT_EQ(d[156], '5');
  EXPECT_EQ(d[157], 'b');
  EXPECT_EQ(d[265], 'c');
  EXPECT_EQ(d[154], ' '); // checksum: six digits, a blank and a zero byte
  EXPECT_EQ(d[155], 0);

  // Sizes beyond eleven octal digits take the GNU base-256 form.
  h.SetSize(std::uint64_t{1} << 33);
  EXPECT_EQ(d[124], 0x80);
  EXPECT_EQ(h.Size(), std::int64_t{1} << 33);
  // A flag the reader does not know is a regular file.
  std::memset(h.Data() + 156, 'Q', 1);
  EXPECT_EQ(h.FileType(), TTarFileType::ftNormal);
}

TEST(TarHeader, ChecksumsAsToolsWriteThem) {
  // A checksum computed here, the field counted as blanks.
  const auto put = [](TTarHeader& h, long sum) {
    std::snprintf(reinterpret_cast<char*>(h.Data() + 148), 8, "%06lo", sum & 0777777);
  };
  const auto sum = [](const TTarHeader& h, std::size_t end, bool signedBytes) {
    long s = 0;
    for (std::size_t i = 0; i < end; ++i) {
      const unsigned char c = i >= 148 && i < 156 ? ' ' : h.Data()[i];
      s += signedBytes ? static_cast<signed char>(c) : c;
    }
    return s;
  };
  TTarHeader h;
  h.SetName("caf\xC3\xA9");
  std::memset(h.Data() + 345, 'p', 10); // a prefix, outside the short sum
  h.SetChecksum();
  EXPECT_TRUE(h.ChecksumMatches());
  EXPECT_EQ(h.Data()[154], ' ');
  put(h, sum(h, 512, false));
  EXPECT_TRUE(h.ChecksumMatches());
  put(h, sum(h, 345, false));
  EXPECT_TRUE(h.ChecksumMatches());
  put(h, sum(h, 512, true));
  EXPECT_TRUE(h.ChecksumMatches());
  put(h, sum(h, 512, false) + 1);
  EXPECT_FALSE(h.ChecksumMatches());
}
