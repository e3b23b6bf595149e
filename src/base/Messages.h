// Every text the core and the converter show to the user, named here and
// written out in Messages.cpp only, so that a translation touches one file.
// Functions put the names and numbers in place; constants are whole texts.
// The desktop layer keeps its captions and questions beside its widgets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zv::msg {

// The file layer (its texts are Slovak).
std::string CannotCreateFile(const std::string& fileName);
std::string CannotOpenFile(const std::string& fileName);

// Calibration text: a number that does not read. The text comes quoted.
std::string NotAnInteger(const std::string& quotedText);
std::string NotAFloat(const std::string& quotedText);

// Why no calibration fit exists.
std::string FitTooFewPoints(std::uint64_t pointsWithLatLon);
extern const char* const FitPixelsOnOneLine;
extern const char* const FitLatLonOnOneLine;
extern const char* const FitLatLonOutOfRange;

// Calibration findings, as the converter's --check lists them. Points are
// numbered from 1.
extern const char* const MapNamesNoImage;
std::string MapImageFormatUnread(const std::string& image, const std::string& upperExt);
std::string MapImageMissing(const std::string& image);
std::string NoCalibrationFit(const std::string& problem);
std::string PointFarFromFit(int point, double residual, double rms);
std::string PointsDisagree(double rms);
std::string ProjectionNotKnown(const std::string& name);
std::string ProjectionUnusable(const std::string& name);
std::string PointOutsidePicture(int point, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height);
std::string PointLatitudeOutOfRange(int point, double lat);
std::string PointLongitudeOutOfRange(int point, double lon);
std::string CalibratedForOtherSize(std::int64_t calibratedWidth, std::int64_t calibratedHeight, std::int64_t width,
                                   std::int64_t height);

// The pointer readout: the pixel, and where the fit puts it. While the user
// picks calibration points it says which point a click sets to that pixel.
std::string PointerPixel(std::int64_t x, std::int64_t y);
std::string PointerFit(const std::string& latLon, std::int64_t pointsUsed, double rms);
std::string PickReadout(int point, const std::string& readout);
// The fit of the shown map's points, while its calibration is worked on.
std::string FitSummary(std::int64_t pointsUsed, double rms);

// Editing and saving calibration points. The cell texts are the platform
// layer's field conversion errors (Slovak); the text comes as typed.
std::string CellNotAnInteger(const std::string& text);
std::string CellNotAFloat(const std::string& text);
std::string CalibrationChangedQuestion(const std::string& areaName);
std::string ReplaceFileQuestion(const std::string& fileName);
std::string CoordinateNotWritable(int point, double value);
std::string CalibrationNotReadWhole(const std::string& map);

// Opening maps, tile sets and archives.
std::string UnsupportedImageFile(const std::string& upperExt);
std::string TileOutsidePictureRange(const std::string& tileName);
std::string ReloadQuestion(const std::string& layoutName, const std::string& areaName);
std::string TooManyMapsInArchive(const std::string& fileName, std::uint64_t limit);

// Reading tar archives: DamagedTar wraps each of the details below.
std::string DamagedTar(const std::string& fileName, const std::string& detail);
extern const char* const TarExtendedHeaderPastEnd;
extern const char* const TarExtendedHeaderTooLarge;
extern const char* const TarUnexpectedEnd;
std::string TarSizeNotANumber(const std::string& entryName);
extern const char* const TarPaxMalformed;
extern const char* const TarPaxPathHoldsZero;
extern const char* const TarPaxSizeNotANumber;
extern const char* const TarPaxMtimeNotANumber;
std::string TarSparseMapPastEnd(const std::string& entryName);
extern const char* const TarEntryDataPastEnd;
extern const char* const TarEntryTooLarge;

// Writing tar archives.
std::string CannotWriteTar(const std::string& fileName, const std::string& reason);
std::string TarAlreadyFinished(const std::string& fileName);
std::string TarEntryNameEmpty(const std::string& fileName);
std::string TarEntryNameTooLong(const std::string& entryName);
std::string TarLinkNameTooLong(const std::string& linkName, const std::string& entryName);
std::string TarEntryNegativeSize(const std::string& entryName);
std::string TarSourceHasNoLength(const std::string& entryName, const std::string& fileName);

