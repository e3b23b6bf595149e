// Loading map areas from plain files and tar archives, tile sets, and drawing.

#include "TestMaps.h"

#include "base/Errors.h"
#include "codecs/Bmp.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"
#include "tar/TarWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

using namespace zv;
using namespace zvtest;

namespace {

struct LoadTest : ::testing::Test {
  TempDir dir;
  TDisplayMapsCore view;
  TMapLayout* layout = view.Layouts->AddLayout("L");

  TMapArea* Load(const std::string& tar, const std::string& file) {
    return layout->Areas->AddMapArea("m", tar, file);
  }
  // Loads and swallows a failure, so the half-loaded area can be inspected.
  TMapArea* LoadFailing(const std::string& tar, const std::string& file) {
    EXPECT_THROW(Load(tar, file), Error);
    return (*layout->Areas)[layout->Areas->Count() - 1];
  }
};

struct Placement {
  int x, y, w, h;
  friend bool operator==(const Placement&, const Placement&) = default;
};

std::vector<Placement> Placements(const TMapArea& a) {
  std::vector<Placement> v;
  for (const auto& i : a.Images) v.push_back({i->X, i->Y, i->Width(), i->Height()});
  return v;
}

} // namespace

TEST_F(LoadTest, TileNamesGivePositions) {
  // Each tile is 2 x 3; its name alone gives its place.
  const struct {
    std::string name;
    int x, y;
  } cases[] = {
      {"m_256_512.bmp", 256, 512}, {"m_x_512.bmp", 0, 512}, {"m_512.bmp", 0, 512},
      {"m.bmp", 0, 0},             {"a_b_-256_0.bmp", -256, 0}, {"a_+3_07.bmp", 3, 7},
      {"a_1_2_3.bmp", 2, 3},       {"a__.bmp", 0, 0},           {"a_99999999999_5.bmp", 0, 5},
  };
  std::string list;
  std::vector<Placement> want;
  for (const auto& c : cases) {
    WriteBmp(dir.NewPath("set/" + c.name), 0, 0, 2, 3);
    list += c.name + "\r\n";
    want.push_back({c.x, c.y, 2, 3});
  }
  WriteFile(dir / "m.set", list);
  WriteFile(dir / "m.map", MapText("missing.png"));
  TMapArea* a = Load("", dir / "m.map");
  EXPECT_EQ(Placements(*a), want);
  EXPECT_EQ(a->Width, 258);
  EXPECT_EQ(a->Height, 515);
  EXPECT_EQ(a->ImageFileName, "missing.png"); // a tile set wins over the named image
  ASSERT_EQ(a->Points.size(), 1u);
  EXPECT_EQ(a->Points[0].X, 5);
}

TEST_F(LoadTest, ExtentsAndTileListLines) {
  WriteBmp(dir.NewPath("set/t_0_0.bmp"), 0, 0, 256, 256);
  WriteBmp(dir.NewPath("set/t_256_0.bmp"), 256, 0, 100, 256);
  WriteBmp(dir.NewPath("set/t_0_256.bmp"), 0, 256, 256, 50);
  WriteBmp(dir.NewPath("set/t_9_9.bmp"), 9, 9, 1, 1);
  // CR anywhere is dropped; blank lines and names with trailing blanks are
  // skipped; the last line needs no LF.
  WriteFile(dir / "t.set", "t_0_0.bmp\r\n\r\n\nt_9_9.bmp  \r\nt_2\r56_0.bmp\nt_0_256.bmp");
  WriteFile(dir / "t.map", MapText(""));
  TMapArea* a = Load("", dir / "t.map");
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 256, 256}, {256, 0, 100, 256}, {0, 256, 256, 50}}));
  EXPECT_EQ(a->Width, 356);
  EXPECT_EQ(a->Height, 306);
}

TEST_F(LoadTest, TileListPathReplacesOnlyFinalExtension) {
  WriteBmp(dir.NewPath("maps.map/set/x_0_0.bmp"), 0, 0, 4, 4);
  WriteFile(dir.NewPath("maps.map/x.set"), "x_0_0.bmp\n");
  WriteFile(dir.NewPath("maps.set/x.set"), "nothing_0_0.bmp\n"); // the wrong place
  WriteFile(dir.NewPath("maps.map/x.map"), MapText(""));
  TMapArea* a = Load("", dir.NewPath("maps.map/x.map"));
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 4, 4}}));
}

