#pragma once

#include "base/Errors.h"

namespace zv {

// Raised by the PNG decoder and the PNG tile writer alike.
class EPngError : public Error {
public:
  using Error::Error;
};

} // namespace zv
