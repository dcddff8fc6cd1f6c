#include "resources/string_table.h"

namespace qelt {

std::string CutResourceString(std::string_view value) {
    // The limit counts characters, not bytes: never cut inside a UTF-8 sequence.
    std::size_t characters = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        const bool startsCharacter = (byte & 0xC0) != 0x80;
        if (startsCharacter && characters++ == kMaxResourceStringLength) return std::string(value.substr(0, i));
    }
    return std::string(value);
}

std::string LoadResourceString(unsigned id) {
    return CutResourceString(CompiledResourceString(id));
}

}  // namespace qelt
