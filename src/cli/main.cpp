// zovevod-export: opens maps, tile sets, atlases and tar archives as the
// program's File > Add... does, then exports them as the export dialog does.

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "base/StopSignals.h"
#include "base/Version.h"
#include "cli/Check.h"
#include "cli/CommandLine.h"
#include "cli/ModelJson.h"
#include "cli/SheetCalibrate.h"
#include "export/ExportToAmbulo.h"
#include "export/ExportToMapApps.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <algorithm>
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
    std::fprintf(stderr, "\r%s", zv::msg::TileProgress(name_, bar, done_, total_).c_str());
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
  std::printf("%s\n", zv::msg::CheckSummary(problems.size(), files.size()).c_str());
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
      std::fprintf(stderr, "%s\n",
                   zv::msg::LargeArchiveWarning(it->path().string(), static_cast<double>(size) / (1u << 30)).c_str());
  }
}

// The map-app file's options from the ones it shares with the Ambulo export.
zv::TMapAppOptions MapAppOptions(const TCommandLine& cl) {
  zv::TMapAppOptions o = cl.MapAppOptions;
  o.Replace = cl.Reload;
  o.Encoding.Format = cl.Options.Format;
  std::int32_t quality = 85;
  if (zv::ParseIntegerText(cl.Options.QualityText, quality)) o.Encoding.Quality = std::clamp(quality, 1, 100);
  // The last depth row is 24-bit true colour; the others allow a palette.
  o.Encoding.PngPalette = cl.Options.DepthRow != 7;
  return o;
}

void ExportToMapApp(const TCommandLine& cl, zv::TDisplayMapsCore& core, const zv::TExportProgress& progress) {
  const std::vector<const zv::TMapArea*> areas = zv::MapAppAreas(*core.Layouts, nullptr, true);
  const std::string note = zv::ExportToMapApps(areas, MapAppOptions(cl), progress);
  if (!note.empty()) std::fprintf(stderr, "%s\n", note.c_str());
}

int Run(const TCommandLine& cl) {
  if (cl.Check) return RunCheck(cl);
  if (cl.Calibrating()) return zv::RunSheetCalibration(cl);
  int status = 0;
  zv::TDisplayMapsCore core;
  core.Question = [&cl](const std::string&) { return cl.Reload; };

  for (const std::string& given : cl.Files) {
    if (zv::StopSignalled()) throw zv::EExportStopped();
    // The program's open dialog hands over full paths.
    const std::string file = AbsolutePath(given);
    try {
      core.OpenNamedFile(file);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", zv::msg::LoadingError(zv::ExtractFileName(file), e.what()).c_str());
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
  progress.StopRequested = [] { return zv::StopSignalled(); };
  if (!cl.Quiet && ::isatty(STDERR_FILENO)) {
    progress.MapStarted = [&bar](const std::string& name, std::int64_t tiles) { bar.MapStarted(name, tiles); };
    progress.ProcessMessages = [&bar] { bar.TileDone(); };
  }
  try {
    if (zv::StopSignalled()) throw zv::EExportStopped();
    if (cl.MapApp) {
      ExportToMapApp(cl, core, progress);
      bar.EndLine();
      return status;
    }
    // Refusals come before the target directory is made.
    if (cl.Single)
      zv::CheckSingleMapExport(core.ActiveMapArea(), cl.Options);
    else
      zv::CheckAtlasExport(cl.AtlasName, *core.Layouts, cl.Options);
    zv::CreateTargetDirectory(cl.Output);
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
    std::fputs(zv::msg::UsageErrorHint(kProgram, e.Message).c_str(), stderr);
    return 2;
  }
  if (cl.Help) {
    std::fputs(zv::msg::Usage, stdout);
    std::fputs(zv::msg::MapAppUsage, stdout);
    std::fputs(zv::msg::SheetUsage, stdout);
    return 0;
  }
  if (cl.Version) {
    std::printf("%s %s\n", kProgram, ZOVEVOD_VERSION);
    return 0;
  }
  zv::InstallStopSignals();
  try {
    return Run(cl);
  } catch (const std::exception& e) {
    // Anything that escapes the per-file and export handlers.
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
