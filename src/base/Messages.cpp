// The texts behind Messages.h, in the same order and groups. Names and
// numbers are put in place by plain concatenation, so a name holding '%' or
// any other byte comes out as it is.
#include "base/Messages.h"

#include <algorithm>
#include <cstdio>

namespace zv::msg {

namespace {

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string Str(std::int64_t v) { return std::to_string(v); }
std::string Str(std::uint64_t v) { return std::to_string(v); }

std::string Point(int point) { return "Point " + std::to_string(point); }

std::string At(std::int64_t x, std::int64_t y) { return "(" + Str(x) + ", " + Str(y) + ")"; }

} // namespace

// ---------------------------------------------------------------------------
// The file layer

std::string CannotCreateFile(const std::string& fileName) { return "Súbor " + fileName + " sa nedá vytvoriť"; }
std::string CannotOpenFile(const std::string& fileName) { return "Súbor " + fileName + " sa nedá otvoriť"; }

// ---------------------------------------------------------------------------
// Calibration

std::string NotAnInteger(const std::string& quotedText) { return quotedText + " is not a valid integer value"; }
std::string NotAFloat(const std::string& quotedText) { return quotedText + " is not a valid floating point value"; }

std::string FitTooFewPoints(std::uint64_t pointsWithLatLon) {
  return "Too few calibration points with latitude and longitude: " + Str(pointsWithLatLon) +
         " (at least 3 not on one line are needed).";
}
const char* const FitPixelsOnOneLine =
    "The calibration points lie on one line in the picture; add a point off that line.";
const char* const FitLatLonOnOneLine =
    "The calibration points' latitudes and longitudes lie on one line or are all the same; check their coordinates.";
const char* const FitLatLonOutOfRange =
    "The calibration points' coordinates are out of range; check their latitudes and longitudes.";

const char* const MapNamesNoImage = "The map has no picture: its calibration names no image file.";
std::string MapImageFormatUnread(const std::string& image, const std::string& upperExt) {
  return "The map has no picture: its image " + image + " is a format Zovevod does not read (" +
         (upperExt.empty() ? std::string("no extension") : upperExt) + "); convert it to PNG, JPEG or BMP.";
}
std::string MapImageMissing(const std::string& image) {
  return "The map has no picture: its image " + image + " was not found or holds no pixels.";
}
std::string NoCalibrationFit(const std::string& problem) { return "No calibration fit: " + problem; }
std::string PointFarFromFit(int point, double residual, double rms) {
  return Point(point) + " is " + Fixed(residual, 1) + " px away from where the other points put it (fit RMS " +
         Fixed(rms, 1) + " px): check its latitude and longitude, a mistyped minute or the wrong hemisphere.";
}
std::string PointsDisagree(double rms) {
  return "The calibration points disagree by " + Fixed(rms, 1) + " px (RMS); check all of them";
}
std::string ProjectionNotKnown(const std::string& name) {
  return "The map's projection " + name + " is not known; positions assume latitude and longitude";
}
std::string ProjectionUnusable(const std::string& name) {
  return "The map's projection " + name +
         " gives no usable positions for the calibration points (check its \"Projection Setup\" line); positions "
         "assume latitude and longitude";
}
std::string PointOutsidePicture(int point, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height) {
  return Point(point) + " " + At(x, y) + " lies outside the picture (" + Str(width) + " x " + Str(height) +
         "): check its pixel position.";
}
std::string PointLatitudeOutOfRange(int point, double lat) {
  return Point(point) + " has latitude " + Fixed(lat, 6) + ", outside -90..90: check it.";
}
std::string PointLongitudeOutOfRange(int point, double lon) {
  return Point(point) + " has longitude " + Fixed(lon, 6) + ", outside -180..180: check it.";
}
std::string CalibratedForOtherSize(std::int64_t calibratedWidth, std::int64_t calibratedHeight, std::int64_t width,
                                   std::int64_t height) {
  return "The calibration was made for a " + Str(calibratedWidth) + " x " + Str(calibratedHeight) +
         " picture, but the picture is " + Str(width) + " x " + Str(height) +
         ": the image was resized after calibration; calibrate it again.";
}

std::string PointerPixel(std::int64_t x, std::int64_t y) { return "x " + Str(x) + "  y " + Str(y); }
std::string PointerFit(const std::string& latLon, std::int64_t pointsUsed, double rms) {
  return "   " + latLon + "   fit of " + Str(pointsUsed) + " points, RMS " + Fixed(rms, 1) + " px";
}
std::string PickReadout(int point, const std::string& readout) {
  return "Click sets point " + std::to_string(point) + ":  " + readout;
}
std::string FitSummary(std::int64_t pointsUsed, double rms) {
  return "Fit of " + Str(pointsUsed) + " points, RMS " + Fixed(rms, 1) + " px";
}

std::string CellNotAnInteger(const std::string& text) { return "'" + text + "' nie je platné celé číslo"; }
std::string CellNotAFloat(const std::string& text) {
  return "'" + text + "' nie je platné číslo s pohyblivou desatinnou čiarkou";
}
std::string CalibrationChangedQuestion(const std::string& areaName) {
  return "The calibration points of " + areaName + " were changed. Save them?";
}
std::string ReplaceFileQuestion(const std::string& fileName) {
  return fileName + " already exists. Do you want to replace it?";
}
std::string CalibrationNotReadWhole(const std::string& map) {
  return "The calibration of " + map + " was not read to its end; saving it would lose the points not read";
}
std::string CoordinateNotWritable(int point, double value) {
  return Point(point) + ": the coordinate " + Fixed(value, 6) + " is too large to be written.";
}

// ---------------------------------------------------------------------------
// Opening maps, tile sets and archives

std::string UnsupportedImageFile(const std::string& upperExt) { return upperExt + " is unsupported image file"; }
std::string TileOutsidePictureRange(const std::string& tileName) {
  return "Tile " + tileName + " lies outside the picture's range";
}
std::string ReloadQuestion(const std::string& layoutName, const std::string& areaName) {
  return "[" + layoutName + "." + areaName + "] already exists. Do you want to reload it ?";
}
std::string TooManyMapsInArchive(const std::string& fileName, std::uint64_t limit) {
  return fileName + " holds more than " + Str(limit) + " maps and atlases at its top level";
}

// ---------------------------------------------------------------------------
// Tar archives

std::string DamagedTar(const std::string& fileName, const std::string& detail) {
  return "Damaged tar archive " + fileName + ": " + detail;
}
const char* const TarExtendedHeaderPastEnd = "an extended header runs past the end of the file";
const char* const TarExtendedHeaderTooLarge = "an extended header is too large";
const char* const TarUnexpectedEnd = "unexpected end of file";
std::string TarSizeNotANumber(const std::string& entryName) {
  return "the size field of entry " + entryName + " is not a number";
}
const char* const TarPaxMalformed = "a pax extended header is malformed";
const char* const TarPaxPathHoldsZero = "a pax path holds a zero byte";
const char* const TarPaxSizeNotANumber = "a pax size is not a number";
const char* const TarPaxMtimeNotANumber = "a pax mtime is not a number";
std::string TarSparseMapPastEnd(const std::string& entryName) {
  return "the sparse map of entry " + entryName + " runs past the end of the file";
}
const char* const TarEntryDataPastEnd = "the data of an entry runs past the end of the file";
const char* const TarEntryTooLarge = "an entry is too large";

std::string CannotWriteTar(const std::string& fileName, const std::string& reason) {
  return "Cannot write tar archive " + fileName + ": " + reason;
}
std::string TarAlreadyFinished(const std::string& fileName) {
  return "Tar archive " + fileName + " is already finished";
}
std::string TarEntryNameEmpty(const std::string& fileName) {
  return "Tar entry name is empty (archive " + fileName + ")";
}
std::string TarEntryNameTooLong(const std::string& entryName) {
  return "Tar entry name " + entryName + " is longer than 100 bytes";
}
std::string TarLinkNameTooLong(const std::string& linkName, const std::string& entryName) {
  return "Link name " + linkName + " of tar entry " + entryName + " is longer than 100 bytes";
}
std::string TarEntryNegativeSize(const std::string& entryName) {
  return "Tar entry " + entryName + " has a negative size";
}
std::string TarSourceHasNoLength(const std::string& entryName, const std::string& fileName) {
  return "Cannot add " + entryName + " to tar archive " + fileName + ": the source has no length";
}

// ---------------------------------------------------------------------------
// Pictures

std::string ImageTooLarge(std::int64_t width, std::int64_t height) {
  return "image too large: " + Str(width) + " × " + Str(height);
}

std::string PictureNeedsMemory(std::uint64_t neededMiB, std::uint64_t availableMiB) {
  return "The picture needs " + Str(neededMiB) + " MiB; only " + Str(availableMiB) + " MiB are available.";
}

std::string InvalidBmp(const std::string& detail) { return "Invalid BMP file: " + detail; }
const char* const BmpRed = "red";
const char* const BmpGreen = "green";
const char* const BmpBlue = "blue";
std::string BmpMaskEmpty(const std::string& channel) { return "the bit field mask for " + channel + " is empty"; }
std::string BmpMaskNotContiguous(const std::string& channel) {
  return "the bit field mask for " + channel + " is not contiguous";
}
const char* const BmpNoSignature = "the file does not start with \"BM\"";
const char* const BmpTruncatedHeader = "the file is truncated inside its header";
std::string BmpHeaderSizeUnsupported(std::uint64_t headerSize) {
  return "header size " + Str(headerSize) + " is not supported";
}
std::string BmpDensityInconsistent(std::int64_t x, std::int64_t y) {
  return "pixel density " + Str(x) + " × " + Str(y) + " pixels per metre is inconsistent";
}
std::string BmpPlanes(std::int64_t planes) { return "the number of planes is " + Str(planes) + ", not 1"; }
std::string BmpWidth(std::int64_t width) { return "the width is " + Str(width); }
const char* const BmpHeightZero = "the height is 0";
std::string BmpBitsUnsupported(std::int64_t bits) { return Str(bits) + " bits per pixel are not supported"; }
std::string BmpOs2CompressionUnsupported(std::uint64_t compression) {
  return "OS/2 compression " + Str(compression) + " is not supported";
}
std::string BmpCompressionUnsupported(std::uint64_t compression, std::int64_t bits) {
  return "compression " + Str(compression) + " with " + Str(bits) + " bits per pixel is not supported";
}
const char* const BmpCompressedTopDown = "a compressed bitmap cannot be stored top-down";
const char* const BmpTruncatedMasks = "the file is truncated inside its bit field masks";
const char* const BmpRunPastRow = "a compressed run passes the end of a row";
const char* const BmpNoEndOfBitmap = "the compressed data ends without an end-of-bitmap code";
const char* const BmpTruncatedDelta = "the compressed data ends inside a delta code";
const char* const BmpDeltaOutside = "a delta code moves outside the image";
const char* const BmpTruncatedAbsoluteRun = "the compressed data ends inside an absolute run";
std::string BmpColourOutsideTable(std::int64_t x, std::int64_t y, std::uint64_t colour, std::uint64_t entries) {
  return "pixel " + At(x, y) + " uses colour " + Str(colour) + " of a table with " + Str(entries) + " entries";
}
std::string BmpFileSizeMismatch(std::uint64_t declared, std::uint64_t actual) {
  return "the header gives a file size of " + Str(declared) + " bytes, but the file has " + Str(actual);
}
std::string BmpPixelOffsetInvalid(std::uint64_t offset) {
  return "the pixel data offset " + Str(offset) + " is invalid";
}
std::string BmpImageSizeMismatch(std::uint64_t declared, std::uint64_t actual) {
  return "the header gives " + Str(declared) + " bytes of pixel data, but the file has " + Str(actual);
}
std::string BmpColourTableTooLong(std::uint64_t entries) {
  return "the colour table of " + Str(entries) + " entries does not fit before the pixel data";
}
std::string BmpRunLengthTooShort(std::uint64_t bytes, std::int64_t width, std::int64_t height) {
  return "the run-length data (" + Str(bytes) + " bytes) is too short for a " + Str(width) + " × " + Str(height) +
         " image";
}
std::string BmpPixelsTruncated(std::uint64_t needed, std::uint64_t present) {
  return "the pixel data is truncated: " + Str(needed) + " bytes needed, " + Str(present) + " present";
}
const char* const BmpMasksOverlap = "the bit field masks overlap";
const char* const BmpMaskOver16Bits = "a bit field mask exceeds 16 bits";

void FormatJpegTooManyScans(char* buffer, std::size_t size, int limit) noexcept {
  std::snprintf(buffer, size, "JPEG file has more than %d scans", limit);
}
std::string JpegDataTooShort(std::uint64_t width, std::uint64_t height) {
  return "JPEG data too short for a " + Str(width) + " × " + Str(height) + " image";
}

const char* const PngReadError = "Read Error";
const char* const PngNotEnoughData = "Not enough image data";
const char* const PngUnexpectedRowLayout = "Unexpected PNG row layout";
const char* const PngInsufficientMemory = "Insufficient memory";
const char* const PngCannotCreate =
    "The \"Portable Network Graphics\" could not be created because invalid image type parameters have being "
    "provided.";
std::string PngTileTooSmall(std::int64_t width, std::int64_t height) {
  return "PNG tile size must be at least 1 × 1, not " + Str(width) + " × " + Str(height);
}
const char* const ZlibInitFailed = "zlib initialisation failed";
const char* const ZlibCompressionFailed = "zlib compression failed";

// ---------------------------------------------------------------------------
// Exporting

const char* const ExportStopped = "Export stopped.";
std::string ErrorWritingFile(const std::string& fileName, const std::string& reason) {
  return "Error writing file " + fileName + ": " + reason;
}
const char* const TileWidthInvalid = "Tile width must be a whole number of at least 1";
const char* const TileHeightInvalid = "Tile height must be a whole number of at least 1";
std::string UnknownTileFormat(std::int64_t row) { return "Unknown tile file format " + Str(row); }
std::string UnknownColorDepth(std::int64_t row) { return "Unknown color depth " + Str(row); }
std::string ZoomOutLayersInvalid(std::int64_t layers) {
  return "Zoom-out layers must be from 0 to 4, not " + Str(layers);
}
std::string ZoomOutLayerTaken(const std::string& layer) {
  return "The zoom-out layer \"" + layer + "\" would share its folder with the layout of that name";
}
std::string MapNameNotAllowed(const std::string& name) {
  return "The map name \"" + name + "\" is not allowed: it would leave the target directory";
}
std::string LayoutNameNotAllowed(const std::string& name) {
  return "The layout name \"" + name + "\" is not allowed: it would leave the target directory";
}
std::string AtlasNameNotAllowed(const std::string& name) {
  return "The atlas name \"" + name + "\" is not allowed: it would leave the target directory";
}
const char* const EnterTargetDirectory = "Please enter target directory";
const char* const NoMapShown = "No map is shown to export.";
std::string SettingsFileTooLarge(const std::string& fileName) {
  return "The settings file " + fileName + " is too large";
}

// ---------------------------------------------------------------------------
// The converter

// The help text keeps one of its lines per line of code.
// clang-format off
const char* const Usage =
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
    "  --zoom-out N           N zoom-out layers (0..4, default 0): every layout again,\n"
    "                         reduced to 50 %, 25 %, 12.5 %, 6.25 %; whole atlas only\n"
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
// clang-format on
std::string UsageErrorHint(const std::string& program, const std::string& problem) {
  return program + ": " + problem + "\nTry '" + program + " --help' for more information.\n";
}
std::string OptionNeedsValue(const std::string& option) { return "option " + option + " needs a value"; }
std::string OptionTakesNoValue(const std::string& option) { return "option " + option + " takes no value"; }
std::string UnknownOption(const std::string& option) { return "unknown option " + option; }
const char* const TileExpectsSize = "--tile expects WxH, for example 400x400";
const char* const FormatExpectsName = "--format expects jpeg or png";
const char* const DepthExpectsRow = "--depth expects a row from 0 to 7";
const char* const ZoomOutExpectsCount = "--zoom-out expects a number of layers from 0 to 4";
const char* const ZoomOutWithSingle = "--zoom-out does not go with --single";
const char* const TargetDirectoryEmpty = "the target directory is empty";
const char* const NoInputFile = "no input file given";
const char* const ListWithCheck = "--list and --check do not go together";
const char* const TargetDirectoryRequired = "the target directory (-o DIR) is required";

std::string LoadingError(const std::string& fileName, const std::string& error) {
  return LoadingErrorTitle(fileName) + "\n" + error;
}
std::string LoadingErrorTitle(const std::string& fileName) { return "Loading error (" + fileName + ") !"; }
std::string CannotCreateTargetDirectory(const std::string& directory) {
  return "Cannot create the target directory " + directory;
}
std::string LargeArchiveWarning(const std::string& path, double gib) {
  return "Warning: " + path + " is " + Fixed(gib, 2) + " GiB: a FAT32 memory card holds no file of 4 GiB or more.";
}
std::string TileProgress(const std::string& mapName, const std::string& bar, std::int64_t done, std::int64_t total) {
  return mapName + " [" + bar + "] " + Str(done) + "/" + Str(total) + " tiles";
}

const char* const NoTileAtOrigin = "No tile covers the picture's top-left corner (0, 0): a tile is missing.";
std::string TileOffGrid(std::int64_t x, std::int64_t y, std::int64_t tileWidth, std::int64_t tileHeight) {
  return "The tile at " + At(x, y) + " is off the " + Str(tileWidth) + " x " + Str(tileHeight) + " grid.";
}
std::string TileWrongSize(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
                          std::int64_t wantedWidth, std::int64_t wantedHeight) {
  return "The tile at " + At(x, y) + " is " + Str(width) + " x " + Str(height) + "; the grid wants " +
         Str(wantedWidth) + " x " + Str(wantedHeight) + ".";
}
std::string TilesOverlap(std::int64_t x, std::int64_t y) { return "Two tiles lie at " + At(x, y) + ": they overlap."; }
std::string TileGap(std::int64_t x, std::int64_t y) {
  return "No tile covers " + At(x, y) + ": a gap in the tile set; export the map again.";
}
std::string MoreTileProblems(std::int64_t count) { return Str(count) + " more tile problems."; }
std::string MapLoadingError(const std::string& entryName, const std::string& error) {
  return "Loading error (" + entryName + "): " + error;
}
const char* const MapDirectoryOpensNoMap =
    "The map directory holds no calibration file or map archive: it opens no map.";
const char* const FileOpensNoMap = "The file opens no map.";
std::string FileLoadingError(const std::string& error) { return "Loading error: " + error; }
std::string CheckSummary(std::uint64_t problems, std::uint64_t files) {
  return Str(problems) + " problem" + (problems == 1 ? "" : "s") + " found in " + Str(files) + " file" +
         (files == 1 ? "" : "s") + ".";
}

std::string ZoomFactor(int zoom) {
  if (zoom >= 0) return Str(std::int64_t{100} << std::min(zoom, 40)) + " %";
  // 100 / 2^k has at most k decimals; the zeros at the end go.
  const int k = std::min(-zoom, 40);
  std::string text = Fixed(100.0 / static_cast<double>(std::int64_t{1} << k), k);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + " %";
}

// The grid drawn over the map.
std::string GridNeedsFit(const std::string& problem) { return "No grid without a calibration fit: " + problem; }

} // namespace zv::msg
