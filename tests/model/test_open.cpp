// Opening files: dispatch by extension, tar archives and atlas trees.

#include "TestMaps.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"
#include "tar/TarArchive.h"
#include "tar/TarWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <sstream>

using namespace zv;
using namespace zvtest;

namespace {

// The model as text: "Layout[area(fileName) area* ...]" with * on the shown area.
std::string Describe(const TDisplayMapsCore& view) {
  std::string s;
  for (int i = 0; i < view.Layouts->Count(); ++i) {
    const TMapLayout* l = (*view.Layouts)[i];
    s += (s.empty() ? "" : " ") + l->Name + "[";
    for (int j = 0; j < l->Areas->Count(); ++j) {
      const TMapArea* a = (*l->Areas)[j];
      s += (j ? " " : "") + a->Name + (a->Shown ? "*" : "");
    }
    s += "]";
  }
  return s;
}

struct OpenTest : ::testing::Test {
  TempDir dir;
  TDisplayMapsCore view;
  std::vector<std::string> questions;
  bool answer = false;
  OpenTest() {
    view.Question = [this](const std::string& q) {
      questions.push_back(q);
      return answer;
    };
  }
  // A map with a 6 x 4 image beside it.
  std::string MakeMap(const std::string& path) {
    const std::string map = dir.NewPath(path);
    const std::string image = map.substr(0, map.size() - 4) + ".bmp";
    WriteBmp(image, 0, 0, 6, 4);
    WriteFile(map, MapText(ExtractFileName(image)));
    return map;
  }
  // A tar-held map with one 5 x 5 tile.
  void MakeTarMap(const std::string& path, const std::string& calibration) {
    TTarWriter tar(dir.NewPath(path));
    AddText(tar, calibration, MapText(""));
    AddData(tar, "set/t_0_0.bmp", MakeBmp(0, 0, 5, 5));
    tar.Finish();
  }
};

} // namespace

TEST_F(OpenTest, DispatchAndDefaultLayout) {
  WriteFile(dir / "notes.txt", "hello");
  view.OpenFile(dir / "notes.txt");
  view.OpenFile(dir / "noext");
  EXPECT_EQ(view.Layouts->Count(), 0);

  view.OpenFile(MakeMap("one.map"));
  view.OpenFile(MakeMap("two.MAP"));
  WriteBmp(dir / "pic.bmp", 0, 0, 3, 2);
  view.OpenFile(dir / "pic.bmp");
  EXPECT_EQ(Describe(view), "Default[one two pic*]");
  EXPECT_EQ(view.ActiveMapArea()->Width, 3);
  EXPECT_EQ(view.ExtentWidth, 3);
  EXPECT_EQ(view.ExtentHeight, 2);

  view.CloseAll();
  EXPECT_EQ(view.ActiveLayout(), nullptr);
  view.OpenFile(dir / "one.map");
  EXPECT_EQ(Describe(view), "Default[one*]");
  // A layout named Default that is not active does not take loose maps.
  view.SetActiveMapArea(nullptr);
  view.OpenFile(dir / "two.MAP");
  EXPECT_EQ(Describe(view), "Default[one] Default[two*]");
  EXPECT_TRUE(questions.empty());
}

TEST_F(OpenTest, NamedFileThatIsNotThereFails) {
  // OpenFile itself makes an empty map of it; a file the user named is
  // checked first.
  for (const std::string& missing : {dir / "nosuch.map", dir.Path()}) {
    try {
      view.OpenNamedFile(missing);
      ADD_FAILURE() << missing;
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), msg::CannotOpenFile(missing));
    }
  }
  EXPECT_EQ(view.Layouts->Count(), 0);
  view.OpenNamedFile(MakeMap("one.map"));
  EXPECT_EQ(Describe(view), "Default[one*]");
}

TEST_F(OpenTest, ReopenAsksAndNoShowsTheExistingArea) {
  const std::string map = MakeMap("m.map");
  view.OpenFile(map);
  TMapArea* first = view.ActiveMapArea();
  view.OpenFile(MakeMap("other.map"));
  view.OpenFile(map);
  EXPECT_EQ(questions, std::vector<std::string>{"[Default.m] already exists. Do you want to reload it ?"});
  EXPECT_EQ(view.ActiveMapArea(), first);
  EXPECT_EQ(Describe(view), "Default[m* other]");
  answer = true;
  view.OpenFile(map);
  EXPECT_EQ(Describe(view), "Default[other m*]");
  EXPECT_EQ(questions.size(), 2u);
}

