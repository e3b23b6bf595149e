// Maps written by the export open again through OpenFile with the same
// layouts, areas, names, sizes, calibration and pixels.

#include "ExportTestUtil.h"

#include "codecs/Canvas.h"
#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

using namespace zvtest;

namespace {

const std::string kDataDir = std::string(ZOVEVOD_TESTDATA_DIR) + "/export";

std::string MapText(const std::string& title, const std::string& image) {
  return "OziExplorer Map Data File Version 2.2\r\n" + title + "\r\n" + image +
         "\r\n1 ,Map Code,\r\nWGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\n"
         "Reserved 1\r\nReserved 2\r\nMagnetic Variation,,,E\r\nMap Projection,Latitude/Longitude,PolyCal,No,"
         "AutoCalOnly,No,BSBUseWPX,No\r\n"
         "Point01,xy,   10,   20,in, deg,  48,30.0000,N,  17, 6.0000,E, grid,   ,           ,           ,N\r\n"
         "Point02,xy,  300,  200,in, deg,  47,15.0000,N,  18,45.0000,E, grid,   ,           ,           ,N\r\n";
}

// Writes name.map and name.png (the pattern, w x h) into dir.
std::string MakeMapFiles(const std::string& dir, const std::string& name, int w, int h) {
  WritePatternPng(dir + "/" + name + ".png", w, h);
  WriteFile(dir + "/" + name + ".map", MapText(name, name + ".png"));
  return dir + "/" + name + ".map";
}

zv::Bitmap Picture(const zv::TMapArea& area) {
  zv::Bitmap b(area.Width, area.Height, zv::PixelFormat::pf24bit);
  zv::BitmapCanvas canvas(b);
  area.PaintRegion(canvas, 0, 0, area.Width, area.Height);
  return b;
}

void ExpectSamePixels(const zv::Bitmap& a, const zv::Bitmap& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  int differences = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (!(a.Pixel(x, y) == b.Pixel(x, y)) && ++differences <= 3) ADD_FAILURE() << "pixel " << x << "," << y;
  EXPECT_EQ(differences, 0);
}

void ExpectSameArea(const zv::TMapArea& a, const zv::TMapArea& b) {
  SCOPED_TRACE(a.Name);
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.Width, b.Width);
  EXPECT_EQ(a.Height, b.Height);
  EXPECT_EQ(a.Lines, b.Lines);
  ASSERT_EQ(a.Points.size(), b.Points.size());
  for (std::size_t i = 0; i < a.Points.size(); ++i) {
    EXPECT_EQ(a.Points[i].X, b.Points[i].X);
    EXPECT_EQ(a.Points[i].Y, b.Points[i].Y);
    EXPECT_EQ(a.Points[i].Lat, b.Points[i].Lat);
    EXPECT_EQ(a.Points[i].Lon, b.Points[i].Lon);
  }
  ExpectSamePixels(Picture(a), Picture(b));
}

// Layouts by name, areas in order, as a comparable outline.
void ExpectSameModel(const zv::TMapLayouts& a, const zv::TMapLayouts& b) {
  ASSERT_EQ(a.Count(), b.Count());
  for (int i = 0; i < a.Count(); ++i) {
    const zv::TMapLayout* la = a[i];
    const zv::TMapLayout* lb = b.FindLayout(la->Name);
    ASSERT_NE(lb, nullptr) << la->Name;
    EXPECT_EQ(la->Name, lb->Name);
    ASSERT_EQ(la->Areas->Count(), lb->Areas->Count()) << la->Name;
    for (int j = 0; j < la->Areas->Count(); ++j) ExpectSameArea(*(*la->Areas)[j], *(*lb->Areas)[j]);
  }
}

zv::TExportOptions TrueColour(const std::string& tw, const std::string& th, bool tared) {
  zv::TExportOptions o;
  o.TileWidthText = tw;
  o.TileHeightText = th;
  o.Format = zv::TTileFormat::Png;
  o.DepthRow = 7;
  o.Tared = tared;
  return o;
}

} // namespace

TEST(ExportRoundTrip, TileSet) {
  for (bool tared : {false, true}) {
    SCOPED_TRACE(tared);
    TempDir src, out;
    zv::TDisplayMapsCore before;
    before.OpenFile(MakeMapFiles(src.Path(), "North", 450, 330));
    ASSERT_NE(before.ActiveMapArea(), nullptr);
    ASSERT_EQ(before.ActiveMapArea()->Width, 450);
    zv::ExportSingleMap(out.Path(), before.ActiveMapArea(), TrueColour("200", "150", tared), {});

    zv::TDisplayMapsCore after;
    after.OpenFile(out / (tared ? "North.tar" : "North.map"));
    ASSERT_NE(after.ActiveMapArea(), nullptr);
    EXPECT_EQ(after.ActiveMapArea()->Images.size(), 9u);
    ExpectSameArea(*before.ActiveMapArea(), *after.ActiveMapArea());
  }
}

TEST(ExportRoundTrip, RealCalibrationFile) {
  TempDir out;
  zv::TDisplayMapsCore before;
  before.OpenFile(kDataDir + "/merc-wgs84.map");
  const zv::TMapArea* area = before.ActiveMapArea();
  ASSERT_NE(area, nullptr);
  ASSERT_EQ(area->Width, 115);
  ASSERT_EQ(area->Points.size(), 9u);
  zv::ExportSingleMap(out.Path(), area, TrueColour("50", "40", false), {});
  // The copy is the file's lines, each ended by CR LF instead of LF.
  std::string expected = ReadFile(kDataDir + "/merc-wgs84.map");
  std::string crlf;
  for (char c : expected) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(ReadFile(out / "merc-wgs84.map"), crlf);

  zv::TDisplayMapsCore after;
  after.OpenFile(out / "merc-wgs84.map");
  ASSERT_NE(after.ActiveMapArea(), nullptr);
  ExpectSameArea(*area, *after.ActiveMapArea());
}

TEST(ExportRoundTrip, Atlas) {
  for (bool tared : {false, true}) {
    SCOPED_TRACE(tared);
    TempDir src, out;
    zv::TDisplayMapsCore before;
    before.OpenFile(MakeMapFiles(src.Path(), "North", 420, 260));
    before.OpenFile(MakeMapFiles(src.Path(), "South", 90, 500));
    ASSERT_EQ(before.Layouts->Count(), 1);
    (*before.Layouts)[0]->Name = "Topo";
    zv::TMapLayout* second = before.Layouts->AddLayout("Roads");
    second->Areas->AddMapArea("East", "", MakeMapFiles(src.Path(), "East", 401, 401));
    zv::TMapLayout* nothing = before.Layouts->AddLayout("Nothing");

    zv::ExportAtlas(out.Path(), "myatlas", *before.Layouts, TrueColour("400", "200", tared), {});
    // Packing removes the empty layer directory with the loose files.
    EXPECT_EQ(fs::exists(out / "Nothing"), !tared);
    if (tared) before.Layouts->Remove(nothing);

    zv::TDisplayMapsCore after;
    after.OpenFile(out / (tared ? "myatlas.tar" : "myatlas.vka"));
    ExpectSameModel(*before.Layouts, *after.Layouts);
  }
}