TEST_F(LoadTest, TileListFailures) {
  // A named tile missing from the tile directory fails; the area keeps the
  // tiles before it and the empty image that was appended.
  WriteBmp(dir.NewPath("set/f_0_0.bmp"), 0, 0, 3, 3);
  WriteFile(dir / "f.set", "f_0_0.bmp\nf_3_0.bmp\nf_6_0.bmp\n");
  WriteFile(dir / "f.map", MapText(""));
  TMapArea* a = LoadFailing("", dir / "f.map");
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 3, 3}, {0, 0, 0, 0}}));
  EXPECT_EQ(a->Width, 3);
  // An undecodable tile fails too.
  WriteFile(dir.NewPath("set/g_0_0.png"), "not a png");
  WriteFile(dir / "g.set", "g_0_0.png\n");
  WriteFile(dir / "g.map", MapText(""));
  LoadFailing("", dir / "g.map");
  // A tile sitting beyond the 32-bit picture range is refused.
  WriteBmp(dir.NewPath("set/h_2147483647_0.bmp"), 0, 0, 2, 2);
  WriteFile(dir / "h.set", "h_2147483647_0.bmp\n");
  WriteFile(dir / "h.map", MapText(""));
  LoadFailing("", dir / "h.map");
}

TEST_F(LoadTest, TileDirectoryTakesPngOnlyInNameOrder) {
  WriteJpeg(dir.NewPath("j/set/j_0_0.jpg"), 8, 8);
  WriteJpeg(dir.NewPath("j/set/j_8_0.jpg"), 8, 8);
  WriteFile(dir.NewPath("j/j.map"), MapText(""));
  TMapArea* a = Load("", dir.NewPath("j/j.map"));
  EXPECT_TRUE(a->Images.empty());
  EXPECT_EQ(a->Width, 0);
  // The same tiles named in a tile list load.
  WriteFile(dir.NewPath("j/j.set"), "j_0_0.jpg\nj_8_0.jpg\n");
  view.Question = [](const std::string&) { return true; };
  a = Load("", dir.NewPath("j/j.map"));
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 8, 8}, {8, 0, 8, 8}}));

  WritePng(dir.NewPath("p/set/p_5_0.png"), 5, 0, 5, 4);
  WritePng(dir.NewPath("p/set/p_0_0.PNG"), 0, 0, 5, 4);
  WriteBmp(dir.NewPath("p/set/p_0_4.bmp"), 0, 4, 5, 4);
  WriteFile(dir.NewPath("p/p.map"), MapText(""));
  a = Load("", dir.NewPath("p/p.map"));
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 5, 4}, {5, 0, 5, 4}}));
  EXPECT_EQ(a->Images[1]->Bitmap.Pixel(0, 0), PictureColour(5, 0));
  EXPECT_EQ(a->Width, 10);
  EXPECT_EQ(a->Height, 4);
}

