#pragma once

#include <string_view>

namespace zv {

// What a file is opened as, judged by its upper-cased extension (UpperFileExt):
// the one place that names the extensions Zovevod reads.
enum class TFileKind { Other, Calibration, Png, Bmp, Jpeg, Tar, Atlas };

inline TFileKind FileKindOf(std::string_view upperExt) {
  if (upperExt == ".MAP" || upperExt == ".GMI") return TFileKind::Calibration;
  if (upperExt == ".PNG") return TFileKind::Png;
  if (upperExt == ".BMP") return TFileKind::Bmp;
  if (upperExt == ".JPG" || upperExt == ".JPEG") return TFileKind::Jpeg;
  if (upperExt == ".TAR") return TFileKind::Tar;
  if (upperExt == ".VKA") return TFileKind::Atlas;
  return TFileKind::Other;
}

inline bool IsImageKind(TFileKind kind) {
  return kind == TFileKind::Png || kind == TFileKind::Bmp || kind == TFileKind::Jpeg;
}

} // namespace zv
