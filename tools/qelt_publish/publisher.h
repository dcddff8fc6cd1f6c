#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/qelt_publish/publish_options.h"

namespace qelt::publish {

struct PublishResult {
    std::size_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t chunks = 0;
    // The version was already published with exactly these files: its folder and manifest were left alone.
    bool unchanged = false;
    std::filesystem::path manifest;         // the version's manifest
    std::vector<std::string> emptyFolders;  // folders of the source left out, having no files
};

// Where the long part of a run (reading and checksumming the files) has got to; called on the calling thread. An
// exception it throws (the user interrupted) ends the run like a failure: nothing is published.
using PublishProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Publishes the folder as one version of a package under the mirror root:
// - every file is checked first (see ScanSource), so bad input publishes nothing;
// - the files are copied (or hard-linked) into a temporary folder beside the version's folder while their chunks
//   are checksummed in parallel, and that folder is renamed into place;
// - every document is read back with the engine's reader, then written under a temporary name and renamed over
//   its place: files first, then the metalink and the node list, then the version's manifest, then current.xml,
//   so no document ever names files that are not there yet;
// - a version whose manifest exists with the same content is left as it is (publishing twice changes nothing);
//   one that exists with other content is refused; other versions are never touched.
// Throws PublishError with a message for the user; whatever was staged is removed again.
PublishResult Publish(const PublishOptions& options, const PublishProgress& progress = {});

}  // namespace qelt::publish
