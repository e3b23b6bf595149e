#include "export/ExportToAmbulo.h"

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Integers.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"
#include "codecs/Jpeg.h"
#include "codecs/Reduce.h"
#include "export/ZoomOut.h"
#include "model/CalibrationText.h"
#include "model/MapModel.h"
#include "tar/TarWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <sched.h>
#endif

namespace zv {

const TColorDepthRow ColorDepthRows[8] = {
    {"1-bit grayscale", TPngColorType::Gray, 1},
    {"4-bit grayscale", TPngColorType::Gray, 4},
    {"8-bit grayscale", TPngColorType::Gray, 8},
    {"2-bit color (4 colors)", TPngColorType::Palette, 2},
    {"4-bit color (16 colors)", TPngColorType::Palette, 4},
    // The PNG encoder writes a 64-entry palette image for this request.
    {"6-bit color (64 colors)", TPngColorType::Palette, 6},
    {"8-bit color (256 colors)", TPngColorType::Palette, 8},
    // The PNG encoder stores this request with 8 bits per sample.
    {"24-bit truecolor", TPngColorType::Rgb, 16},
};

bool ParseIntegerText(const std::string& text, std::int32_t& value) {
  // Blanks, sign and hexadecimal prefix are what option texts add to the
  // calibration integers (base/Integers.h).
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  return ParseInt32Digits(std::string_view(text).substr(i), base, negative, value);
}

std::string ExportMapName(const TMapArea& area) { return ExtractFileName(area.Name); }

EExportStopped::EExportStopped() : Error(msg::ExportStopped) {}

namespace {

constexpr const char* kNewLine = "\r\n";

void Report(const std::function<void(std::int64_t)>& f, std::int64_t v) {
  if (f) f(v);
}

void CheckStop(const TExportProgress& progress) {
  if (progress.StopRequested && progress.StopRequested()) throw EExportStopped();
}

// Removes a file this run created or truncated and could not finish, so that
// no half-written file is left behind. Only regular files go: a name that
// leads to a device or through a link is not ours to remove.
void RemovePartialFile(const std::string& fileName) {
  struct stat st {};
  if (::lstat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(fileName.c_str());
}

// Writes a tile's encoded bytes as its file in one go. A file that could not
// be written whole is removed.
void WriteTileFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes) {
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ThrowCannotCreate(fileName);
  bool whole = true;
  for (std::size_t done = 0; whole && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n == 0 || errno != EINTR)
      whole = false;
  }
  if (::close(fd) != 0) whole = false;
  if (!whole) {
    RemovePartialFile(fileName);
    ThrowCannotCreate(fileName);
  }
}

[[noreturn]] void ThrowWriteError(const std::string& fileName) {
  throw EFileError(msg::ErrorWritingFile(fileName, std::strerror(errno)));
}

// A text file that the export writes line by line. Every failure is reported
// with the file's name; the file is closed on every path. A file whose own
// write or close failed is removed, so that no file ends in a partial line;
// one left by another failure (a tile that cannot be written) keeps its
// whole lines.
class TTextWriter {
public:
  explicit TTextWriter(const std::string& fileName) : fileName_(fileName) {
    file_ = std::fopen(fileName.c_str(), "wb");
    if (!file_) ThrowCannotCreate(fileName);
  }
  ~TTextWriter() {
    if (!file_) return;
    const bool failed = failed_ || std::ferror(file_) != 0;
    if (std::fclose(file_) != 0 || failed) RemovePartialFile(fileName_);
  }
  TTextWriter(const TTextWriter&) = delete;
  TTextWriter& operator=(const TTextWriter&) = delete;