TEST_F(OpenTest, TarArchivesAtTopLevelOnly) {
  {
    TTarWriter tar(dir / "pack.tar");
    AddText(tar, "x.map", MapText(""));
    AddText(tar, "sub/y.map", MapText(""));
    AddData(tar, "set/x_0_0.bmp", MakeBmp(0, 0, 5, 3));
    AddText(tar, "z.gmi", "1\n2\n3\n4\n");
    AddText(tar, "readme.txt", "x");
    tar.Finish();
  }
  view.OpenFile(dir / "pack.tar");
  EXPECT_EQ(Describe(view), "Default[pack pack*]");
  const TMapAreas& areas = *(*view.Layouts)[0]->Areas;
  EXPECT_EQ(areas[0]->FileName, "x.map");
  EXPECT_EQ(areas[1]->FileName, "z.gmi");
  EXPECT_EQ(areas[0]->Width, 5);
  EXPECT_EQ(view.ActiveMapArea(), areas[1]);
  // A missing archive is a failure.
  EXPECT_THROW(view.OpenFile(dir / "missing.tar"), EFileError);
}

TEST_F(OpenTest, AtlasTree) {
  WriteFile(dir.NewPath("atlas/atlas.vka"), "");
  MakeMap("atlas/A/m2/m2.map");
  MakeMap("atlas/A/m1/m1.map");
  dir.NewPath("atlas/B/x");                         // an empty layer
  dir.NewPath("atlas/.hidden/m/x");                 // hidden: not listed
  MakeMap("atlas/.hidden/m/h.map");
  MakeMap("atlas/C/both/m.map");              // m.map and m.tar: two areas named both
  MakeTarMap("atlas/C/both/m.tar", "m.map");
  MakeTarMap("atlas/C/packed/p.tar", "p.map");
  WriteFile(dir.NewPath("atlas/C/packed/notes.txt"), "x");
  dir.NewPath("atlas/C/packed/dir.map/x");           // a directory named like a file is no file
  MakeMap("atlas/C/tiles/tiles.map");
  WriteFile(dir.NewPath("atlas/C/tiles/tiles.set"), "t_0_0.bmp\n");
  WriteBmp(dir.NewPath("atlas/C/tiles/set/t_0_0.bmp"), 0, 0, 9, 9);
  WriteFile(dir.NewPath("atlas/loose.map"), MapText(""));   // not in a map directory

  // An existing layout of another letter case joins and is renamed.
  TMapLayout* existing = view.Layouts->AddLayout("c");
  view.OpenFile(dir.NewPath("atlas/atlas.vka"));
  EXPECT_EQ(Describe(view), "C[both both packed tiles] A[m1* m2] B[]");
  EXPECT_EQ((*view.Layouts)[0], existing);
  EXPECT_EQ(view.ActiveLayout()->Name, "A");
  const TMapAreas& c = *existing->Areas;
  EXPECT_EQ(c[0]->FileName, dir.NewPath("atlas/C/both/m.map"));
  EXPECT_EQ(c[1]->FileName, "m.map");
  EXPECT_EQ(c[2]->FileName, "p.map");
  EXPECT_EQ(c[3]->Width, 9);
  EXPECT_TRUE(questions.empty());

  // Opening it again asks for every plain calibration file; maps from tar
  // archives come again without a question.
  view.OpenFile(dir.NewPath("atlas/atlas.vka"));
  EXPECT_EQ(questions.size(), 4u);
  EXPECT_EQ(questions[0], "[A.m1] already exists. Do you want to reload it ?");
  EXPECT_EQ(questions[2], "[C.both] already exists. Do you want to reload it ?");
  EXPECT_EQ(Describe(view), "C[both both packed tiles both packed] A[m1* m2] B[]");
}

