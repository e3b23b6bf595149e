// Stopping an export between tiles, and the clean-up after a stop or an
// error: whatever is left on disk is whole.

#include "ExportTestUtil.h"

#include "base/Errors.h"
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
struct Model {
  zv::TDisplayMapsCore Core;
  zv::TMapArea* AddArea(zv::TMapLayout* layout, const std::string& name, int w, int h) {
    auto area = std::make_unique<zv::TMapArea>(&Core, layout);
    area->Name = name;
    area->FileName = name + ".map";
    area->Lines = {"cal " + name, "line 2"};
    auto image = std::make_unique<zv::TMapImage>(&Core, area.get());
    image->Bitmap = PatternBitmap(w, h);
    area->Width = w;
    area->Height = h;
    area->Images.push_back(std::move(image));
    return layout->Areas->Add(std::move(area));
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
  o.FormatRow = format;
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
