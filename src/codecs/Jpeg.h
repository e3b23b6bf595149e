#pragma once

#include "base/Errors.h"
#include "codecs/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zv {

// Raised for every libjpeg error and warning, with libjpeg's own message.
class EJPEGException : public Error {
public:
  using Error::Error;
};

enum class TNumOfColors : std::uint8_t { _16, _256, TrueColor };
enum class TDCTMethod : std::uint8_t { Integ, FastInteg, FloatingPoint };
enum class TDither : std::uint8_t { None, FS, Ordered };
// Which two-pass colour quantiser decodes colour JPEGs with Floyd-Steinberg
// dithering. Both give the same palette and pixels: the streaming one decodes
// twice and holds only the 8-bit picture; libjpeg's holds the whole RGB
// picture between its passes, and stays as the reference for tests.
// Automatic takes the streaming one for pictures of a megapixel or more,
// and libjpeg's below, where its copy is small and it is the quicker. Other
// options (one pass, other dithering, greyscale) always use libjpeg's.
enum class TQuantiser : std::uint8_t { Automatic, Streaming, Libjpeg };

// The JPEG adapter over libjpeg: compressed data, the decoded or to-be-encoded
// picture, and the options that steer both.
class TJPEGImage {
public:
  TJPEGImage();
  ~TJPEGImage();

  // Writing a decoding option decodes the buffer again at once; with an empty
  // buffer that leaves no picture.
  TNumOfColors NumOfColors() const;
  void SetNumOfColors(TNumOfColors v);
  TDCTMethod DCTMethod() const;
  void SetDCTMethod(TDCTMethod v);
  TDither Dither() const;
  void SetDither(TDither v);
  bool FastProcessing() const;
  void SetFastProcessing(bool v);
  bool GrayScale() const;
  void SetGrayScale(bool v);
  bool NoSmooth() const;
  void SetNoSmooth(bool v);
  bool OnePass() const;
  void SetOnePass(bool v);
  void SetQuantiser(TQuantiser v);
  // One unsigned byte; libjpeg treats 0 as 1 and anything above 100 as 100.
  std::uint8_t Quality() const;
  void SetQuality(std::uint8_t v);
  bool Progressive() const;
  void SetProgressive(bool v);
  // Progress granularity in percent, 1 to 100 (values outside are clamped).
  int ProgressStep() const;
  void SetProgressStep(int v);
  // Fired while decoding or encoding when the percentage done reaches a new
  // multiple of ProgressStep.
  std::function<void(TJPEGImage& sender)> OnProgress;

  void LoadFromMemory(const std::uint8_t* data, std::size_t size);
  void LoadFromMemory(const std::vector<std::uint8_t>& data) { LoadFromMemory(data.data(), data.size()); }

  // The picture: filled by decoding or by assignment; null when absent.
  const Bitmap* Picture() const;
  void AssignPicture(const Bitmap& bitmap);

  // Encodes the picture; does nothing without one.
  void SaveToMemory(std::vector<std::uint8_t>& out) const;
  void SaveToFile(const std::string& fileName) const;

private:
  template <typename T> void SetDecodingOption(T& option, T value);

  struct State;
  std::unique_ptr<State> s_;
};

// Decodes with the adapter's defaults: at most 256 colours, two-pass
// quantiser, Floyd-Steinberg dithering; greyscale stays 8-bit grey.
void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap);
// The same, taking the bytes over: they are released once the last pass has
// read them all. Where that pass reads the whole file before its first row
// (a multi-scan file, or libjpeg's own two-pass quantiser), the file and the
// picture are not held together; a baseline file through the streaming
// quantiser is read along with its rows and stays until the end, beside the
// 8-bit picture.
void DecodeJpeg(std::vector<std::uint8_t>&& data, Bitmap& bitmap);
// The same, telling inputRead about each stretch of the data read and not
// needed again in that pass (colour pictures are read twice, from the start
// each time), so that a caller decoding from a mapped file may let those
// pages go while the picture fills.
using JpegInputRead = std::function<void(const std::uint8_t* from, std::size_t bytes)>;
void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap, const JpegInputRead& inputRead);
// The defaults with the given quantiser, so that tests may compare the two.
void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap, TQuantiser quantiser);

// The export's tile encoding: true colour, the given quality, the tile
// converted to 24-bit RGB, saved to fileName.
void SaveJpegTile(const Bitmap& tile, std::uint8_t quality, const std::string& fileName);
// The same bytes SaveJpegTile writes, replacing out's contents; out's
// capacity is kept, so one vector may serve tile after tile. On failure out
// holds no useful bytes.
void EncodeJpegTile(const Bitmap& tile, std::uint8_t quality, std::vector<std::uint8_t>& out);

} // namespace zv
