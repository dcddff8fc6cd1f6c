#pragma once

#include <boost/property_tree/ptree_fwd.hpp>

namespace qelt {

using boost::property_tree::ptree;

// Anything that can be filled from a property tree. Deserialize throws a ManifestException (or a subclass) when
// the node does not describe a valid object; the object is then discarded by its creator, never used half-read.
class InputManifest {
public:
    virtual ~InputManifest() = default;
    virtual void Deserialize(const ptree& node) = 0;
};

// Anything that can write itself into a property tree node (later written out as JSON).
class OutputManifest {
public:
    virtual ~OutputManifest() = default;
    virtual void Serialize(ptree& node) const = 0;
};

}  // namespace qelt