TEST_F(LoadTest, WholeImageCandidates) {
  // As written (absolute path), relative to the calibration folder, and the
  // name part of a foreign path beside the calibration file.
  WriteBmp(dir.NewPath("img/abs.bmp"), 0, 0, 7, 5);
  WriteFile(dir / "a.map", MapText(dir.NewPath("img/abs.bmp")));
  WriteBmp(dir.NewPath("c/img/rel.bmp"), 0, 0, 6, 5);
  WriteFile(dir.NewPath("c/r.map"), MapText("img/rel.bmp"));
  WriteBmp(dir.NewPath("w/north.bmp"), 0, 0, 4, 3);
  WriteFile(dir.NewPath("w/w.map"), MapText("C:\\Maps\\north.bmp"));
  WriteFile(dir.NewPath("w/u.map"), MapText("/home/someone/maps/north.bmp"));
  const struct {
    std::string map;
    int w, h;
  } cases[] = {{"a.map", 7, 5}, {"c/r.map", 6, 5}, {"w/w.map", 4, 3}, {"w/u.map", 4, 3}};
  for (const auto& c : cases) {
    TMapArea* a = Load("", dir.NewPath(c.map));
    ASSERT_EQ(a->Images.size(), 1u) << c.map;
    EXPECT_EQ(a->Width, c.w) << c.map;
    EXPECT_EQ(a->Height, c.h) << c.map;
    EXPECT_EQ(a->Images[0]->Bitmap.Pixel(1, 2), PictureColour(1, 2));
  }
  EXPECT_EQ((*layout->Areas)[2]->ImageFileName, "C:\\Maps\\north.bmp"); // kept as written

  {
    // A picture of the same relative name in the current folder does not
    // win over the one beside the calibration file; without that one, the
    // current folder's is taken.
    WriteBmp(dir.NewPath("cwd/img/rel.bmp"), 0, 0, 9, 9);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir / "cwd");
    TMapArea* beside = Load("", dir / "c/r.map");
    WriteFile(dir / "cwd.map", MapText("img/rel.bmp"));
    TMapArea* current = Load("", dir / "cwd.map");
    std::filesystem::current_path(previous);
    EXPECT_EQ(beside->Width, 6);
    EXPECT_EQ(current->Width, 9);
  }

  // A named image that is nowhere fails, with an empty image appended.
  WriteFile(dir / "x.map", MapText("gone.bmp"));
  TMapArea* a = LoadFailing("", dir / "x.map");
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 0, 0}}));
  // A name with blanks after the extension is no image name: silent.
  WriteFile(dir / "y.map", MapText("north.bmp  "));
  a = Load("", dir / "y.map");
  EXPECT_EQ(a->Images.size(), 1u);
  EXPECT_EQ(a->Width, 0);
}

TEST_F(LoadTest, GmiAndMissingCalibrationAreSilent) {
  WriteFile(dir / "g.gmi", "Map Calibration data file v3.0\nimage.bmp\n10\n10\n1;2;3.5;4.5\n");
  WriteBmp(dir / "image.bmp", 0, 0, 10, 10);
  TMapArea* a = Load("", dir / "g.gmi");
  EXPECT_EQ(a->ImageFileName, "");
  ASSERT_EQ(a->Images.size(), 1u);
  EXPECT_TRUE(a->Images[0]->Bitmap.Empty());
  EXPECT_EQ(a->Width, 0);
  EXPECT_EQ(a->Points.size(), 1u);

  a = Load("", dir / "nothing.map");
  EXPECT_TRUE(a->Lines.empty());
  EXPECT_EQ(a->Images.size(), 1u);
  EXPECT_EQ(a->FileName, dir.Path() + "/nothing.map");
}

TEST_F(LoadTest, ImageOpenedAlone) {
  WriteBmp(dir / "photo.bmp", 0, 0, 9, 4);
  TMapArea* a = Load("", dir / "photo.bmp");
  EXPECT_EQ(a->ImageFileName, dir / "photo.bmp");
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 9, 4}}));
  EXPECT_EQ(a->Width, 9);
  // Lines hold the file's bytes up to the first NUL (early in the BMP header).
  const Bytes bmp = MakeBmp(0, 0, 9, 4);
  std::size_t nul = 0;
  while (bmp[nul] != 0) ++nul;
  ASSERT_EQ(a->Lines.size(), 1u);
  EXPECT_EQ(a->Lines[0], std::string(bmp.begin(), bmp.begin() + static_cast<long>(nul)));
  EXPECT_TRUE(a->Points.empty());

  // With a tile list beside it, the tiles are used and the image is not read.
  WriteFile(dir.NewPath("t/photo.png"), "not decodable");
  WriteBmp(dir.NewPath("t/set/photo_0_0.bmp"), 0, 0, 2, 2);
  WriteFile(dir.NewPath("t/photo.set"), "photo_0_0.bmp");
  a = Load("", dir.NewPath("t/photo.png"));
  EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 2, 2}}));
}

