#include "tools/qelt_publish/publish_options.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "tools/qelt_publish/publish_error.h"

namespace qelt::publish {
namespace {

bool IsUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Host names and IPv4 addresses, or an IPv6 address in brackets; no user information, no percent escapes.
bool IsHostName(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        return host.find_first_not_of("0123456789abcdefABCDEF:.") == std::string_view::npos;
    }
    if (host.empty()) return false;
    for (char c : host) {
        if (!IsUnreserved(c)) return false;
    }
    return true;
}

// What a node path may hold besides "/": the characters a URL path carries as they are, without "%" (an escape
// would be decoded once by the server and then again by nobody) and without "?" or "#".
bool IsPathCharacter(char c) {
    static constexpr std::string_view kSubDelimiters = "!$&'()*+,;=:@";
    return IsUnreserved(c) || kSubDelimiters.find(c) != std::string_view::npos;
}

// Length of the UTF-8 sequence starting with `lead`, 0 when it cannot start one.
int Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = Utf8SequenceLength(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) return false;
        std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

}  // namespace

void CheckIdentifier(const std::string& what, const std::string& value) {
    if (value.empty()) throw UsageError("The " + what + " is empty.");
    for (char c : value) {
        if (!IsUnreserved(c)) {
            throw UsageError("The " + what + " \"" + value +
                             "\" has a character that cannot stand in a URL path; use only letters, digits, "
                             "\"-\", \".\", \"_\" and \"~\".");
        }
    }
    if (value == "." || value == "..") throw UsageError("The " + what + " cannot be \"" + value + "\".");
}

void CheckVersionId(const std::string& value) {
    CheckIdentifier("version id", value);
    if (value == "current") {
        throw UsageError(
            "The version id cannot be \"current\": that name is the package's current-version "
            "document.");
    }
}

void CheckDocumentText(const std::string& what, const std::string& value) {
    if (!IsValidUtf8(value)) throw UsageError("The " + what + " \"" + value + "\" is not valid UTF-8.");
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            throw UsageError("The " + what + " \"" + value +
                             "\" holds a control character, which a manifest cannot carry.");
        }
    }
}

std::uint32_t ParseChunkSize(const std::string& text) {
    std::uint64_t number = 0;
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, number);
    const std::string_view unit(rest, static_cast<std::size_t>(end - rest));
    int shift = -1;
    if (unit.empty() || unit == "B") shift = 0;
    if (unit == "K" || unit == "KiB") shift = 10;
    if (unit == "M" || unit == "MiB") shift = 20;
    if (unit == "G" || unit == "GiB") shift = 30;
    if (error != std::errc() || rest == text.data() || shift < 0) {
        throw UsageError("The chunk size \"" + text + "\" is not a size; write bytes or a number with K, M or G.");
    }
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint32_t>::max();
    if (number == 0 || number > (kLargest >> shift)) {
        throw UsageError("The chunk size \"" + text + "\" is out of range: it must be from 1 byte to 4 GiB - 1.");
    }
    return static_cast<std::uint32_t>(number << shift);
}

NodeAddress ParseNodeAddress(const std::string& text) {
    std::string_view rest(text);
    if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) {
        if (rest.substr(0, scheme) != "http") {
            throw UsageError("The node \"" + text +
                             "\" names a scheme other than http; nodes are reached over "
                             "plain HTTP, so give HOST[:PORT][/PATH].");
        }
        rest.remove_prefix(scheme + 3);
    }
    const std::size_t slash = rest.find('/');
    NodeAddress node;
    node.host = std::string(rest.substr(0, slash));
    node.path = slash == std::string_view::npos ? "/packages/" : std::string(rest.substr(slash));
    if (node.path.back() != '/') node.path += '/';

    const std::size_t bracket = node.host.rfind(']');
    const std::size_t colon = node.host.rfind(':');
    const bool hasPort = colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
    if (!IsHostName(std::string_view(node.host).substr(0, hasPort ? colon : std::string::npos)))
        throw UsageError("The node \"" + text + "\" has no usable host name; give HOST[:PORT][/PATH].");
    if (hasPort) {
        const std::string port = node.host.substr(colon + 1);
        unsigned value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535) {
            throw UsageError("The node \"" + text + "\" has the port \"" + port + "\"; a port is 1 to 65535.");
        }
    }
    std::string_view segments(node.path);
    for (char c : segments) {
        if (c != '/' && !IsPathCharacter(c)) {
            throw UsageError("The node \"" + text +
                             "\" has a path with characters a URL path cannot carry as "
                             "they are.");
        }
    }
    if (node.path.find("/../") != std::string::npos || node.path.find("/./") != std::string::npos ||
        node.path.find("//") != std::string::npos) {
        throw UsageError("The node \"" + text + "\" has an empty, \".\" or \"..\" segment in its path.");
    }
    return node;
}

}  // namespace qelt::publish