  void WriteLine(const std::string& line) {
    if ((!line.empty() && std::fwrite(line.data(), 1, line.size(), file_) != line.size()) ||
        std::fwrite(kNewLine, 1, 2, file_) != 2) {
      failed_ = true;
      ThrowWriteError(fileName_);
    }
  }
  void Close() {
    std::FILE* f = file_;
    file_ = nullptr;
    const bool failed = failed_ || std::ferror(f) != 0;
    if (std::fclose(f) != 0 || failed) {
      const int err = errno;
      RemovePartialFile(fileName_);
      errno = err;
      ThrowWriteError(fileName_);
    }
  }

private:
  std::string fileName_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

// A new, empty file beside fileName under a hidden name of its own; raises
// the "cannot create" error for fileName when there is none to be had.
std::string CreateTemporaryBeside(const std::string& fileName) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = ExtractFilePath(fileName) + "." + ExtractFileName(fileName) + "." + std::to_string(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = stem + "." + std::to_string(counter++);
    // Read and write for all, so that the user's umask applies as to any new file.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return temp;
    }
    if (errno != EEXIST) break;
  }
  ThrowCannotCreate(fileName);
}

// Writes a tar archive through fill. It is written under a hidden name and
// takes its own only once whole, so that whatever ends the run, an archive is
// there whole or not at all, and one it replaces (a same-named map's before
// it) stays until then.
template <class Fill> void WriteArchive(const std::string& fileName, Fill&& fill) {
  const std::string temp = CreateTemporaryBeside(fileName);
  std::optional<TTarWriter> tar;
  try {
    tar.emplace(temp, fileName);
    fill(*tar);
    tar->Finish();
    tar.reset();
    if (std::rename(temp.c_str(), fileName.c_str()) != 0) ThrowCannotCreate(fileName);
  } catch (...) {
    tar.reset();
    RemovePartialFile(temp);
    throw;
  }
}

struct TTileSize {
  std::int32_t Width;
  std::int32_t Height;
};

TTileSize CheckOptions(const TExportOptions& options) {
  TTileSize size{0, 0};
  if (!ParseIntegerText(options.TileWidthText, size.Width) || size.Width < 1) throw Error(msg::TileWidthInvalid);
  if (!ParseIntegerText(options.TileHeightText, size.Height) || size.Height < 1) throw Error(msg::TileHeightInvalid);
  if (options.FormatRow != 0 && options.FormatRow != 1) throw Error(msg::UnknownTileFormat(options.FormatRow));
  if (options.ZoomOutLayers < 0 || options.ZoomOutLayers > kMaxZoomOutLayers)
    throw Error(msg::ZoomOutLayersInvalid(options.ZoomOutLayers));
  if (options.FormatRow == 1 && (options.DepthRow < 0 || options.DepthRow > 7))
    throw Error(msg::UnknownColorDepth(options.DepthRow));
  return size;
}

// A name used as one directory or file name component must stay inside the
// directory it is joined to.
bool NameLeavesDirectory(const std::string& name) {
  return name == "." || name == ".." || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
}

void CheckMapName(const std::string& name) {
  if (NameLeavesDirectory(name)) throw Error(msg::MapNameNotAllowed(name));
}

void CheckLayoutName(const std::string& name) {
  // An empty layout name would make archive entries start with "/".
  if (name.empty() || NameLeavesDirectory(name)) throw Error(msg::LayoutNameNotAllowed(name));
}

void CheckAtlasName(const std::string& name) {
  if (NameLeavesDirectory(name)) throw Error(msg::AtlasNameNotAllowed(name));
}

std::string CheckedDirectory(const std::string& directory) {
  if (directory.empty()) throw Error(msg::EnterTargetDirectory);
  return IncludeTrailingPathDelimiter(directory);
}

// The run's atlas entries with a membership test ignoring ASCII letter case,
// for the files kept after packing. The upper-cased set follows the list as
// it grows, so an atlas of many maps does not rebuild it for every map.
class TAtlasEntries {
public:
  explicit TAtlasEntries(std::vector<std::string>& list) : List(list) {}
  std::vector<std::string>& List;

  bool Contains(const std::string& name) {
    for (; synced_ < List.size(); ++synced_) upper_.insert(UpperCaseAscii(List[synced_]));
    return upper_.count(UpperCaseAscii(name)) != 0;
  }

private:
  std::unordered_set<std::string> upper_;
  std::size_t synced_ = 0;
};

