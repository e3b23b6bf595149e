#include "base/Errors.h"

#include "base/Messages.h"

namespace zv {

void ThrowCannotCreate(const std::string& fileName) { throw EFileError(msg::CannotCreateFile(fileName)); }

void ThrowCannotOpen(const std::string& fileName) { throw EFileError(msg::CannotOpenFile(fileName)); }

} // namespace zv