// Pictures of any format.
std::string ImageTooLarge(std::int64_t width, std::int64_t height);
// Sizes in whole MiB: the need rounded up, what is available rounded down.
std::string PictureNeedsMemory(std::uint64_t neededMiB, std::uint64_t availableMiB);

// BMP files: InvalidBmp wraps each of the details below.
std::string InvalidBmp(const std::string& detail);
extern const char* const BmpRed;
extern const char* const BmpGreen;
extern const char* const BmpBlue;
std::string BmpMaskEmpty(const std::string& channel);
std::string BmpMaskNotContiguous(const std::string& channel);
extern const char* const BmpNoSignature;
extern const char* const BmpTruncatedHeader;
std::string BmpHeaderSizeUnsupported(std::uint64_t headerSize);
std::string BmpDensityInconsistent(std::int64_t x, std::int64_t y);
std::string BmpPlanes(std::int64_t planes);
std::string BmpWidth(std::int64_t width);
extern const char* const BmpHeightZero;
std::string BmpBitsUnsupported(std::int64_t bits);
std::string BmpOs2CompressionUnsupported(std::uint64_t compression);
std::string BmpCompressionUnsupported(std::uint64_t compression, std::int64_t bits);
extern const char* const BmpCompressedTopDown;
extern const char* const BmpTruncatedMasks;
extern const char* const BmpRunPastRow;
extern const char* const BmpNoEndOfBitmap;
extern const char* const BmpTruncatedDelta;
extern const char* const BmpDeltaOutside;
extern const char* const BmpTruncatedAbsoluteRun;
std::string BmpColourOutsideTable(std::int64_t x, std::int64_t y, std::uint64_t colour, std::uint64_t entries);
std::string BmpFileSizeMismatch(std::uint64_t declared, std::uint64_t actual);
std::string BmpPixelOffsetInvalid(std::uint64_t offset);
std::string BmpImageSizeMismatch(std::uint64_t declared, std::uint64_t actual);
std::string BmpColourTableTooLong(std::uint64_t entries);
std::string BmpRunLengthTooShort(std::uint64_t bytes, std::int64_t width, std::int64_t height);
std::string BmpPixelsTruncated(std::uint64_t needed, std::uint64_t present);
extern const char* const BmpMasksOverlap;
extern const char* const BmpMaskOver16Bits;

// JPEG files. The scan limit is written into libjpeg's message buffer from
// inside its callback, where nothing may allocate or throw.
void FormatJpegTooManyScans(char* buffer, std::size_t size, int limit) noexcept;
std::string JpegDataTooShort(std::uint64_t width, std::uint64_t height);

// PNG files. PngReadError goes through libpng's error callback as it stands.
extern const char* const PngReadError;
extern const char* const PngNotEnoughData;
extern const char* const PngUnexpectedRowLayout;
extern const char* const PngInsufficientMemory;
extern const char* const PngCannotCreate;
std::string PngTileTooSmall(std::int64_t width, std::int64_t height);
extern const char* const ZlibInitFailed;
extern const char* const ZlibCompressionFailed;

// Exporting.
extern const char* const ExportStopped;
std::string ErrorWritingFile(const std::string& fileName, const std::string& reason);
extern const char* const TileWidthInvalid;
extern const char* const TileHeightInvalid;
std::string UnknownTileFormat(std::int64_t row);
std::string UnknownColorDepth(std::int64_t row);
std::string ZoomOutLayersInvalid(std::int64_t layers);
std::string ZoomOutLayerTaken(const std::string& layer);
std::string MapNameNotAllowed(const std::string& name);
std::string LayoutNameNotAllowed(const std::string& name);
std::string AtlasNameNotAllowed(const std::string& name);
extern const char* const EnterTargetDirectory;
extern const char* const NoMapShown;
std::string SettingsFileTooLarge(const std::string& fileName);