std::string ArchiveName(const std::string& relativeName) { return ReplaceAll(relativeName, "\\", "/"); }

// The current local date and time, as the atlas archive's directory entries
// carry it.
TDateTime LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return UnixToDateTime(static_cast<std::int64_t>(now) + local.tm_gmtoff);
}

std::int64_t TileCount(std::int64_t extent, std::int64_t tile) { return extent <= 0 ? 0 : (extent + tile - 1) / tile; }

// One tile to write: its rectangle, names and the progress position after it.
struct TTileJob {
  std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  std::string Name;
  std::string Path;
  std::int64_t Position = 0;
  bool Done = false;
  bool Written = false;
  std::exception_ptr Error;
};

// The picture a tile set is cut from: the area's own, or for a zoom-out layer
// the area's reduced Level times. A reduced picture is never held whole: each
// tile is reduced from the part of the area's picture it covers.
struct TTileSource {
  const TMapArea& Area;
  int Level = 0;
  // What a fresh tile holds where no image of the area covers it, so that a
  // reduced tile shows the same there as a full-size one: white in a JPEG
  // tile, value 0 in a PNG tile.
  Rgb Background{255, 255, 255};

  std::int64_t Width() const { return ReducedSide(Area.Width, Level); }
  std::int64_t Height() const { return ReducedSide(Area.Height, Level); }

  // The area's one picture when it is the whole area: a reduction then reads
  // its rows where they are, in their own format.
  const Bitmap* WholePicture() const {
    if (Area.Images.size() != 1) return nullptr;
    const TMapImage& image = *Area.Images.front();
    const bool whole = image.X == 0 && image.Y == 0 && image.Bitmap.Width() == Area.Width &&
                       image.Bitmap.Height() == Area.Height;
    return whole ? &image.Bitmap : nullptr;
  }

  // Paints a 24-bit tile of exactly the rectangle's size. A reduced tile
  // covers every pixel of it, so only a full-size one is filled first; that
  // of a one-picture map is reduced straight into it.
  void PaintTile(Bitmap& tile, std::int32_t left, std::int32_t top) const {
    if (Level > 0) {
      if (const Bitmap* picture = WholePicture()) {
        ReduceRegionInto(*picture, Level, left, top, tile.Width(), tile.Height(), tile);
        return;
      }
    } else {
      tile.Fill(Rgb{255, 255, 255}); // a fresh tile bitmap is white
    }
    BitmapCanvas canvas(tile);
    Paint(canvas, left, top, tile.Width(), tile.Height());
  }

  void Paint(TCanvas& canvas, std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) const {
    if (Level == 0) {
      Area.PaintRegion(canvas, left, top, width, height);
      return;
    }
    if (const Bitmap* picture = WholePicture()) {
      const Bitmap reduced = ReduceRegion(*picture, Level, left, top, width, height);
      canvas.CopyRect(0, 0, reduced, 0, 0, reduced.Width(), reduced.Height());
      return;
    }
    // Otherwise the area's images composed as the full-size tiles compose them.
    const PictureSource source = [this](int x, int y, int w, int h, Bitmap& out) {
      out.Fill(Background);
      BitmapCanvas band(out);
      Area.PaintRegion(band, x, y, w, h);
    };
    const Bitmap reduced = ReduceRegion(source, Area.Width, Area.Height, Level, left, top, width, height);
    canvas.CopyRect(0, 0, reduced, 0, 0, reduced.Width(), reduced.Height());
  }
};

unsigned WorkerCount(const TExportOptions& options) {
  if (options.Workers > 0) return static_cast<unsigned>(std::min(options.Workers, 64));
  unsigned processors = std::thread::hardware_concurrency();
#ifdef __linux__
  // The processors this process may run on, which a container may limit.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) processors = static_cast<unsigned>(CPU_COUNT(&set));
#endif
  return std::clamp(processors, 1u, 8u);
}