TEST_F(LoadTest, UnsupportedExtensionIsAMessageNotAFailure) {
  std::vector<std::string> messages;
  view.ShowError = [&](const std::string& m) { messages.push_back(m); };
  TMapArea area(&view, layout);
  TMapImage image(&view, &area);
  image.Bitmap = PictureBitmap(0, 0, 3, 3);
  image.LoadFromStream(Bytes{1, 2, 3}, "x.Gif", 4, 5);
  EXPECT_EQ(messages, std::vector<std::string>{".GIF is unsupported image file"});
  EXPECT_EQ(image.Width(), 3); // unchanged
  EXPECT_EQ(image.X, 4);
  EXPECT_EQ(image.Y, 5);
  // Decoder failures propagate and leave the place alone.
  EXPECT_THROW(image.LoadFromStream(Bytes{1, 2, 3}, "x.bmp", 7, 7), Error);
  EXPECT_EQ(image.X, 4);
  EXPECT_THROW(image.LoadFromFile(dir / "absent.png", 0, 0), EFileError);
}

TEST_F(LoadTest, TarHeldMaps) {
  const std::string tarName = dir / "a.tar";
  {
    TTarWriter tar(tarName);
    AddText(tar, "a.map", MapText("a.png"));
    AddText(tar, "a.set", "zzz_0_0.png\n"); // not used
    tar.AddDirectory("set/", 45000.0);
    AddData(tar, "set/a_0_0.bmp", MakeBmp(0, 0, 4, 4));
    AddData(tar, "SET/sub/a_4_0.BMP", MakeBmp(4, 0, 3, 4));
    AddData(tar, "set/a_0_4.txt", Bytes{1});
    AddData(tar, "other/a_9_9.bmp", MakeBmp(0, 0, 1, 1));
    AddText(tar, "b.gmi", "1\n2\n3\n4\n1;1;1;1\n");
    tar.Finish();
  }
  for (const std::string& name : {std::string("a.map"), std::string()}) {
    TMapArea* a = Load(tarName, name);
    EXPECT_EQ(a->FileName, "a.map");
    EXPECT_EQ(a->ImageFileName, "a.png");
    EXPECT_EQ(a->Points.size(), 1u);
    EXPECT_EQ(a->Lines.size(), 6u);
    EXPECT_EQ(Placements(*a), (std::vector<Placement>{{0, 0, 4, 4}, {4, 0, 3, 4}}));
    EXPECT_EQ(a->Images[1]->Bitmap.Pixel(0, 0), PictureColour(4, 0));
    EXPECT_EQ(a->Width, 7);
    EXPECT_EQ(a->Height, 4);
  }
  // The named entry, not the first calibration entry.
  TMapArea* b = Load(tarName, "b.gmi");
  EXPECT_EQ(b->FileName, "b.gmi");
  EXPECT_EQ(b->Points.size(), 1u);
  EXPECT_EQ(b->Images.size(), 2u);
  // A missing archive fails.
  EXPECT_THROW(Load(dir / "none.tar", ""), EFileError);
}

TEST_F(LoadTest, TarTileThatDoesNotDecodeFails) {
  const std::string tarName = dir / "bad.tar";
  {
    TTarWriter tar(tarName);
    AddText(tar, "m.map", MapText(""));
    AddData(tar, "set/m_0_0.png", Bytes{0x89, 'P', 'N', 'G'});
    tar.Finish();
  }
  TMapArea* a = LoadFailing(tarName, "");
  EXPECT_EQ(a->FileName, "m.map");
  EXPECT_EQ(a->Images.size(), 1u);
}

