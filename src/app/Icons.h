#pragma once

#include <QIcon>
#include <QPixmap>

namespace zv {

// The main image list (ImlMain): four 20 x 20 pictures.
enum TMainImage : int { miOpen = 0, miAdd = 1, miBlank = 2, miEye = 3 };
constexpr int kMainImageCount = 4;
constexpr int kMainImageSize = 20;

// Picture index of the main image list, 20 x 20; an empty pixmap outside 0..3.
// Needs a QGuiApplication.
QPixmap MainImage(int index);
QIcon MainIcon(int index);

// A cross hair, for picking points on the map; 20 x 20.
QIcon PickIcon();

// The program's own icon (the one installed in the desktop's icon theme),
// drawn at the usual sizes. Needs a QGuiApplication.
QIcon ProgramIcon();

} // namespace zv