// Paints and encodes tiles, on worker threads when there is more than one
// worker. Each worker holds one tile at a time.
class TTileWriter {
public:
  TTileWriter(const TTileSource& source, bool png, const TColorDepthRow& depth, std::uint8_t quality, unsigned workers)
      : source_(source), png_(png), depth_(depth), quality_(quality) {
    if (workers > 1)
      for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~TTileWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      todo_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  TTileWriter(const TTileWriter&) = delete;
  TTileWriter& operator=(const TTileWriter&) = delete;

  // How many jobs may be started and not yet finished.
  std::size_t Window() const { return threads_.empty() ? 1 : 2 * threads_.size(); }

  void Start(TTileJob& job) {
    if (threads_.empty()) {
      Run(job);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      todo_.push_back(&job);
    }
    wake_.notify_one();
  }
  bool IsDone(const TTileJob& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    return job.Done;
  }
  void Wait(const TTileJob& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return job.Done; });
  }
  // Drops the jobs not started yet and waits for the running ones.
  void Cancel() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (TTileJob* job : todo_) job->Done = true;
    todo_.clear();
    done_.wait(lock, [&] { return running_ == 0; });
  }

private:
  // A worker's tile and its file bytes, kept from tile to tile: allocating a
  // few hundred KiB for every tile costs fresh pages each time once the
  // allocator has handed such blocks back to the system. Two tiles of each: the tiles at the right edge of a row are narrower than the
  // others, and the last row lower.
  struct TTileBuffers {
    std::unique_ptr<TPngTileImage> Png[2];
    Bitmap Jpeg[2];
    std::vector<std::uint8_t> Encoded; // the tile file's bytes
    int Next = 0; // the slot to replace when no size fits
    template <class T> T& Slot(T (&slots)[2], bool (*fits)(const T&, const TTileJob&), const TTileJob& job) {
      for (T& slot : slots)
        if (fits(slot, job)) return slot;
      T& slot = slots[Next];
      Next ^= 1;
      slot = T();
      return slot;
    }
  };

  void Encode(const TTileJob& job, TTileBuffers& buffers) const {
    EncodeInto(job, buffers);
    WriteTileFile(job.Path, buffers.Encoded);
  }
  // Paints the tile and encodes it into buffers.Encoded.
  void EncodeInto(const TTileJob& job, TTileBuffers& buffers) const {
    if (png_) {
      std::unique_ptr<TPngTileImage>& tile = buffers.Slot<std::unique_ptr<TPngTileImage>>(
          buffers.Png, [](const std::unique_ptr<TPngTileImage>& t, const TTileJob& j) {
            return t && t->Width() == j.Width && t->Height() == j.Height;
          }, job);
      if (tile)
        tile->Clear();
      else
        tile = std::make_unique<TPngTileImage>(depth_.ColorType, static_cast<int>(depth_.BitDepth), job.Width,
                                               job.Height);
      source_.Paint(tile->Canvas(), job.Left, job.Top, job.Width, job.Height);
      // The full-size tiles keep the bytes they have always had; a reduced
      // layer's tiles, new files, take the faster deflater.
      tile->SaveToMemory(buffers.Encoded, source_.Level == 0 ? TPngDeflater::Zlib : TPngDeflater::Libdeflate);
    } else {
      Bitmap& tile = buffers.Slot<Bitmap>(
          buffers.Jpeg, [](const Bitmap& t, const TTileJob& j) { return t.Width() == j.Width && t.Height() == j.Height; },
          job);
      if (tile.Empty()) tile = Bitmap(job.Width, job.Height, PixelFormat::pf24bit);
      source_.PaintTile(tile, job.Left, job.Top);
      EncodeJpegTile(tile, quality_, buffers.Encoded);
    }
  }
  void Run(TTileJob& job) {
    try {
      Encode(job, buffers_);
      job.Written = true;
    } catch (...) {
      job.Error = std::current_exception();
    }
    job.Done = true;
  }
  void Work() {
    TTileBuffers buffers;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || !todo_.empty(); });
      if (todo_.empty()) return;
      TTileJob* job = todo_.front();
      todo_.pop_front();
      ++running_;
      lock.unlock();
      bool written = false;
      std::exception_ptr error;
      try {
        Encode(*job, buffers);
        written = true;
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      job->Written = written;
      job->Error = error;
      job->Done = true;
      --running_;
      done_.notify_all();
    }
  }

  const TTileSource& source_;
  const bool png_;
  const TColorDepthRow& depth_;
  const std::uint8_t quality_;
  TTileBuffers buffers_; // the calling thread's, without workers
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<TTileJob*> todo_;
  unsigned running_ = 0;
  bool stop_ = false;
};