TEST_F(OpenTest, AtlasInsideTarUsesTheFolderHoldingTheArchive) {
  MakeMap("root/L1/m/m.map");
  dir.NewPath("root/L2/x");
  {
    TTarWriter tar(dir.NewPath("root/atlas.tar"));
    AddText(tar, "myatlas.vka", "Atlas 1.0\r\n");
    AddText(tar, "Inner/inner/inner.map", MapText("")); // layers inside the archive are not used
    tar.Finish();
  }
  view.OpenFile(dir.NewPath("root/atlas.tar"));
  EXPECT_EQ(Describe(view), "L1[m*] L2[]");
}

TEST_F(OpenTest, FailureEndsTheCallButKeepsWhatWasOpened) {
  MakeMap("atlas/A/a/a.map");
  WriteFile(dir.NewPath("atlas/A/b/b.map"), MapText("gone.bmp"));
  MakeMap("atlas/A/c/c.map");
  WriteFile(dir.NewPath("atlas/x.vka"), "");
  EXPECT_THROW(view.OpenFile(dir.NewPath("atlas/x.vka")), Error);
  EXPECT_EQ(Describe(view), "A[a* b]");
}

namespace {

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
std::string Quote(const std::string& s) { return "'" + s + "'"; }

// What an opened map holds, for comparing two ways of packing it.
std::string Content(const TDisplayMapsCore& view) {
  std::string s = Describe(view);
  for (int i = 0; i < view.Layouts->Count(); ++i)
    for (int j = 0; j < (*view.Layouts)[i]->Areas->Count(); ++j) {
      const TMapArea* a = (*(*view.Layouts)[i]->Areas)[j];
      s += " " + std::to_string(a->Width) + "x" + std::to_string(a->Height) + " points " +
           std::to_string(a->Points.size()) + " images";
      std::vector<std::string> images; // in the archive's order, which the packing tool chose
      for (const auto& image : a->Images)
        images.push_back(std::to_string(image->X) + "," + std::to_string(image->Y) + ":" +
                         std::to_string(image->Width()));
      std::sort(images.begin(), images.end());
      for (const std::string& image : images) s += " " + image;
    }
  return s;
}

} // namespace

// `tar -C folder .` names every entry "./...": the calibration entry and the
// tiles are found as in the same folder archived by name, and the area keeps
// the entry's name as read.
TEST_F(OpenTest, ArchivesOfAFolderWithDotSlashNames) {
  WriteFile(dir.NewPath("src/m.map"), MapText(""));
  WriteBytes(dir.NewPath("src/set/m_0_0.bmp"), MakeBmp(0, 0, 5, 5));
  WriteBytes(dir.NewPath("src/set/m_5_0.bmp"), MakeBmp(5, 0, 3, 5));
  {
    TTarWriter tar(dir / "byname.tar");
    AddText(tar, "m.map", MapText(""));
    AddData(tar, "set/m_0_0.bmp", MakeBmp(0, 0, 5, 5));
    AddData(tar, "set/m_5_0.bmp", MakeBmp(5, 0, 3, 5));
    tar.Finish();
  }
  view.OpenFile(dir / "byname.tar");
  const std::string expected = Content(view);
  EXPECT_EQ(expected, "Default[byname*] 8x5 points 1 images 0,0:5 5,0:3");

  std::vector<std::string> archives;
  {
    // Repeated prefixes, as some tools write "././".
    TTarWriter tar(dir / "dotdot.tar");
    tar.AddDirectory("././", UnixToDateTime(0));
    AddText(tar, "././m.map", MapText(""));
    AddData(tar, "./set/m_0_0.bmp", MakeBmp(0, 0, 5, 5));
    AddData(tar, "././set/m_5_0.bmp", MakeBmp(5, 0, 3, 5));
    tar.Finish();
    archives.push_back("dotdot.tar");
  }
  const std::vector<std::pair<std::string, std::vector<std::string>>> tools = {
      {"tar", {"gnu", "posix", "ustar", "oldgnu"}}, {"bsdtar", {"pax", "ustar", "gnutar"}}};
  for (const auto& [tool, formats] : tools) {
    if (!Shell("command -v " + tool)) continue;
    for (const auto& format : formats) {
      const std::string name = tool + "-" + format + ".tar";
      ASSERT_TRUE(Shell(tool + " --format=" + format + " -cf " + Quote(dir.NewPath(name)) + " -C " + Quote(dir / "src") + " ."));
      archives.push_back(name);
    }
  }
  for (const std::string& name : archives) {
    SCOPED_TRACE(name);
    TDisplayMapsCore other;
    other.OpenFile(dir.NewPath(name));
    std::string got = Content(other);
    const std::string base = name.substr(0, name.size() - 4);
    ASSERT_EQ(got.rfind("Default[" + base + "*]", 0), 0u) << got;
    EXPECT_EQ(got.substr(got.find(']')), expected.substr(expected.find(']')));
    const TMapArea* area = (*(*other.Layouts)[0]->Areas)[0];
    EXPECT_TRUE(area->FileName == "./m.map" || area->FileName == "././m.map") << area->FileName;
  }
}