// The converter's command line. Usage is its --help text.
extern const char* const Usage;
std::string UsageErrorHint(const std::string& program, const std::string& problem);
std::string OptionNeedsValue(const std::string& option);
std::string OptionTakesNoValue(const std::string& option);
std::string UnknownOption(const std::string& option);
extern const char* const TileExpectsSize;
extern const char* const FormatExpectsName;
extern const char* const DepthExpectsRow;
extern const char* const ZoomOutExpectsCount;
extern const char* const ZoomOutWithSingle;
extern const char* const TargetDirectoryEmpty;
extern const char* const NoInputFile;
extern const char* const ListWithCheck;
extern const char* const TargetDirectoryRequired;

// The converter's run.
std::string LoadingError(const std::string& fileName, const std::string& error);
// The first line of LoadingError, the desktop program's box text (the error
// goes into the box's details).
std::string LoadingErrorTitle(const std::string& fileName);
std::string CannotCreateTargetDirectory(const std::string& directory);
std::string LargeArchiveWarning(const std::string& path, double gib);
std::string TileProgress(const std::string& mapName, const std::string& bar, std::int64_t done, std::int64_t total);

// The converter's --check: tile set problems, files that open nothing, and
// the closing count.
extern const char* const NoTileAtOrigin;
std::string TileOffGrid(std::int64_t x, std::int64_t y, std::int64_t tileWidth, std::int64_t tileHeight);
std::string TileWrongSize(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
                          std::int64_t wantedWidth, std::int64_t wantedHeight);
std::string TilesOverlap(std::int64_t x, std::int64_t y);
std::string TileGap(std::int64_t x, std::int64_t y);
std::string MoreTileProblems(std::int64_t count);
std::string MapLoadingError(const std::string& entryName, const std::string& error);
extern const char* const MapDirectoryOpensNoMap;
extern const char* const FileOpensNoMap;
std::string FileLoadingError(const std::string& error);
std::string CheckSummary(std::uint64_t problems, std::uint64_t files);

// The map view's zoom factor 2^zoom as a percentage, with the decimals it
// needs and a full stop ("800 %", "12.5 %", "1.5625 %").
std::string ZoomFactor(int zoom);

// Calibration fit: findings that no wrong answer goes without, and values
// from the file quoted at a readable length.
// A value from a file, cut after 60 characters with "…".
std::string FileValue(const std::string& value);
extern const char* const DatumNotGiven;
std::string DatumNotKnown(const std::string& datum);
std::string UtmZoneTaken(int zone);
std::string WrongPointSearchStopped(int named);
std::string PointTakesNoPart(int point, const std::string& reason);
extern const char* const ReasonNoCoordinates;
std::string ReasonGridWordUnread(const std::string& word, const std::string& value);
std::string ReasonUtmZone(const std::string& zone);
extern const char* const ReasonGridInLatLonMap;
extern const char* const ReasonNotPlaced;
std::string TooManyPointsQuestion(std::uint64_t points);

} // namespace zv::msg