// The loose files of the maps packed so far. Once a map's archive is whole
// its tiles go, and its set folder with them; in atlas mode its calibration
// copy and tile list stay for the atlas archive, whose clean-up removes them.
//
// Deleting files between creating others slows some file systems down with
// every deletion (ext4 without a journal looks at each recently freed inode
// whenever it creates a file), which made a packed atlas quadratic in its
// number of maps. So an atlas run empties each tile at once, which gives its
// space back, and deletes the tiles when its maps are done.
//
// A run that ends early (a stop or an error) removes what is left of the
// packed maps' loose files, calibration copy and tile list before the tiles,
// so that no tile list is left naming tiles that are gone. A same-named map
// written into the same folder later owns the files it writes over.
class TPackedMaps {
public:
  explicit TPackedMaps(bool deferred) : deferred_(deferred) {}
  // Maps are left here only when the run ended early.
  ~TPackedMaps() { RemoveAll(); }
  TPackedMaps(const TPackedMaps&) = delete;
  TPackedMaps& operator=(const TPackedMaps&) = delete;

  // A map's archive is whole. kept: its files that stay for the atlas
  // archive; going: the others, in the order written (full paths both).
  void Packed(const std::string& directory, std::vector<std::string> kept, std::vector<std::string> going) {
    if (!deferred_) {
      // In the order written, so that a calibration copy and a tile list go
      // before the tiles: no moment leaves a list whose tiles are gone.
      for (const std::string& file : going) DeleteFileQuiet(file);
      RemoveDirectoryQuiet(directory + "set");
      return;
    }
    for (const std::string& file : going) EmptyRegularFile(file);
    byDirectory_[directory].push_back(maps_.size());
    maps_.push_back({directory, std::move(kept), std::move(going), true});
  }
  // Another map is about to write the files rewritten into directory: the
  // maps packed there lose those files (the atlas archive reads the new map's
  // anyway) and then their tiles.
  void Reuse(const std::string& directory, const std::vector<std::string>& rewritten) {
    const auto found = byDirectory_.find(directory);
    if (found == byDirectory_.end()) return;
    for (const std::size_t i : found->second) {
      TMap& map = maps_[i];
      std::erase_if(map.Kept, [&](const std::string& file) {
        if (std::find(rewritten.begin(), rewritten.end(), file) == rewritten.end()) return false;
        DeleteFileQuiet(file);
        return true;
      });
      RemoveTiles(map);
    }
  }
  // Every packed map's tiles, once all maps are done.
  void RemoveTiles() {
    for (TMap& map : maps_) RemoveTiles(map);
  }
  // The atlas archive is whole: what is left is the atlas clean-up's.
  void Release() {
    maps_.clear();
    byDirectory_.clear();
  }

private:
  struct TMap {
    std::string Directory;
    std::vector<std::string> Kept;
    std::vector<std::string> Tiles; // the files that go after packing
    bool SetFolder; // its set folder is still to go
  };

  static void RemoveTiles(TMap& map) {
    for (const std::string& file : map.Tiles) DeleteFileQuiet(file);
    map.Tiles.clear();
    if (map.SetFolder) RemoveDirectoryQuiet(map.Directory + "set");
    map.SetFolder = false;
  }
  void RemoveAll() {
    for (TMap& map : maps_) {
      for (const std::string& file : map.Kept) DeleteFileQuiet(file);
      RemoveTiles(map);
    }
    Release();
  }
  // Only a regular file is emptied, never what a link points to.
  static void EmptyRegularFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
      // Not emptied: the file still goes when the maps are done.
    }
    ::close(fd);
  }

  const bool deferred_;
  std::vector<TMap> maps_;
  std::unordered_map<std::string, std::vector<std::size_t>> byDirectory_;
};