TEST_F(LoadTest, PaintRegionCopiesOverlapsOnly) {
  WriteBmp(dir.NewPath("set/q_0_0.bmp"), 0, 0, 10, 10);
  WriteBmp(dir.NewPath("set/q_10_0.bmp"), 10, 0, 10, 10);
  WriteBmp(dir.NewPath("set/q_0_10.bmp"), 0, 10, 10, 10);
  WriteBmp(dir.NewPath("set/q_10_10.bmp"), 10, 10, 10, 10);
  WriteFile(dir / "q.set", "q_0_0.bmp\nq_10_0.bmp\nq_0_10.bmp\nq_10_10.bmp\n");
  WriteFile(dir / "q.map", MapText(""));
  TMapArea* a = Load("", dir / "q.map");

  RecordingCanvas rec;
  a->PaintRegion(rec, 20, 0, 5, 5);
  a->PaintRegion(rec, -5, -5, 5, 50);
  a->PaintRegion(rec, 3, 3, 0, 5);
  EXPECT_TRUE(rec.Calls.empty());
  a->PaintRegion(rec, 5, 6, 10, 10);
  EXPECT_EQ(rec.Calls, (std::vector<std::string>{"copy 0,0,5,6,5,4 of 10x10", "copy 5,0,0,6,5,4 of 10x10",
                                                 "copy 0,4,5,0,5,6 of 10x10", "copy 5,4,0,0,5,6 of 10x10"}));

  // Pixels land where the picture has them; uncovered pixels stay.
  Bitmap target(12, 12, PixelFormat::pf24bit);
  target.Fill(Rgb{1, 2, 3});
  BitmapCanvas canvas(target);
  a->PaintRegion(canvas, 14, 14, 12, 12);
  EXPECT_EQ(target.Pixel(0, 0), PictureColour(14, 14));
  EXPECT_EQ(target.Pixel(5, 5), PictureColour(19, 19));
  EXPECT_EQ(target.Pixel(6, 0), (Rgb{1, 2, 3}));
  EXPECT_EQ(target.Pixel(0, 6), (Rgb{1, 2, 3}));
}

TEST_F(LoadTest, PaintDrawsOnlyShownAreaWithOptions) {
  WriteBmp(dir.NewPath("set/s_0_0.bmp"), 0, 0, 10, 8);
  WriteBmp(dir.NewPath("set/s_10_0.bmp"), 10, 0, 4, 8);
  WriteFile(dir / "s.set", "s_0_0.bmp\ns_10_0.bmp\n");
  WriteFile(dir / "s.map", MapText(""));
  TMapArea* a = Load("", dir / "s.map");
  RecordingCanvas rec;
  view.BufferCanvas = &rec;
  view.Layouts->Paint();
  EXPECT_TRUE(rec.Calls.empty()); // not shown

  view.ShowMapArea(a);
  EXPECT_EQ(view.ExtentWidth, 14);
  view.SetOffsetX(3);
  view.SetOffsetY(-2);
  view.Layouts->Paint();
  EXPECT_EQ(rec.Calls, (std::vector<std::string>{"copy -3,2,0,0,10,8 of 10x8", "copy 7,2,0,0,4,8 of 4x8"}));
  rec.Calls.clear();

  view.SetOptions(OptionBit(mpoShowImageBorder) | OptionBit(mpoShowCalibrationPoints));
  view.Layouts->Paint();
  std::vector<std::string> want = {"copy -3,2,0,0,10,8 of 10x8", "frame -3,2,7,10 000080", "copy 7,2,0,0,4,8 of 4x8",
                                   "frame 7,2,11,10 000080", "pixel 2,8 ff0000"};
  for (int k = 1; k <= 5; ++k) {
    want.push_back("ellipse " + std::to_string(2 - 8 * k) + "," + std::to_string(8 - 8 * k) + "," +
                   std::to_string(2 + 8 * k) + "," + std::to_string(8 + 8 * k) + " ff0000 w" + std::to_string(k));
    want.push_back("text 12,18 1 000000 15");
  }
  EXPECT_EQ(rec.Calls, want);
  view.BufferCanvas = nullptr;
}

