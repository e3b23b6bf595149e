#pragma once

#include <stdexcept>
#include <string>

namespace zv {

// Every failure the user can see is raised as an Error whose message is the
// text shown to them. The model and the codecs never catch it.
class Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A file that could not be created, opened, read or written.
class EFileError : public Error {
public:
  using Error::Error;
};

// Raise the file layer's own texts (msg::CannotCreateFile, msg::CannotOpenFile).
[[noreturn]] void ThrowCannotCreate(const std::string& fileName);
[[noreturn]] void ThrowCannotOpen(const std::string& fileName);

} // namespace zv
