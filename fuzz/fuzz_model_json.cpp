// The model as JSON: any names, file names and calibration text give one
// line of valid JSON in UTF-8.
#include "base/Errors.h"
#include "cli/ModelJson.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// A strict reader that only says whether text is one JSON value.
struct Json {
  const char* p;
  const char* end;
  bool Lit(const char* s) {
    const std::size_t n = std::strlen(s);
    if (static_cast<std::size_t>(end - p) < n || std::memcmp(p, s, n) != 0) return false;
    p += n;
    return true;
  }
  bool String() {
    if (!Lit("\"")) return false;
    while (p < end && *p != '"') {
      const auto c = static_cast<unsigned char>(*p);
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++p == end) return false;
        if (*p == 'u') {
          for (int i = 0; i < 4; ++i)
            if (++p == end || !std::isxdigit(static_cast<unsigned char>(*p))) return false;
        } else if (!std::strchr("\"\\/bfnrt", *p)) {
          return false;
        }
        ++p;
      } else if (c < 0x80) {
        ++p;
      } else { // UTF-8: lead byte, then its continuation bytes
        const int more = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
        if (more < 0 || end - p <= more) return false;
        for (int i = 1; i <= more; ++i)
          if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return false;
        p += more + 1;
      }
    }
    return Lit("\"");
  }
  bool Number() {
    const char* start = p;
    while (p < end && std::strchr("+-0123456789.eE", *p)) ++p;
    return p != start;
  }
  bool Value() {
    if (p == end) return false;
    if (*p == '{' || *p == '[') {
      const char close = *p == '{' ? '}' : ']';
      const bool object = *p++ == '{';
      if (Lit(close == '}' ? "}" : "]")) return true;
      do {
        if (object && !(String() && Lit(":"))) return false;
        if (!Value()) return false;
      } while (Lit(","));
      return Lit(close == '}' ? "}" : "]");
    }
    return String() || Lit("true") || Lit("false") || Lit("null") || Number();
  }
};

bool IsJson(const std::string& s) {
  Json j{s.data(), s.data() + s.size()};
  return j.Value() && j.p == j.end;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  zv::TDisplayMapsCore view;
  for (int l = in.ConsumeIntegralInRange(0, 3); l > 0; --l) {
    zv::TMapLayout* layout = view.Layouts->AddLayout(in.ConsumeRandomLengthString(40));
    for (int a = in.ConsumeIntegralInRange(0, 3); a > 0; --a) {
      auto area = std::make_unique<zv::TMapArea>(&view, layout);
      area->Name = in.ConsumeRandomLengthString(40);
      area->FileName = in.ConsumeBool() ? "m.map" : "m.gmi";
      area->ImageFileName = in.ConsumeRandomLengthString(40);
      const std::string text = in.ConsumeRandomLengthString(400);
      area->Lines = zv::SplitLines(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
      try {
        area->ParseCalibration();
      } catch (const zv::Error&) {
      }
      area->Width = in.ConsumeIntegral<std::int32_t>();
      area->Height = in.ConsumeIntegral<std::int32_t>();
      zv::TMapArea* added = layout->Areas->Add(std::move(area));
      if (in.ConsumeBool()) view.ShowMapArea(added);
    }
  }
  if (!IsJson(zv::ModelToJson(view))) std::abort();
  if (!IsJson(zv::JsonNumber(in.ConsumeFloatingPoint<long double>()))) std::abort();
  if (!IsJson(zv::JsonString(in.ConsumeRemainingBytesAsString()))) std::abort();
  return 0;
}