// One call's tile set: where it goes and the files it wrote, each relative
// to the map directory and in the order written.
struct TTileSetRun {
  std::string Directory; // the map directory, with a trailing separator
  std::string MapName;
  std::string AtlasPrefix;
  bool InAtlas;
  std::vector<std::string> LocalFiles;

  // Records a written file, and in atlas mode its atlas entry.
  void Wrote(const std::string& name, std::vector<std::string>& atlasEntries) {
    LocalFiles.push_back(name);
    if (InAtlas) atlasEntries.push_back(AtlasPrefix + name);
  }
};

// The calibration lines go back unchanged; a reduced map's give its reduced
// pixel coordinates.
void WriteCalibrationCopy(const std::string& fileName, const TTileSource& source) {
  const TMapArea& area = source.Area;
  TTextWriter calibration(fileName);
  if (source.Level == 0) {
    for (const std::string& line : area.Lines) calibration.WriteLine(line);
  } else {
    const std::string ext = UpperFileExt(area.FileName);
    for (const std::string& line : ReducedCalibrationLines(area.Lines, ext, area.Width, area.Height, source.Level))
      calibration.WriteLine(line);
  }
  calibration.Close();
}

// Cuts the area into tiles, writes them into the run's set folder and names
// each in the tile list, with progress after every tile.
void WriteTiles(TTileSetRun& run, const TTileSource& source, const TExportOptions& options, const TTileSize& tileSize,
                TTextWriter& tileList, const TExportProgress& progress) {
  const std::string& d = run.Directory;
  const std::string& n = run.MapName;
  const std::int64_t tw = tileSize.Width;
  const std::int64_t th = tileSize.Height;
  const std::int64_t w = source.Width();
  const std::int64_t h = source.Height();
  if (progress.MapStarted) progress.MapStarted(n, TileCount(w, tw) * TileCount(h, th));
  Report(progress.SetPosition, 0);
  Report(progress.SetMaximum, w * h);

  const bool png = options.FormatRow == 1;
  const TColorDepthRow& depth = ColorDepthRows[png ? options.DepthRow : 0];
  std::int32_t qualityValue = 85;
  if (!ParseIntegerText(options.QualityText, qualityValue)) qualityValue = 85;
  // The quality is one unsigned byte: the integer taken modulo 256.
  const auto quality = static_cast<std::uint8_t>(qualityValue);

  // Tiles are encoded by a few workers at once; their files, the tile list
  // and the progress still follow tile order on this thread. Declared before
  // the writer so that the writer's threads end before the jobs go.
  std::deque<std::unique_ptr<TTileJob>> pending;
  TTileWriter writer(source, png, depth, quality, WorkerCount(options));
  // A tile counts as written once its line is in the tile list. When the run
  // ends early, tiles written ahead of that point go again, so the result is
  // that of a run that wrote one tile at a time.
  const auto finishFirst = [&] {
    TTileJob& job = *pending.front();
    writer.Wait(job);
    if (job.Error) std::rethrow_exception(job.Error);
    tileList.WriteLine(job.Name);
    run.LocalFiles.push_back("set/" + job.Name);
    const std::int64_t position = job.Position;
    pending.pop_front();
    Report(progress.SetPosition, position);
    if (progress.ProcessMessages) progress.ProcessMessages();
    CheckStop(progress);
  };

  try {
    char suffix[64];
    for (std::int64_t y = 0; y < h; y += th) {
      for (std::int64_t x = 0; x < w; x += tw) {
        auto job = std::make_unique<TTileJob>();
        job->Left = static_cast<std::int32_t>(x);
        job->Top = static_cast<std::int32_t>(y);
        job->Width = static_cast<std::int32_t>(x + tw > w ? w - x : tw);
        job->Height = static_cast<std::int32_t>(y + th > h ? h - y : th);
        std::snprintf(suffix, sizeof suffix, png ? "_%d_%d.png" : "_%d_%d.jpg", job->Left, job->Top);
        job->Name = n + suffix;
        job->Path = d + "set/" + job->Name;
        job->Position = w * y + x + tw; // the unclipped tile width
        pending.push_back(std::move(job));
        writer.Start(*pending.back());
        while (!pending.empty() && (pending.size() >= writer.Window() || writer.IsDone(*pending.front())))
          finishFirst();
      }
    }
    while (!pending.empty()) finishFirst();
  } catch (...) {
    writer.Cancel();
    for (const auto& job : pending)
      if (job->Written) RemovePartialFile(job->Path);
    throw;
  }
  Report(progress.SetPosition, w * h);
}

