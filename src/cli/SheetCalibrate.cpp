#include "cli/SheetCalibrate.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "cli/CommandLine.h"
#include "model/CalibrationWriter.h"
#include "model/FileKind.h"
#include "model/FrameFinder.h"
#include "model/MapModel.h"
#include "model/SheetCalibration.h"

#include <cstdio>
#include <exception>
#include <filesystem>

namespace zv {
namespace {

TSheet SheetOf(const TCommandLine& cl, const std::string& sheetText, const std::string& picture) {
  if (sheetText.empty()) return SheetFromName(ExtractFileNameWithoutExt(picture));
  if (!LooksLikeBounds(sheetText)) return SheetFromName(sheetText);
  TSheetPlane plane = TSheetPlane::GaussKruger;
  if (cl.SheetProjection == "utm") plane = TSheetPlane::Utm;
  if (cl.SheetProjection == "latlong") plane = TSheetPlane::LatLong;
  return SheetFromBounds(sheetText, plane, cl.SheetDatum.empty() ? std::string(kPulkovo1942) : cl.SheetDatum);
}

Bitmap DecodePicture(const std::string& picture) {
  if (!IsImageKind(FileKindOf(UpperFileExt(picture)))) throw Error(msg::UnsupportedImageFile(UpperFileExt(picture)));
  TMapImage image(nullptr, nullptr);
  image.LoadFromFile(picture, 0, 0);
  return std::move(image.Bitmap);
}

std::string CornersText(const TFrameCorners& corners) {
  static const char* const kNames[] = {"NW", "NE", "SE", "SW"};
  std::string text;
  for (int i = 0; i < 4; ++i) text += msg::SheetCorner(kNames[i], corners[i].X, corners[i].Y);
  return text;
}

} // namespace

TSheetOutcome CalibrateSheetPicture(const TCommandLine& cl, const std::string& sheetText, const std::string& picture) {
  TSheetOutcome out;
  const std::string name = ExtractFileName(picture);
  try {
    const TSheet sheet = SheetOf(cl, sheetText, picture);
    out.Report += msg::SheetReportSheet(name, sheet.Name, sheet.Scale ? ScaleText(sheet.Scale) : std::string(),
                                        sheet.Plane.Datum, sheet.Plane.Projection, sheet.Plane.CentralMeridian);
    const std::string mapFile = ExtractFilePath(picture) + ExtractFileNameWithoutExt(picture) + ".map";
    std::error_code ec;
    if (!cl.Reload && std::filesystem::exists(mapFile, ec)) throw Error(msg::SheetMapExists(ExtractFileName(mapFile)));
    const Bitmap bitmap = DecodePicture(picture);
    const TFrameSearch frame = FindSheetFrame(bitmap);
    if (frame.Found || frame.Confidence > 0)
      out.Report += msg::SheetReportFrame(CornersText(frame.Corners), frame.Confidence);
    if (!frame.Found) throw Error(frame.Problem);
    const std::vector<std::string> lines = SheetMapLines(sheet, frame.Corners, ExtractFileNameWithoutExt(picture), name,
                                                         bitmap.Width(), bitmap.Height());
    const TSheetFitCheck check = CheckSheetMapLines(lines, frame.Corners);
    out.Report += msg::SheetReportFit(check.Rms);
    WriteTextFileReplacing(mapFile, lines);
    out.Report += msg::SheetReportWritten(ExtractFileName(mapFile));
    out.Written = true;
  } catch (const std::exception& e) {
    out.Report += msg::SheetReportFailed(name, e.what());
  }
  return out;
}

int RunSheetCalibration(const TCommandLine& cl) {
  int status = 0;
  for (const std::string& picture : cl.Files) {
    const TSheetOutcome outcome = CalibrateSheetPicture(cl, cl.CalibrateSheets ? std::string() : cl.CalibrateSheet, picture);
    std::fputs(outcome.Report.c_str(), stdout);
    if (!outcome.Written) status = 1;
  }
  return std::fflush(stdout) == 0 ? status : 1;
}

} // namespace zv
