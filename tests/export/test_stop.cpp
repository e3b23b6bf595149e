// Stopping an export between tiles, and the clean-up after a stop or an
// error: whatever is left on disk is whole.

#include "ExportTestUtil.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zvtest;
using zv::TExportOptions;
using zv::TExportProgress;

namespace {

// A view with layouts "A" (maps "One" 60 x 20 and "Two" 30 x 10) and "B"
// (map "Three" 25 x 25); every map shows the pattern.
// A map of the pattern, drawn from pieces x pieces pictures of w x h each.
zv::TMapArea* AddArea(zv::TDisplayMapsCore& core, zv::TMapLayout* layout, const std::string& name, int w, int h,
                      int pieces = 1) {
  auto area = std::make_unique<zv::TMapArea>(&core, layout);
  area->Name = name;
  area->FileName = name + ".map";
  area->Lines = {"cal " + name, "line 2"};
  for (int i = 0; i < pieces * pieces; ++i) {
    auto image = std::make_unique<zv::TMapImage>(&core, area.get());
    image->X = i % pieces * w;
    image->Y = i / pieces * h;
    image->Bitmap = PatternBitmap(w, h, image->X, image->Y);
    area->Images.push_back(std::move(image));
  }
  area->Width = w * pieces;
  area->Height = h * pieces;
  return layout->Areas->Add(std::move(area));
}

struct Model {
  zv::TDisplayMapsCore Core;
  zv::TMapArea* AddArea(zv::TMapLayout* layout, const std::string& name, int w, int h) {
    return ::AddArea(Core, layout, name, w, h);
  }
  Model() {
    zv::TMapLayout* a = Core.Layouts->AddLayout("A");
    One = AddArea(a, "One", 60, 20);
    AddArea(a, "Two", 30, 10);
    AddArea(Core.Layouts->AddLayout("B"), "Three", 25, 25);
  }
  zv::TMapArea* One = nullptr;
};

TExportOptions Options(bool tared, int workers, int format = 0) {
  TExportOptions o;
  o.TileWidthText = "10";
  o.TileHeightText = "10";
  o.Format = format == 1 ? zv::TTileFormat::Png : zv::TTileFormat::Jpeg;
  o.Tared = tared;
  o.Workers = workers;
  return o;
}

void RunExport(bool atlas, const Model& m, const std::string& dir, const TExportOptions& o, const TExportProgress& p) {
  if (atlas)
    zv::ExportAtlas(dir, "atlas", *m.Core.Layouts, o, p);
  else
    zv::ExportSingleMap(dir, m.One, o, p);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "partial line in " << text;
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Everything a stopped run left is a whole file of the complete run.
void ExpectWholeFiles(const TempDir& run, const TempDir& reference) {
  const std::set<std::string> tree = Tree(run.Path());
  const std::set<std::string> full = Tree(reference.Path());
  for (const std::string& f : tree) {
    SCOPED_TRACE(f);
    if (f.back() == '/') continue;
    const std::string data = ReadFile(run / f);
    if (!full.count(f)) {
      // Loose files of a packed run that never got packed.
      EXPECT_EQ(f.find(".tar"), std::string::npos);
      continue;
    }
    const std::string expected = ReadFile(reference / f);
    if (f.size() > 4 && f.compare(f.size() - 4, 4, ".set") == 0) {
      EXPECT_EQ(expected.compare(0, data.size(), data), 0) << "not a prefix of the full list";
      // A tile list beside its tiles names exactly the tiles there.
      const std::string dir = fs::path(run / f).parent_path().string();
      if (fs::is_directory(dir + "/set")) {
        std::set<std::string> tiles;
        for (const auto& e : fs::directory_iterator(dir + "/set")) tiles.insert(e.path().filename().string());
        const std::vector<std::string> listed = Lines(data);
        EXPECT_EQ(tiles, std::set<std::string>(listed.begin(), listed.end()));
      }
    } else if (f.size() > 4 && f.compare(f.size() - 4, 4, ".tar") == 0) {
      const auto got = ReadTar(run / f), want = ReadTar(reference / f);
      ASSERT_EQ(got.size(), want.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].Name, want[i].Name);
        EXPECT_EQ(got[i].Data, want[i].Data);
      }
    } else {
      EXPECT_EQ(data, expected);
    }
  }
}

// A map that was packed before the run ended has its archive and nothing of
// its tile folder: tiles removed after packing are gone, not left emptied.
void ExpectPackedMapsWithoutTiles(const TempDir& run) {
  for (const std::string& f : Tree(run.Path())) {
    const fs::path path(f);
    if (path.extension() != ".tar" || !path.has_parent_path()) continue;
    SCOPED_TRACE(f);
    EXPECT_FALSE(fs::exists(run / (path.parent_path() / "set").string()));
  }
}

