// zovevod-export: opens maps, tile sets, atlases and tar archives as the
// program's File > Add... does, then exports them as the export dialog does.

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Paths.h"
#include "base/Version.h"
#include "cli/CommandLine.h"
#include "cli/ModelJson.h"
#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char* kProgram = "zovevod-export";

constexpr const char* kUsage =
    "Usage: zovevod-export [options] FILE...\n"
    "Opens the files in order and exports them as tiled maps for Ambulo.\n"
    "\n"
    "  -o, --output DIR       target directory, created when missing (required unless --list)\n"
    "  --single               export only the shown map (\"Single map\"); default: whole atlas\n"
    "  --atlas-name NAME      default \"myatlas\"\n"
    "  --tile WxH             default 400x400 (--tile-width N / --tile-height N also work)\n"
    "  --format jpeg|png      default jpeg\n"
    "  --quality N            default 85\n"
    "  --depth ROW            PNG colour depth row 0..7, default 6\n"
    "  --tar                  TAR-ed\n"
    "  --reload               answer Yes to \"already exists\" questions (default No)\n"
    "  --list                 export nothing; print the opened model as JSON on stdout\n"
    "  -q, --quiet            no progress bar\n"
    "  -h, --help, --version\n"
    "\n"
    "Colour depth rows: 0 1-bit grayscale, 1 4-bit grayscale, 2 8-bit grayscale,\n"
    "3 2-bit color, 4 4-bit color, 5 6-bit color, 6 8-bit color, 7 24-bit truecolor.\n"
    "Exit status: 0 success, 1 a file failed to load or the export failed, 2 usage error.\n";

using zv::ParseCommandLine;
using zv::TCommandLine;
using zv::TUsageError;

// The progress bar: map name and tiles done of total, redrawn in place.
class TProgressBar {
public:
  void MapStarted(const std::string& name, std::int64_t tiles) {
    EndLine();
    name_ = name;
    done_ = 0;
    total_ = tiles;
    active_ = true;
    Draw();
  }
  void TileDone() {
    ++done_;
    // Redrawn at most every 50 ms, and always for the last tile.
    const auto now = std::chrono::steady_clock::now();
    if (done_ < total_ && now - drawn_ < std::chrono::milliseconds(50)) return;
    Draw();
  }
  void EndLine() {
    if (active_) std::fputc('\n', stderr);
    active_ = false;
  }

private:
  void Draw() {
    drawn_ = std::chrono::steady_clock::now();
    constexpr int kWidth = 30;
    const int filled = total_ > 0 ? static_cast<int>(done_ * kWidth / total_) : kWidth;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, ' ');
    std::fprintf(stderr, "\r%s [%s] %lld/%lld tiles", name_.c_str(), bar.c_str(), static_cast<long long>(done_),
                 static_cast<long long>(total_));
    std::fflush(stderr);
  }

  std::string name_;
  std::int64_t done_ = 0;
  std::int64_t total_ = 0;
  bool active_ = false;
  std::chrono::steady_clock::time_point drawn_;
};

int Run(const TCommandLine& cl) {
  int status = 0;
  zv::TDisplayMapsCore core;
  core.Question = [&cl](const std::string&) { return cl.Reload; };

  for (const std::string& given : cl.Files) {
    // The program's open dialog hands over full paths.
    std::error_code ec;
    std::string file = std::filesystem::absolute(given, ec).lexically_normal().string();
    if (ec || file.empty()) file = given;
    try {
      // The program's file dialog offers existing files only; here a missing
      // one is reported like any other loading failure.
      if (!zv::FileExists(file)) zv::ThrowCannotOpen(file);
      core.OpenFile(file);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Loading error (%s) !\n%s\n", zv::ExtractFileName(file).c_str(), e.what());
      status = 1;
    }
  }

  if (cl.List) {
    std::fputs(zv::ModelToJson(core).c_str(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? status : 1;
  }

  TProgressBar bar;
  zv::TExportProgress progress;
  if (!cl.Quiet && ::isatty(STDERR_FILENO)) {
    progress.MapStarted = [&bar](const std::string& name, std::int64_t tiles) { bar.MapStarted(name, tiles); };
    progress.ProcessMessages = [&bar] { bar.TileDone(); };
  }
  try {
    // Refusals come before the target directory is made.
    if (cl.Single)
      zv::CheckSingleMapExport(core.ActiveMapArea(), cl.Options);
    else
      zv::CheckAtlasExport(cl.AtlasName, *core.Layouts, cl.Options);
    std::error_code ec;
    if (!std::filesystem::is_directory(cl.Output, ec)) {
      std::filesystem::create_directories(cl.Output, ec);
      if (ec || !std::filesystem::is_directory(cl.Output))
        throw zv::EFileError("Cannot create the target directory " + cl.Output +
                             (ec ? ": " + ec.message() : std::string()));
    }
    if (cl.Single)
      zv::ExportSingleMap(cl.Output, core.ActiveMapArea(), cl.Options, progress);
    else
      zv::ExportAtlas(cl.Output, cl.AtlasName, *core.Layouts, cl.Options, progress);
    bar.EndLine();
  } catch (const std::exception& e) {
    bar.EndLine();
    std::fprintf(stderr, "%s\n", e.what());
    status = 1;
  }
  return status;
}

} // namespace

int main(int argc, char** argv) {
  zv::InitDecimalSeparatorFromLocale();
  TCommandLine cl;
  try {
    cl = ParseCommandLine(argc, argv);
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, e.Message.c_str(), kProgram);
    return 2;
  }
  if (cl.Help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (cl.Version) {
    std::printf("%s %s\n", kProgram, ZOVEVOD_VERSION);
    return 0;
  }
  try {
    return Run(cl);
  } catch (const std::exception& e) {
    // Anything that escapes the per-file and export handlers.
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
