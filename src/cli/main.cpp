// zovevod-export: opens maps, tile sets, atlases and tar archives as the
// program's File > Add... does, then exports them as the export dialog does.

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Paths.h"
#include "base/Version.h"
#include "cli/Check.h"
#include "cli/CommandLine.h"
#include "cli/ModelJson.h"
#include "export/ExportToAmbulo.h"
#include "model/CalibrationText.h"
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

#include <csignal>

#include <signal.h>
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
    "  --check                export nothing; print every problem found in the maps'\n"
    "                         calibration (and, for atlases, their tiles), one a line\n"
    "  -q, --quiet            no progress bar\n"
    "  -h, --help, --version\n"
    "\n"
    "Colour depth rows: 0 1-bit grayscale, 1 4-bit grayscale, 2 8-bit grayscale,\n"
    "3 2-bit color, 4 4-bit color, 5 6-bit color, 6 8-bit color, 7 24-bit truecolor.\n"
    "Exit status: 0 success, 1 a file failed to load or the export failed (--check:\n"
    "a problem was found), 2 usage error.\n"
    "The first Ctrl-C (or SIGTERM) stops the export after the tile being written,\n"
    "leaving every file written so far whole; a second one ends the program at once.\n";

// Set by the first SIGINT or SIGTERM; the export polls it between tiles.
volatile std::sig_atomic_t stopSignalled = 0;

void OnStopSignal(int) {
  stopSignalled = 1;
  // A second signal takes the default action and ends the process at once.
  struct sigaction dflt {};
  dflt.sa_handler = SIG_DFL;
  sigemptyset(&dflt.sa_mask);
  ::sigaction(SIGINT, &dflt, nullptr);
  ::sigaction(SIGTERM, &dflt, nullptr);
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: the stop takes effect between tiles.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

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

std::string AbsolutePath(const std::string& given) {
  std::error_code ec;
  std::string file = std::filesystem::absolute(given, ec).lexically_normal().string();
  return ec || file.empty() ? given : file;
}

int RunCheck(const TCommandLine& cl) {
  std::vector<std::string> files;
  for (const std::string& given : cl.Files) files.push_back(AbsolutePath(given));
  const std::vector<zv::TCheckProblem> problems = zv::CheckFiles(files);
  for (const zv::TCheckProblem& p : problems)
    std::printf("%s: %s%s%s\n", p.File.c_str(), p.Map.c_str(), p.Map.empty() ? "" : ": ", p.Message.c_str());
  std::printf("%zu problem%s found in %zu file%s.\n", problems.size(), problems.size() == 1 ? "" : "s",
              files.size(), files.size() == 1 ? "" : "s");
  return std::fflush(stdout) == 0 && problems.empty() ? 0 : 1;
}

// Memory cards of phones and handhelds are often FAT32, which holds no file
// of 4 GiB or more.
void WarnOfLargeArchives(const std::string& output) {
  constexpr std::uintmax_t kFat32Limit = std::uintmax_t{4} << 30;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(output, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (zv::UpperFileExt(it->path().string()) != ".TAR" || !it->is_regular_file(ec)) continue;
    const std::uintmax_t size = it->file_size(ec);
    if (!ec && size >= kFat32Limit)
      std::fprintf(stderr, "Warning: %s is %.2f GiB: a FAT32 memory card holds no file of 4 GiB or more.\n",
                   it->path().c_str(), static_cast<double>(size) / (1u << 30));
  }
}

int Run(const TCommandLine& cl) {
  if (cl.Check) return RunCheck(cl);
  int status = 0;
  zv::TDisplayMapsCore core;
  core.Question = [&cl](const std::string&) { return cl.Reload; };

  for (const std::string& given : cl.Files) {
    if (stopSignalled) throw zv::EExportStopped();
    // The program's open dialog hands over full paths.
    const std::string file = AbsolutePath(given);
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
  progress.StopRequested = [] { return stopSignalled != 0; };
  if (!cl.Quiet && ::isatty(STDERR_FILENO)) {
    progress.MapStarted = [&bar](const std::string& name, std::int64_t tiles) { bar.MapStarted(name, tiles); };
    progress.ProcessMessages = [&bar] { bar.TileDone(); };
  }
  try {
    if (stopSignalled) throw zv::EExportStopped();
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
    if (cl.Options.Tared) WarnOfLargeArchives(cl.Output);
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
  InstallStopHandlers();
  try {
    return Run(cl);
  } catch (const std::exception& e) {
    // Anything that escapes the per-file and export handlers.
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
