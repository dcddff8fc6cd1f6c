#pragma once

#include <string>

namespace qelt {

// The program-wide placeholder for "no particular version", also the value of an identifier not given.
inline const std::string UnspecifiedVersion = "?";

}  // namespace qelt
