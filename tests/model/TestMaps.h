// Helpers of the model tests: small images written on the fly, and a canvas
// that records what is drawn on it.
#pragma once

#include "base/FileSystem.h"
#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"
#include "tar/TarWriter.h"

#include "TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

// The test picture's colour at picture pixel (x, y): every tile cut from it
// can be checked against its place.
zv::Rgb PictureColour(int x, int y);

// A 24-bit bitmap of the test picture's rectangle at (left, top).
zv::Bitmap PictureBitmap(int left, int top, int width, int height);

// An uncompressed 24-bit Windows bitmap of the picture's rectangle.
zv::Bytes MakeBmp(int left, int top, int width, int height);
void WriteBmp(const std::string& path, int left, int top, int width, int height);
void WritePng(const std::string& path, int left, int top, int width, int height);
void WriteJpeg(const std::string& path, int width, int height);

// Tar entries made from text or bytes.
void AddText(zv::TTarWriter& tar, const std::string& name, const std::string& text);
void AddData(zv::TTarWriter& tar, const std::string& name, const zv::Bytes& data);

// A .map text naming image on line 3 with one point at (5, 6).
std::string MapText(const std::string& image);

// Every drawing call as one line of text.
class RecordingCanvas : public zv::TCanvas {
public:
  void CopyRect(int dx, int dy, const zv::Bitmap& src, int sx, int sy, int w, int h) override;
  void ScaledCopy(int dx, int dy, const zv::Bitmap& src, int sx, int sy, int w, int h, int zoom) override;
  void SampledCopy(const zv::Bitmap& src, std::int64_t left, std::int64_t top, const zv::TSampling& s) override;
  void FrameRect(int left, int top, int right, int bottom, zv::Rgb colour) override;
  void SetPixel(int x, int y, zv::Rgb colour) override;
  void Ellipse(int left, int top, int right, int bottom, zv::Rgb pen, int penWidth) override;
  void TextOut(int x, int y, const std::string& text, zv::Rgb colour, int pointSize) override;
  void Polyline(const std::vector<zv::TCanvasPoint>& points, zv::Rgb colour, int penWidth) override;
  void Label(double x, double y, zv::TLabelAnchor anchor, const std::string& text, zv::Rgb colour) override;
  std::vector<std::string> Calls;
};

} // namespace zvtest
