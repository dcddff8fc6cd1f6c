#pragma once

#include <stdexcept>
#include <string>

namespace qelt {

// Base of every manifest error. The text is empty unless a request failure supplied one.
class ManifestException : public std::runtime_error {
public:
    ManifestException() : std::runtime_error(std::string()) {}
    explicit ManifestException(const std::string& message) : std::runtime_error(message) {}
};

// The manifest could not be located, or the located document is not the one asked for.
class ManifestLocatorException : public ManifestException {
public:
    using ManifestException::ManifestException;
};

// The manifest's bytes could not be obtained.
class ManifestStreamException : public ManifestException {
public:
    using ManifestException::ManifestException;
};

// The document is malformed, incomplete or inconsistent.
class ManifestParseException : public ManifestException {
public:
    using ManifestException::ManifestException;
};

// A chunk count does not fit its 32-bit type.
class ManifestOverflowException : public ManifestException {
public:
    using ManifestException::ManifestException;
};

}  // namespace qelt
