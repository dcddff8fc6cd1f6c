#pragma once

#include <string>

namespace qelt {

// The one path rule of the program: an absolute path is kept, a relative one is appended to `base` with one
// separator; the result is written with the platform's preferred separator. Throws what std::filesystem throws.
std::string ResolvePath(const std::string& base, const std::string& path);

}  // namespace qelt