// An archive of whole entries with valid headers, ending in its end block.
bool TarIsWhole(const std::string& tar) {
  for (std::size_t pos = 0; pos + 512 <= tar.size();) {
    const auto* h = reinterpret_cast<const unsigned char*>(tar.data() + pos);
    if (std::all_of(h, h + 512, [](unsigned char c) { return c == 0; })) return pos + 512 == tar.size();
    unsigned sum = 0;
    for (int i = 0; i < 512; ++i) sum += i >= 148 && i < 156 ? ' ' : h[i];
    if (std::strtoul(tar.substr(pos + 148, 8).c_str(), nullptr, 8) != sum) return false;
    const std::size_t size = std::strtoull(tar.substr(pos + 124, 12).c_str(), nullptr, 8);
    pos += 512 + (h[156] == '5' ? 0 : (size + 511) / 512 * 512);
  }
  return false;
}

// What a stop may leave: archives whole; a tile list only in whole lines
// naming tiles that are there; a calibration copy only beside its list;
// tiles whole; no empty or temporary file. Returns the archives.
std::set<std::string> ExpectConsistentFolder(const TempDir& dir) {
  std::set<std::string> archives;
  for (const std::string& f : Tree(dir.Path())) {
    if (f.back() == '/') continue;
    SCOPED_TRACE(f);
    const fs::path path(f);
    const fs::path folder = fs::path(dir.Path()) / path.parent_path();
    const std::string data = ReadFile(dir / f);
    EXPECT_NE(path.filename().string()[0], '.') << "a temporary file is left";
    EXPECT_FALSE(data.empty());
    if (path.extension() == ".tar") {
      EXPECT_TRUE(TarIsWhole(data));
      archives.insert(f);
    } else if (path.extension() == ".set") {
      for (const std::string& tile : Lines(data)) EXPECT_TRUE(fs::is_regular_file(folder / "set" / tile)) << tile;
    } else if (path.extension() == ".map") {
      EXPECT_TRUE(fs::exists(folder / path.stem().concat(".set"))) << "a calibration copy without its tiles";
    } else if (path.parent_path().filename() == "set") {
      EXPECT_TRUE(data.ends_with("\xFF\xD9") || data.ends_with(std::string("IEND\xAE\x42\x60\x82", 8)));
    }
  }
  return archives;
}

std::string ExpectStopped(const std::function<void()>& f) {
  try {
    f();
  } catch (const zv::EExportStopped& e) {
    return e.what();
  }
  return {};
}

} // namespace

TEST(ExportStop, EveryStopPointLeavesWholeFiles) {
  const Model m;
  for (bool atlas : {false, true}) {
    for (bool tared : {false, true}) {
      for (int workers : {1, 3}) {
        SCOPED_TRACE(testing::Message() << "atlas " << atlas << " tared " << tared << " workers " << workers);
        const TExportOptions o = Options(tared, workers);
        TempDir reference;
        RunExport(atlas, m, reference.Path(), o, {});
        bool completed = false;
        int stops = 0;
        for (int stopAt = 1; !completed && stopAt < 200; ++stopAt) {
          SCOPED_TRACE(stopAt);
          TempDir dir;
          int asked = 0, tiles = 0;
          TExportProgress p;
          p.ProcessMessages = [&] { ++tiles; };
          p.StopRequested = [&] { return ++asked == stopAt; };
          const std::string message = ExpectStopped([&] {
            RunExport(atlas, m, dir.Path(), o, p);
            completed = true;
          });
          if (!completed) {
            ++stops;
            EXPECT_EQ(message, "Export stopped.");
            EXPECT_EQ(asked, stopAt) << "the run went on after the stop";
          }
          if (stopAt == 1) {
            EXPECT_TRUE(Tree(dir.Path()).empty()) << "stopped before anything";
          }
          if (!atlas && !tared && !completed && stopAt > 1) {
            EXPECT_EQ(Lines(ReadFile(dir / "One.set")).size(), static_cast<std::size_t>(stopAt - 1));
          }
          ExpectWholeFiles(dir, reference);
          ExpectConsistentFolder(dir);
          if (tared) ExpectPackedMapsWithoutTiles(dir);
          if (completed) {
            EXPECT_EQ(Tree(dir.Path()), Tree(reference.Path()));
          }
        }
        EXPECT_TRUE(completed);
        // Single map: start, 12 tiles; packing adds one question per archive entry.
        if (!atlas) {
          EXPECT_EQ(stops, tared ? 1 + 12 + 14 : 1 + 12);
        }
      }
    }
  }
}

TEST(ExportStop, ZoomOutLayersStopCleanly) {
  const Model m;
  for (const auto& [tared, workers] : {std::pair{false, 1}, std::pair{true, 3}}) {
    SCOPED_TRACE(testing::Message() << "tared " << tared << " workers " << workers);
    TExportOptions o = Options(tared, workers, 1);
    o.ZoomOutLayers = 2;
    TempDir reference;
    RunExport(true, m, reference.Path(), o, {});
    ASSERT_TRUE(fs::exists(reference / (tared ? "A 25%/One/One.tar" : "A 25%/One/set/One_10_0.png")));
    bool completed = false;
    for (int stopAt = 1; !completed && stopAt < 400; ++stopAt) {
      SCOPED_TRACE(stopAt);
      TempDir dir;
      int asked = 0;
      TExportProgress p;
      p.StopRequested = [&] { return ++asked == stopAt; };
      ExpectStopped([&] {
        RunExport(true, m, dir.Path(), o, p);
        completed = true;
      });
      if (!completed) {
        EXPECT_EQ(asked, stopAt) << "the run went on after the stop";
      }
      ExpectWholeFiles(dir, reference);
      if (tared) ExpectPackedMapsWithoutTiles(dir);
      if (completed) {
        EXPECT_EQ(Tree(dir.Path()), Tree(reference.Path()));
      }
    }
    EXPECT_TRUE(completed);
  }
}

