#pragma once

#include "manifest/manifest.h"
#include "transfer/transfer_params.h"

namespace qelt {

// The persisted record of a started transfer: the five ids and paths of its parameters. The suspended flag is
// not kept, so a restored transfer starts from the beginning of its state machine.
class TransferManifest : public InputManifest, public OutputManifest {
public:
    // The keys of TransferParams::Describe; any failure is a ManifestParseException.
    void Serialize(ptree& node) const override;
    // Every key is required and read as a string; params are reset to their defaults first. Any failure is a
    // ManifestParseException, with params then unspecified.
    void Deserialize(const ptree& node) override;

    TransferParams params;
};

}  // namespace qelt
