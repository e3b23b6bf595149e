#include "TestMaps.h"

#include "codecs/Jpeg.h"
#include "codecs/PngTile.h"

#include <sstream>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace zvtest {

zv::Rgb PictureColour(int x, int y) {
  return zv::Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 5),
                 static_cast<std::uint8_t>((x / 16 + y / 16) * 40)};
}

zv::Bitmap PictureBitmap(int left, int top, int width, int height) {
  zv::Bitmap b(width, height, zv::PixelFormat::pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.SetPixel(x, y, PictureColour(left + x, top + y));
  return b;
}

namespace {

void Put16(zv::Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(zv::Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

} // namespace

zv::Bytes MakeBmp(int left, int top, int width, int height) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(height);
  zv::Bytes b;
  b.push_back('B');
  b.push_back('M');
  Put32(b, 54 + imageSize);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(width));
  Put32(b, static_cast<std::uint32_t>(height));
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, 0);
  Put32(b, imageSize);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  for (int y = height - 1; y >= 0; --y) { // bottom-up
    const std::size_t rowStart = b.size();
    for (int x = 0; x < width; ++x) {
      const zv::Rgb c = PictureColour(left + x, top + y);
      b.push_back(c.b);
      b.push_back(c.g);
      b.push_back(c.r);
    }
    while (b.size() - rowStart < stride) b.push_back(0);
  }
  return b;
}

void WriteBmp(const std::string& path, int left, int top, int width, int height) {
  WriteBytes(path, MakeBmp(left, top, width, height));
}

void WritePng(const std::string& path, int left, int top, int width, int height) {
  zv::TPngTileImage png(zv::TPngColorType::Rgb, 8, width, height);
  png.Canvas().CopyRect(0, 0, PictureBitmap(left, top, width, height), 0, 0, width, height);
  png.SaveToFile(path);
}

void WriteJpeg(const std::string& path, int width, int height) {
  zv::SaveJpegTile(PictureBitmap(0, 0, width, height), 90, path);
}

std::string MapText(const std::string& image) {
  return "OziExplorer Map Data File Version 2.2\r\ntitle\r\n" + image +
         "\r\n1 ,Map Code,\r\nWGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\n"
         "Point01,xy,    5,    6,in, deg,  48, 30.0000,N,  17,  6.0000,E, grid,   ,           ,           ,N\r\n";
}

namespace {

std::string Hex(zv::Rgb c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02x%02x%02x", c.r, c.g, c.b);
  return buf;
}

std::string Join(std::initializer_list<long long> v) {
  std::string s;
  for (long long x : v) s += (s.empty() ? "" : ",") + std::to_string(x);
  return s;
}

} // namespace

void RecordingCanvas::CopyRect(int dx, int dy, const zv::Bitmap& src, int sx, int sy, int w, int h) {
  Calls.push_back("copy " + Join({dx, dy, sx, sy, w, h}) + " of " + std::to_string(src.Width()) + "x" +
                  std::to_string(src.Height()));
}

void RecordingCanvas::ScaledCopy(int dx, int dy, const zv::Bitmap& src, int sx, int sy, int w, int h, int zoom) {
  Calls.push_back("scaled copy " + Join({dx, dy, sx, sy, w, h, zoom}) + " of " + std::to_string(src.Width()) + "x" +
                  std::to_string(src.Height()));
}

void RecordingCanvas::SampledCopy(const zv::Bitmap& src, std::int64_t left, std::int64_t top,
                                  const zv::TSampling& s) {
  Calls.push_back("sampled copy at " + std::to_string(left) + "," + std::to_string(top) + " step " +
                  std::to_string(s.StepNum) + "/" + std::to_string(s.StepDen) + " of " + std::to_string(src.Width()) +
                  "x" + std::to_string(src.Height()));
}

void RecordingCanvas::FrameRect(int left, int top, int right, int bottom, zv::Rgb colour) {
  Calls.push_back("frame " + Join({left, top, right, bottom}) + " " + Hex(colour));
}

void RecordingCanvas::SetPixel(int x, int y, zv::Rgb colour) {
  Calls.push_back("pixel " + Join({x, y}) + " " + Hex(colour));
}

void RecordingCanvas::Ellipse(int left, int top, int right, int bottom, zv::Rgb pen, int penWidth) {
  Calls.push_back("ellipse " + Join({left, top, right, bottom}) + " " + Hex(pen) + " w" + std::to_string(penWidth));
}

void RecordingCanvas::TextOut(int x, int y, const std::string& text, zv::Rgb colour, int pointSize) {
  Calls.push_back("text " + Join({x, y}) + " " + text + " " + Hex(colour) + " " + std::to_string(pointSize));
}

void RecordingCanvas::Polyline(const std::vector<zv::TCanvasPoint>& points, zv::Rgb colour, int penWidth) {
  Calls.push_back("polyline " + std::to_string(points.size()) + " " + Hex(colour) + " " + std::to_string(penWidth));
}

void RecordingCanvas::Label(double x, double y, zv::TLabelAnchor, const std::string& text, zv::Rgb colour) {
  Calls.push_back("label " + Join({static_cast<int>(x), static_cast<int>(y)}) + " " + text + " " + Hex(colour));
}

void AddText(zv::TTarWriter& tar, const std::string& name, const std::string& text) {
  std::istringstream in(text);
  tar.AddStream(in, name, 45000.0);
}

void AddData(zv::TTarWriter& tar, const std::string& name, const zv::Bytes& data) {
  std::istringstream in(std::string(data.begin(), data.end()));
  tar.AddStream(in, name, 45000.0);
}

} // namespace zvtest