// Two maps of one name share a folder; one is a tile set of four pictures.
// Stopped at each of its stop questions in turn, the atlas leaves a folder
// that reads consistently, and an archive once there stays.
TEST(ExportStop, EveryStopPointLeavesAConsistentFolder) {
  zv::TDisplayMapsCore core;
  zv::TMapLayout* a = core.Layouts->AddLayout("A");
  AddArea(core, a, "One", 60, 20);
  AddArea(core, a, "Tiled", 20, 15, 2);
  AddArea(core, a, "One", 30, 10);
  AddArea(core, core.Layouts->AddLayout("B"), "Three", 25, 25);
  for (const auto& [tared, workers] : {std::pair{true, 3}, std::pair{false, 1}}) {
    SCOPED_TRACE(testing::Message() << "tared " << tared << " workers " << workers);
    TExportOptions o = Options(tared, workers);
    o.ZoomOutLayers = 1;
    TempDir reference;
    zv::ExportAtlas(reference.Path(), "atlas", *core.Layouts, o, {});
    bool completed = false;
    std::set<std::string> archives;
    int stopAt = 1;
    for (; !completed && stopAt < 1000; ++stopAt) {
      SCOPED_TRACE(stopAt);
      TempDir dir;
      int asked = 0;
      TExportProgress p;
      p.StopRequested = [&] { return ++asked == stopAt; };
      ExpectStopped([&] {
        zv::ExportAtlas(dir.Path(), "atlas", *core.Layouts, o, p);
        completed = true;
      });
      const std::set<std::string> now = ExpectConsistentFolder(dir);
      EXPECT_TRUE(std::includes(now.begin(), now.end(), archives.begin(), archives.end())) << "an archive went";
      archives = now;
      if (completed) {
        EXPECT_EQ(Tree(dir.Path()), Tree(reference.Path()));
      }
    }
    EXPECT_TRUE(completed);
    // The start, each map's start and each of its 49 tiles, and with TAR-ed
    // each entry of the maps' archives (65) and of the atlas archive (37).
    EXPECT_EQ(stopAt - 2, tared ? 160 : 58);
  }
}

namespace {

// Runs f in a child process whose files may grow to limit bytes at most;
// true when f raised an error there.
bool FailsWithFileSizeLimit(rlim_t limit, const std::function<void()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN); // writes past the limit fail with EFBIG instead
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    try {
      f();
    } catch (const zv::Error&) {
      ::_exit(0);
    }
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(ExportStop, AFileCutShortByAnErrorIsRemoved) {
  const Model m;
  for (int workers : {1, 3}) {
    SCOPED_TRACE(workers);
    {
      // A JPEG tile's headers alone outgrow the limit, the calibration copy
      // does not.
      TempDir dir;
      const TExportOptions o = Options(false, workers);
      ASSERT_TRUE(FailsWithFileSizeLimit(200, [&] { zv::ExportSingleMap(dir.Path(), m.One, o, {}); }));
      EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"One.map", "One.set", "set/"}));
      EXPECT_EQ(ReadFile(dir / "One.set"), "");
    }
    {
      // The tiles fit, the archive does not: no archive is left, the loose
      // files are.
      TempDir dir;
      TempDir reference;
      const TExportOptions o = Options(true, workers);
      zv::ExportSingleMap(reference.Path(), m.One, Options(false, workers), {});
      ASSERT_TRUE(FailsWithFileSizeLimit(8000, [&] { zv::ExportSingleMap(dir.Path(), m.One, o, {}); }));
      EXPECT_EQ(Tree(dir.Path()), Tree(reference.Path()));
      ExpectWholeFiles(dir, reference);
    }
  }
}

// The archive is written under another name first: an error still names the
// archive, and nothing of it is left.
TEST(ExportStop, AnArchiveThatCannotTakeItsNameLeavesNothing) {
  const Model m;
  TempDir dir;
  fs::create_directories(dir / "One.tar/in the way");
  try {
    zv::ExportSingleMap(dir.Path(), m.One, Options(true, 1), {});
    ADD_FAILURE() << "no error raised";
  } catch (const zv::Error& e) {
    EXPECT_EQ(std::string(e.what()), zv::msg::CannotCreateFile(dir / "One.tar"));
  }
  ExpectConsistentFolder(dir);
  EXPECT_EQ(Lines(ReadFile(dir / "One.set")).size(), 12u);
}