// Packs the run's files into the map's archive, then removes those that are
// not atlas entries, and the set folder when that leaves it empty.
void PackTileSet(const TTileSetRun& run, TAtlasEntries& entries, TPackedMaps& packed,
                 const TExportProgress& progress) {
  const std::string& d = run.Directory;
  WriteArchive(d + run.MapName + ".tar", [&](TTarWriter& tar) {
    for (const std::string& name : run.LocalFiles) {
      CheckStop(progress);
      tar.AddFile(d + name, ArchiveName(name));
    }
  });
  std::vector<std::string> kept, going;
  for (const std::string& name : run.LocalFiles)
    (entries.Contains(run.AtlasPrefix + name) ? kept : going).push_back(d + name);
  packed.Packed(d, std::move(kept), std::move(going));
}

void ExportTileSetChecked(const std::string& directory, const TMapArea& area, int level, const std::string& atlasPrefix,
                          bool inAtlas, const TExportOptions& options, const TTileSize& tileSize,
                          TAtlasEntries& entries, TPackedMaps& packed, const TExportProgress& progress) {
  TTileSetRun run{directory, ExportMapName(area), atlasPrefix, inAtlas, {}};
  TTileSource source{area, level};
  if (options.FormatRow == 1) source.Background = Rgb{0, 0, 0};
  const std::string& d = run.Directory;
  const std::string& n = run.MapName;
  const std::string e = ExtractFileExt(area.FileName);
  CheckStop(progress);
  // A same-named map packed into this folder before leaves its tiles now;
  // the calibration copy and tile list written over are this map's.
  packed.Reuse(d, {d + n + e, d + n + ".set"});

  WriteCalibrationCopy(d + n + e, source);
  run.Wrote(n + e, entries.List);

  CreateDirectoryQuiet(d + "set");
  TTextWriter tileList(d + n + ".set");
  run.Wrote(n + ".set", entries.List);
  if (inAtlas) entries.List.push_back(atlasPrefix + "set/");

  WriteTiles(run, source, options, tileSize, tileList, progress);
  tileList.Close();

  if (options.Tared) PackTileSet(run, entries, packed, progress);
}

} // namespace

void ExportTileSet(const std::string& mapDirectory, const TMapArea& area, const std::string& atlasPrefix,
                   bool inAtlas, const TExportOptions& options, std::vector<std::string>& atlasEntries,
                   const TExportProgress& progress) {
  const TTileSize tileSize = CheckOptions(options);
  CheckMapName(ExportMapName(area));
  const std::string d = CheckedDirectory(mapDirectory);
  TAtlasEntries entries(atlasEntries);
  TPackedMaps packed(false);
  ExportTileSetChecked(d, area, 0, atlasPrefix, inAtlas, options, tileSize, entries, packed, progress);
}

