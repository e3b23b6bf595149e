#pragma once

#include <QString>

#include <string>

namespace zv {

// The model keeps names and paths as 8-bit strings, as file names are on this
// platform: shown as UTF-8 where they are valid UTF-8, else byte for byte as Latin-1.
QString FromModelText(const std::string& text);
// What the user typed, stored as UTF-8.
std::string ToModelText(const QString& text);

} // namespace zv