TEST(CorpusCalibration, RealFilesLoad) {
  // Apache-licensed files copied here: each names a JPEG beside it.
  SetDecimalSeparator('.');
  const std::string dir = std::string(ZOVEVOD_TESTDATA_DIR) + "/calibration/gt-ozi/";
  const struct {
    std::string name;
    int w, h;
    std::size_t points;
  } maps[] = {{"latlon-wgs84", 720, 360, 9},
              {"merc-wgs84", 115, 93, 9},
              {"gk5-pul42", 120, 120, 9},
              {"utm11-nad27", 120, 120, 9},
              {"utm21-nad83", 120, 107, 9}};
  TDisplayMapsCore view;
  for (const auto& m : maps) {
    view.OpenFile(dir + m.name + ".map");
    TMapArea* a = view.ActiveMapArea();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Name, m.name);
    EXPECT_EQ(a->Width, m.w) << m.name;
    EXPECT_EQ(a->Height, m.h) << m.name;
    EXPECT_EQ(a->Points.size(), m.points) << m.name;
    EXPECT_EQ(a->ImageFileName, m.name + ".jpg");
  }
  // merc-wgs84: the last point lies at 8°41.2099'S, 10°42.6921'E.
  const TMapArea* merc = (*(*view.Layouts)[0]->Areas)[1];
  EXPECT_NEAR(static_cast<double>(merc->Points[8].Lat), -(8 + 41.2099 / 60), 1e-9);
  EXPECT_NEAR(static_cast<double>(merc->Points[8].Lon), 10 + 42.6921 / 60, 1e-9);
  // latlon-wgs84 reaches both poles and both edges of the world.
  const TMapArea* world = (*(*view.Layouts)[0]->Areas)[0];
  double minLat = 1e9, maxLat = -1e9, minLon = 1e9, maxLon = -1e9;
  for (const auto& p : world->Points) {
    minLat = std::min(minLat, static_cast<double>(p.Lat));
    maxLat = std::max(maxLat, static_cast<double>(p.Lat));
    minLon = std::min(minLon, static_cast<double>(p.Lon));
    maxLon = std::max(maxLon, static_cast<double>(p.Lon));
  }
  EXPECT_NEAR(minLat, -90, 1e-9);
  EXPECT_NEAR(maxLat, 90, 1e-9);
  EXPECT_NEAR(minLon, -180, 1e-9);
  EXPECT_NEAR(maxLon, 180, 1e-9);
}

TEST(CorpusCalibration, MalformedFiles) {
  const std::string dir = std::string(ZOVEVOD_TESTDATA_DIR) + "/calibration/gt-ozi/bad/";
  TDisplayMapsCore view;
  TMapLayout* l = view.Layouts->AddLayout("bad");
  // No header check, an empty image line and blank points are all silent; the
  // image they name (../mer.jpg) is absent, which fails the load after the
  // calibration has been read.
  const struct {
    const char* name;
    bool fails;
    std::size_t points;
  } cases[] = {{"noheader.map", true, 9}, {"nolines.map", false, 0}, {"noimagefile1.map", false, 9},
               {"nogcps.map", true, 1}};
  for (const auto& c : cases) {
    if (c.fails)
      EXPECT_THROW(l->Areas->AddMapArea(c.name, "", dir + c.name), EFileError) << c.name;
    else
      EXPECT_NO_THROW(l->Areas->AddMapArea(c.name, "", dir + c.name)) << c.name;
    const TMapArea* a = (*l->Areas)[l->Areas->Count() - 1];
    EXPECT_EQ(a->Points.size(), c.points) << c.name;
    EXPECT_EQ(a->Width, 0) << c.name;
  }
  EXPECT_TRUE((*l->Areas)[1]->Lines.empty());
  // Impossible values parse: there is no range check.
  TMapArea a(&view, l);
  a.FileName = "badgcps2.map";
  const Bytes text = ReadWholeFile(dir + "badgcps2.map");
  a.Lines = SplitLines(text.data(), text.size());
  EXPECT_NO_THROW(a.ParseCalibration());
}