// An atlas packed from its folder: "./atlas.vka" is at the archive's top level.
TEST_F(OpenTest, AtlasArchiveWithDotSlashNames) {
  MakeMap("root/L1/m/m.map");
  WriteFile(dir.NewPath("root/pack/atlas.vka"), "Atlas 1.0\r\n");
  const std::string archive = dir.NewPath("root/atlas.tar");
  if (Shell("command -v tar")) {
    ASSERT_TRUE(Shell("tar -cf " + Quote(archive) + " -C " + Quote(dir.NewPath("root/pack")) + " ."));
  } else {
    TTarWriter tar(archive);
    AddText(tar, "./atlas.vka", "Atlas 1.0\r\n");
    tar.Finish();
  }
  view.OpenFile(archive);
  EXPECT_EQ(Describe(view), "L1[m*] pack[]");
}

// A hostile archive naming more maps at its top level than any real one is
// refused past the limit, keeping what was opened.
TEST_F(OpenTest, ArchiveWithTooManyMapsIsRefused) {
  for (const int maps : {1024, 1025, 3000}) {
    SCOPED_TRACE(maps);
    const std::string archive = dir.NewPath("maps" + std::to_string(maps) + ".tar");
    {
      TTarWriter tar(archive);
      AddData(tar, "set/t_0_0.bmp", MakeBmp(0, 0, 5, 5));
      for (int i = 0; i < maps; ++i) AddText(tar, "m" + std::to_string(i) + (i % 2 ? ".gmi" : ".map"), "");
      tar.Finish();
    }
    TDisplayMapsCore other;
    if (maps <= 1024) {
      other.OpenFile(archive);
    } else {
      try {
        other.OpenFile(archive);
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(e.what(), archive + " holds more than 1024 maps and atlases at its top level");
      }
    }
    ASSERT_EQ(other.Layouts->Count(), 1);
    EXPECT_EQ((*other.Layouts)[0]->Areas->Count(), 1024);
  }
}

// Every hostile image of the decoders' tests, as a tile in a tar archive, a
// tile in a set folder and a map's image: each path refuses it with an error.
TEST_F(OpenTest, HostileTilesGiveLoadingErrors) {
  const std::string data = std::string(ZOVEVOD_TESTDATA_DIR) + "/";
  int checked = 0;
  for (const char* folder : {"png/malformed", "jpeg/malformed"}) {
    for (const auto& entry : std::filesystem::directory_iterator(data + folder)) {
      const std::string file = entry.path().filename().string();
      SCOPED_TRACE(file);
      const std::string ext = ExtractFileExt(file);
      const Bytes bytes = ReadWholeFile(entry.path());
      const std::string archive = dir.NewPath("t" + std::to_string(checked) + ".tar");
      {
        TTarWriter tar(archive);
        AddText(tar, "./m.map", MapText(""));
        AddData(tar, "./set/m_0_0" + ext, bytes);
        tar.Finish();
      }
      TDisplayMapsCore tarView;
      EXPECT_THROW(tarView.OpenFile(archive), Error);
      const std::string folderMap = dir.NewPath("f" + std::to_string(checked) + "/m.map");
      WriteFile(folderMap, MapText(""));
      WriteFile(dir.NewPath("f" + std::to_string(checked) + "/m.set"), "m_0_0" + ext + "\n");
      WriteBytes(dir.NewPath("f" + std::to_string(checked) + "/set/m_0_0" + ext), bytes);
      TDisplayMapsCore folderView;
      EXPECT_THROW(folderView.OpenFile(folderMap), Error);
      const std::string imageMap = dir.NewPath("i" + std::to_string(checked) + "/m.map");
      WriteFile(imageMap, MapText("m" + ext));
      WriteBytes(dir.NewPath("i" + std::to_string(checked) + "/m" + ext), bytes);
      TDisplayMapsCore imageView;
      EXPECT_THROW(imageView.OpenFile(imageMap), Error);
      ++checked;
    }
  }
  EXPECT_GE(checked, 20);
}