void CheckAtlasExport(const std::string& atlasName, const TMapLayouts& layouts, const TExportOptions& options) {
  CheckOptions(options);
  CheckAtlasName(atlasName);
  for (int i = 0; i < layouts.Count(); ++i) {
    const TMapLayout& layout = *layouts[i];
    CheckLayoutName(layout.Name);
    for (int j = 0; j < layout.Areas->Count(); ++j) CheckMapName(ExportMapName(*(*layout.Areas)[j]));
    // An atlas opened again holds its zoom-out layers as layouts: exported
    // with layers once more, "Topo 50%" would be written twice, one map over
    // the other.
    for (int level = 1; level <= options.ZoomOutLayers; ++level) {
      const std::string layer = ZoomOutLayerName(layout.Name, level);
      if (layouts.FindLayout(layer)) throw Error(msg::ZoomOutLayerTaken(layer));
    }
  }
}

void CheckSingleMapExport(const TMapArea* area, const TExportOptions& options) {
  if (!area) throw Error(msg::NoMapShown);
  CheckOptions(options);
  CheckMapName(ExportMapName(*area));
}

void ExportAtlas(const std::string& targetDirectory, const std::string& atlasName, const TMapLayouts& layouts,
                 const TExportOptions& options, const TExportProgress& progress) {
  // Everything that can be refused is refused before the first file is written.
  CheckAtlasExport(atlasName, layouts, options);
  const TTileSize tileSize = CheckOptions(options);
  const std::string t = CheckedDirectory(targetDirectory);

  std::vector<std::string> atlasEntries;
  TAtlasEntries entries(atlasEntries);
  TPackedMaps packed(options.Tared);
  CheckStop(progress);
  {
    TTextWriter atlasFile(t + atlasName + ".vka");
    atlasFile.WriteLine("Atlas 1.0");
    atlasFile.Close();
  }
  atlasEntries.push_back(atlasName + ".vka");

  // The layouts, then each zoom-out level's layer of every layout.
  for (int level = 0; level <= options.ZoomOutLayers; ++level) {
    for (int i = 0; i < layouts.Count(); ++i) {
      const TMapLayout& layout = *layouts[i];
      const std::string layer = (level == 0 ? layout.Name : ZoomOutLayerName(layout.Name, level)) + "/";
      CreateDirectoryQuiet(t + layer);
      atlasEntries.push_back(layer);
      for (int j = 0; j < layout.Areas->Count(); ++j) {
        const TMapArea& area = *(*layout.Areas)[j];
        const std::string prefix = layer + ExportMapName(area) + "/";
        CreateDirectoryQuiet(t + prefix);
        atlasEntries.push_back(prefix);
        ExportTileSetChecked(t + prefix, area, level, prefix, true, options, tileSize, entries, packed, progress);
      }
    }
  }
  packed.RemoveTiles();

  if (!options.Tared) return;
  WriteArchive(t + atlasName + ".tar", [&](TTarWriter& tar) {
    for (const std::string& entry : atlasEntries) {
      CheckStop(progress);
      if (!entry.empty() && entry.back() == '/')
        tar.AddDirectory(entry, LocalNow(), 0);
      else
        tar.AddFile(t + entry, ArchiveName(entry));
    }
  });
  packed.Release();
  for (auto it = atlasEntries.rbegin(); it != atlasEntries.rend(); ++it) {
    if (!it->empty() && it->back() == '/')
      RemoveDirectoryQuiet(t + *it);
    else
      DeleteFileQuiet(t + *it);
  }
}

void ExportSingleMap(const std::string& targetDirectory, const TMapArea* area, const TExportOptions& options,
                     const TExportProgress& progress) {
  CheckSingleMapExport(area, options);
  std::vector<std::string> atlasEntries;
  ExportTileSet(targetDirectory, *area, "", false, options, atlasEntries, progress);
}

void CreateTargetDirectory(const std::string& targetDirectory) {
  std::error_code ec;
  if (std::filesystem::is_directory(targetDirectory, ec)) return;
  std::filesystem::create_directories(targetDirectory, ec);
  if (ec || !std::filesystem::is_directory(targetDirectory))
    throw EFileError(msg::CannotCreateTargetDirectory(targetDirectory) + (ec ? ": " + ec.message() : std::string()));
}

} // namespace zv
