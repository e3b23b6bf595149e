#include "cli/ModelJson.h"

#include "model/CalibrationFit.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zv {

namespace {

// Length of the well-formed UTF-8 sequence at s[i] (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else
    return 0;
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

void AppendEscape(std::string& out, unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", c);
  out += buf;
}

const char* Bool(bool v) { return v ? "true" : "false"; }

std::string NumberList(const std::vector<double>& values, bool negativeAsNull) {
  std::string out = "[";
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (k) out += ',';
    out += negativeAsNull && values[k] < 0 ? std::string("null") : JsonNumber(values[k]);
  }
  return out + "]";
}

// "fit": the area's calibration fit, or null with the reason.
std::string FitJson(const TMapArea& area) {
  const std::shared_ptr<const TCalibrationFit> fit = area.Fit();
  if (!fit->Valid()) return "\"fit\":null,\"fitProblem\":" + JsonString(fit->Problem());
  // Points without coordinates take no part: null residuals, negative distances.
  std::string out = "\"fit\":{\"points\":" + std::to_string(fit->PointsUsed()) + ",\"rms\":" +
                    JsonNumber(fit->Rms()) + ",\"residuals\":" + NumberList(fit->Residuals(), true) +
                    ",\"projection\":" + JsonString(fit->PlaneDefinition()) +
                    ",\"looDistances\":" + NumberList(fit->LooDistances(), false) + ",\"corners\":[";
  // The picture's corners, in WGS 84; none without a picture.
  if (area.Width > 0 && area.Height > 0) {
    const double w = area.Width, h = area.Height;
    const double corners[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    for (int k = 0; k < 4; ++k) {
      double lat = std::nan(""), lon = std::nan("");
      if (!fit->PixelToLatLon(corners[k][0], corners[k][1], lat, lon)) lat = lon = std::nan("");
      out += std::string(k ? "," : "") + "[" + JsonNumber(lat) + "," + JsonNumber(lon) + "]";
    }
  }
  return out + "]}";
}

} // namespace

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t n = Utf8SequenceLength(s, i);
      if (n == 0) {
        AppendEscape(out, c);
        ++i;
      } else {
        out.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\b': out += "\\b"; break;
    case '\f': out += "\\f"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (c < 0x20 || c == 0x7F)
        AppendEscape(out, c);
      else
        out += static_cast<char>(c);
    }
    ++i;
  }
  out += '"';
  return out;
}

std::string JsonNumber(long double value) {
  if (!std::isfinite(value)) return "null";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

std::string ModelToJson(const TDisplayMapsCore& core) {
  std::string out = "{\"layouts\":[";
  const TMapLayouts& layouts = *core.Layouts;
  for (int i = 0; i < layouts.Count(); ++i) {
    const TMapLayout* layout = layouts[i];
    if (i) out += ',';
    out += "{\"name\":" + JsonString(layout->Name) + ",\"active\":" + Bool(layout == core.ActiveLayout()) +
           ",\"areas\":[";
    for (int j = 0; j < layout->Areas->Count(); ++j) {
      const TMapArea* area = (*layout->Areas)[j];
      if (j) out += ',';
      out += "{\"name\":" + JsonString(area->Name) + ",\"fileName\":" + JsonString(area->FileName) +
             ",\"imageFileName\":" + JsonString(area->ImageFileName) +
             ",\"width\":" + std::to_string(area->Width) + ",\"height\":" + std::to_string(area->Height) +
             ",\"shown\":" + Bool(area->Shown) + ",\"active\":" + Bool(area == core.ActiveMapArea()) +
             ",\"points\":[";
      for (std::size_t k = 0; k < area->Points.size(); ++k) {
        const TCalibrationPoint& p = area->Points[k];
        if (k) out += ',';
        out += "{\"x\":" + std::to_string(p.X) + ",\"y\":" + std::to_string(p.Y) + ",\"lat\":" + JsonNumber(p.Lat) +
               ",\"lon\":" + JsonNumber(p.Lon) + "}";
      }
      out += "],";
      out += FitJson(*area);
      out += ",\"images\":[";
      for (std::size_t k = 0; k < area->Images.size(); ++k) {
        const TMapImage& image = *area->Images[k];
        if (k) out += ',';
        out += "{\"x\":" + std::to_string(image.X) + ",\"y\":" + std::to_string(image.Y) +
               ",\"width\":" + std::to_string(image.Width()) + ",\"height\":" + std::to_string(image.Height()) +
               ",\"bitsPerPixel\":" + std::to_string(image.Bitmap.BitsPerPixel()) + "}";
      }
      out += "]}";
    }
    out += "]}";
  }
  out += "]}";
  return out;
}

} // namespace zv