// The maps of one archive load from one walk of it: the tiles they share are
// decoded once and their pixels shared, each image keeping a bitmap of its own.
TEST_F(OpenTest, MapsOfOneArchiveShareTheirTiles) {
  {
    TTarWriter tar(dir / "pack.tar");
    AddText(tar, "a.map", MapText(""));
    AddData(tar, "set/t_0_0.bmp", MakeBmp(0, 0, 5, 5));
    AddData(tar, "set/t_5_0.bmp", MakeBmp(5, 0, 4, 5));
    AddText(tar, "b.map", MapText(""));
    AddText(tar, "c.gmi", "1\n2\n3\n4\n");
    tar.Finish();
  }
  std::vector<std::string> events;
  // A removed area may be gone already: only additions are looked into.
  view.Hooks.OnMapAreasChange = [&](TMapArea* a, TListChange c) {
    events.push_back(c == lcAdded ? "+" + a->Name + " " + std::to_string(a->Images.size()) : "-");
  };
  view.OpenFile(dir / "pack.tar");
  view.Hooks.OnMapAreasChange = nullptr; // events ends before the view
  EXPECT_EQ(events, (std::vector<std::string>{"+pack 0", "+pack 0", "+pack 0"}));
  const TMapAreas& areas = *(*view.Layouts)[0]->Areas;
  ASSERT_EQ(areas.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(areas[i]->Images.size(), 2u);
    EXPECT_EQ(areas[i]->Width, 9);
    EXPECT_EQ(areas[i]->Images[1]->X, 5);
    EXPECT_TRUE(areas[i]->Images[0]->Bitmap.SharesPixels());
    EXPECT_EQ(std::as_const(areas[i]->Images[0]->Bitmap).Row(0), std::as_const(areas[0]->Images[0]->Bitmap).Row(0));
  }
  EXPECT_EQ(areas[1]->FileName, "b.map");
  EXPECT_EQ(areas[2]->FileName, "c.gmi");
  // Writing to one map's tile leaves the others alone.
  areas[1]->Images[0]->Bitmap.SetPixel(0, 0, Rgb{1, 2, 3});
  EXPECT_EQ(areas[1]->Images[0]->Bitmap.Pixel(0, 0), (Rgb{1, 2, 3}));
  EXPECT_EQ(areas[0]->Images[0]->Bitmap.Pixel(0, 0), PictureColour(0, 0));
  EXPECT_EQ(areas[2]->Images[0]->Bitmap.Pixel(0, 0), PictureColour(0, 0));
}

// A damaged header fails the first map that reaches it, as when every map
// read the archive by itself: that map keeps what it loaded before it.
TEST_F(OpenTest, DamagedArchiveFailsTheFirstMapAtTheDamage) {
  const std::string path = dir / "bad.tar";
  {
    TTarWriter tar(path);
    AddText(tar, "a.map", MapText(""));
    AddData(tar, "set/t_0_0.bmp", MakeBmp(0, 0, 5, 5));
    AddText(tar, "b.map", MapText(""));
    AddText(tar, "set/zz_0_0.bmp", "not read");
    tar.Finish();
  }
  {
    // The last entry's size field becomes text that is no number.
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const std::size_t header = bytes.find("set/zz_0_0.bmp");
    ASSERT_NE(header, std::string::npos);
    f.seekp(static_cast<std::streamoff>(header + 124));
    f.write("xyz", 3);
  }
  try {
    view.OpenFile(path);
    FAIL() << "no error";
  } catch (const ETarError& e) {
    EXPECT_NE(std::string(e.what()).find("is not a number"), std::string::npos) << e.what();
  }
  ASSERT_EQ(Describe(view), "Default[bad]");
  const TMapArea* a = (*(*view.Layouts)[0]->Areas)[0];
  EXPECT_EQ(a->FileName, "a.map");
  EXPECT_EQ(a->Images.size(), 1u);
}
