#include "base/Errors.h"

namespace zv {

std::string CannotCreateMessage(const std::string& fileName) {
  return "Súbor " + fileName + " sa nedá vytvoriť";
}

std::string CannotOpenMessage(const std::string& fileName) {
  return "Súbor " + fileName + " sa nedá otvoriť";
}

void ThrowCannotCreate(const std::string& fileName) { throw EFileError(CannotCreateMessage(fileName)); }

void ThrowCannotOpen(const std::string& fileName) { throw EFileError(CannotOpenMessage(fileName)); }

} // namespace zv