TEST(CorpusCalibration, SharedCorpusFilesParse) {
  // GPL-licensed files stay in the shared corpus; read them in place.
  const std::string root = std::string(ZOVEVOD_CORPUS_DIR) + "/calibration/";
  const char* files[] = {"androzic/world.map",      "androzic/Mapa Zatoki v4_41_ozf.map",
                         "mapsoft2/ozi1.map",       "mapsoft2/ozi2.map",
                         "mapsoft2/ozi3.map",       "mapsoft2/m47-022.map",
                         "mapsoft2/9410_4633_14.map"};
  if (!FileExists(root + files[0])) GTEST_SKIP() << "shared corpus not present";
  for (const char* f : files) {
    TMapArea a(nullptr, nullptr);
    a.FileName = root + f;
    const Bytes text = ReadWholeFile(a.FileName);
    a.Lines = SplitLines(text.data(), text.size());
    EXPECT_NO_THROW(a.ParseCalibration()) << f;
    EXPECT_FALSE(a.ImageFileName.empty()) << f;
  }
  TMapArea world(nullptr, nullptr);
  world.FileName = root + "androzic/world.map";
  const Bytes text = ReadWholeFile(world.FileName);
  world.Lines = SplitLines(text.data(), text.size());
  world.ParseCalibration();
  ASSERT_FALSE(world.Points.empty());
  bool south = false;
  for (const auto& p : world.Points) south = south || p.Lat < -80;
  EXPECT_TRUE(south);
}

TEST_F(LoadTest, AnnouncedBeforeLoadingAndMalformedTilesFail) {
  std::vector<std::size_t> linesWhenAnnounced;
  view.Hooks.OnMapAreasChange = [&](TMapArea* a, TListChange c) {
    if (c == lcAdded) linesWhenAnnounced.push_back(a->Lines.size() + a->Images.size());
  };
  // Truncated and hostile tiles of every accepted kind: each load fails with
  // an error, never a crash.
  Bytes bmp = MakeBmp(0, 0, 40, 40);
  WriteJpeg(dir / "whole.jpg", 40, 40);
  const Bytes jpeg = ReadWholeFile(dir / "whole.jpg");
  const std::vector<std::pair<std::string, Bytes>> bad = {
      {"b_0_0.bmp", Bytes(bmp.begin(), bmp.begin() + 60)},
      {"b_0_0.bmp", Bytes{'B', 'M', 0xff, 0xff, 0xff, 0x7f}},
      {"b_0_0.png", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'}},
      {"b_0_0.jpg", Bytes{0xff, 0xd8, 0xff, 0xe0}},
      {"b_0_0.jpeg", Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2))},
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    const std::string sub = "bad" + std::to_string(i) + "/";
    WriteBytes(dir.NewPath(sub + "set/" + bad[i].first), bad[i].second);
    WriteFile(dir.NewPath(sub + "b.set"), bad[i].first);
    WriteFile(dir.NewPath(sub + "b.map"), MapText(""));
    SCOPED_TRACE(i);
    LoadFailing("", dir.NewPath(sub + "b.map"));
  }
  EXPECT_EQ(linesWhenAnnounced, std::vector<std::size_t>(bad.size(), 0));
}

// PNG and BMP pictures are decoded from the file itself; a large BMP lets go
// of the pages it has read as it goes. The picture is the one its bytes give.
TEST_F(LoadTest, LargeBmpFromTheFileMatchesItsBytes) {
  const std::string path = dir / "big.bmp";
  WriteBmp(path, 0, 0, 1700, 1100); // over 5 MiB of rows
  TMapImage image(&view, nullptr);
  image.LoadFromFile(path, 3, 4);
  EXPECT_EQ(image.X, 3);
  EXPECT_EQ(image.Y, 4);
  const Bytes bytes = ReadWholeFile(path);
  Bitmap expected;
  DecodeBmp(bytes.data(), bytes.size(), expected);
  ASSERT_EQ(image.Width(), 1700);
  ASSERT_EQ(image.Height(), 1100);
  for (int y = 0; y < 1100; ++y)
    ASSERT_EQ(0, std::memcmp(std::as_const(image.Bitmap).Row(y), std::as_const(expected).Row(y), expected.Stride()))
        << "row " << y;
  EXPECT_EQ(image.Bitmap.Pixel(1699, 1099), PictureColour(1699, 1099));
  // A file that is no BMP fails as before.
  WriteFile(dir / "bad.bmp", "BMxx");
  EXPECT_THROW(image.LoadFromFile(dir / "bad.bmp", 0, 0), Error);
  EXPECT_THROW(image.LoadFromFile(dir / "missing.png", 0, 0), EFileError);
}