// Export to map apps (MBTiles, SQLiteDB, KMZ).
namespace zv::msg {
std::string MapAppFileExists(const std::string& file);
std::string MapAppCannotCreate(const std::string& file);
std::string MapAppWriteError(const std::string& file, const std::string& why);
extern const char* const MapAppNothingToExport;
std::string MapAppZoomRange(int min, int max, int deepest);
std::string MapAppTooManyTiles(int zoom);
std::string KmzTilesRange(int most);
std::string KmzResolutionLowered(double percent, int tiles);
extern const char* const MinZoomExpectsLevel;
extern const char* const MaxZoomExpectsLevel;
extern const char* const KmzTilesExpectsCount;
extern const char* const MapAppOneTarget;
extern const char* const MapAppWithAmbuloOptions;
extern const char* const MapAppUsage;
extern const char* const MapAppEnterFile;
std::string MapAppReplaceQuestion(const std::string& file);
std::string SuggestedHighestZoom(int zoom);
// ---------------------------------------------------------------------------
// Calibrating a sheet by its name or bounds and its frame found on the scan.

// A sheet name refused: which part is wrong and why ("... should be ..."
// or "... is ..." texts below).
std::string SheetNamePartWrong(const std::string& name, const std::string& part, const std::string& problem);
extern const char* const SheetNameEmpty;
extern const char* const SheetCommaMisplaced;
extern const char* const SheetCharacter;
extern const char* const SheetRowExpected;
extern const char* const SheetColumnMissing;
extern const char* const SheetColumnExpected;
extern const char* const SheetAfterColumnExpected;
extern const char* const Sheet50kExpected;
extern const char* const Sheet25kExpected;
extern const char* const Sheet10kExpected;
extern const char* const SheetJoinedSouth;
std::string SheetJoinedCount(int wanted, bool farNorth);
extern const char* const SheetJoinedNotNeighbours;
extern const char* const SheetJoinedNotAligned;
extern const char* const SheetNothingFollows;
extern const char* const SheetNothingFollowsJoined;
// Typed bounds refused.
std::string SheetBoundsCount(const std::string& text);
std::string SheetBoundWrong(const std::string& bound, const std::string& text, double limit);
std::string SheetBoundsOrder(const std::string& lower, const std::string& upper);
// The written calibration does not read back.
std::string SheetPlaneUnknown(const std::string& what);
extern const char* const SheetCornerNotPlaced;
// The frame search on the scan.
extern const char* const FrameNotFound;
extern const char* const FrameCornerOffPicture;
std::string FrameNotConfident(double confidence);
// The converter's sheet calibration: its help, usage errors and report.
extern const char* const SheetUsage;
extern const char* const CalibrateSheetEmpty;
extern const char* const ProjectionExpectsName;
extern const char* const CalibrateSheetTwice;
extern const char* const CalibrateSheetOnePicture;
extern const char* const CalibrateSheetAlone;
std::string SheetReportSheet(const std::string& picture, const std::string& sheet, const std::string& scale,
                             const std::string& datum, const std::string& projection, double centralMeridian);
std::string SheetCorner(const std::string& corner, double x, double y);
std::string SheetReportFrame(const std::string& corners, double confidence);
std::string SheetReportFit(double rms);
std::string SheetReportWritten(const std::string& mapFile);
std::string SheetReportFailed(const std::string& picture, const std::string& why);
std::string SheetMapExists(const std::string& mapFile);

// Calibrating: typed coordinates, saving in place, the window title.
// "'TEXT' is no latitude. Accepted forms: ..." listing the printed forms.
std::string CoordinateNotRecognised(const std::string& text, bool latitude);
std::string CalibrationSaved(const std::string& fileName);
// "north* — Zovevod - 1.0.3.0", or the program's name alone without a map.
std::string WindowTitle(const std::string& mapName, bool changed, const std::string& version);

// The grid drawn over the map.
std::string GridNeedsFit(const std::string& problem);

// Calibrating by the sheet's corners: the dialog and the four clicks.
// corner: 0 north-west, 1 north-east, 2 south-east, 3 south-west.
std::string SheetCornerName(int corner);
std::string SheetCornerPrompt(int corner);
std::string SheetCornerSnapped(int corner);
std::string SheetCornerAsClicked(int corner);
std::string SheetGeoCorner(int corner, double lat, double lon);
std::string SheetPlaneText(const std::string& datum, const std::string& projection, double centralMeridian,
                           double falseEasting);
std::string SheetFramePixel(int corner, double x, double y);
std::string SheetFrameFound(double confidence);
extern const char* const SheetFrameNeedsOnePicture;
extern const char* const SheetCornersCancelled;
std::string SheetCalibrated(const std::string& sheet);

// Calibrating by the sheet's corners: the frame looked for on a worker,
// and the clicks ended when the map they are for is no longer shown.
extern const char* const SheetFrameSearching;
extern const char* const SheetCornersMapLeft;
// Zoom factors that are no power of two (Fit to window).
// "37.4 %": one decimal, which tells such a factor from the powers' "12.5 %".
std::string ZoomPercent(double factor);
// Grid coordinates: points given by easting and northing in the map's plane.
// The fit's "too few points" in a projected plane, where either pair places a point.
std::string FitTooFewPointsInPlane(std::uint64_t pointsPlaced);

} // namespace zv::msg
