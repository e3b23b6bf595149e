#include "base/Messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

using namespace zv;

// Names go in as they are: a '%' in a file name must not act as a format
// directive, and UTF-8 bytes must pass unchanged.
TEST(Messages, NamesHoldingPercentAndUtf8StayAsTheyAre) {
  const std::string name = "/mapy/100%s \xC5\xBEilina %d.tar";
  EXPECT_EQ(msg::CannotCreateFile(name), "Súbor " + name + " sa nedá vytvoriť");
  EXPECT_EQ(msg::CannotOpenFile(name), "Súbor " + name + " sa nedá otvoriť");
  EXPECT_EQ(msg::DamagedTar(name, msg::TarEntryTooLarge), "Damaged tar archive " + name + ": an entry is too large");
  EXPECT_EQ(msg::LoadingError("%s.map", "%n"), "Loading error (%s.map) !\n%n");
  EXPECT_EQ(msg::UsageErrorHint("zovevod-export", "unknown option --x%s"),
            "zovevod-export: unknown option --x%s\nTry 'zovevod-export --help' for more information.\n");
}

// The converter's texts that were printf formats: numbers, plurals and signs.
TEST(Messages, ConverterNumbersAndPlurals) {
  EXPECT_EQ(msg::CheckSummary(1, 1), "1 problem found in 1 file.");
  EXPECT_EQ(msg::CheckSummary(0, 2), "0 problems found in 2 files.");
  EXPECT_EQ(msg::LargeArchiveWarning("a.tar", 4.004),
            "Warning: a.tar is 4.00 GiB: a FAT32 memory card holds no file of 4 GiB or more.");
  EXPECT_EQ(msg::TileProgress("m", "##  ", 5, 12), "m [##  ] 5/12 tiles");
  EXPECT_EQ(msg::BmpWidth(-3), "the width is -3");
  EXPECT_EQ(msg::BmpDensityInconsistent(-1, 2), "pixel density -1 \xC3\x97 2 pixels per metre is inconsistent");
  EXPECT_EQ(msg::PointOutsidePicture(2, -5, 7, 100, 80),
            "Point 2 (-5, 7) lies outside the picture (100 x 80): check its pixel position.");
}

// libjpeg's message buffer is fixed; the text is cut, never overrun.
TEST(Messages, JpegScanLimitFitsItsBuffer) {
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  msg::FormatJpegTooManyScans(buf, sizeof buf, 200);
  EXPECT_STREQ(buf, "JPEG file has m");
  char full[64];
  msg::FormatJpegTooManyScans(full, sizeof full, 200);
  EXPECT_STREQ(full, "JPEG file has more than 200 scans");
}

TEST(Messages, ZoomFactorsWithTheDecimalsTheyNeed) {
  const std::pair<int, const char*> cases[] = {{3, "800 %"},   {1, "200 %"},   {0, "100 %"},    {-1, "50 %"},
                                               {-3, "12.5 %"}, {-4, "6.25 %"}, {-5, "3.125 %"}, {-6, "1.5625 %"}};
  for (const auto& [zoom, text] : cases) EXPECT_EQ(msg::ZoomFactor(zoom), text) << zoom;
}
