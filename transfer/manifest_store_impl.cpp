#include "transfer/manifest_store_impl.h"

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <memory>

#include "app/paths.h"
#include "base/path_rule.h"
#include "manifest/manifest_exception.h"
#include "storage/file_exception.h"
#include "storage/shared_file.h"
#include "transfer/json_record.h"

namespace qelt {
namespace {

constexpr std::uint32_t kReadBlockBytes = 4096;
constexpr const char* kTemporarySuffix = ".tmp";

void CheckKey(const std::string& key) {
    if (!IsPlainStoreKey(key)) throw ManifestLocatorException();
}

}  // namespace

void ManifestSink::Save(const std::string& key, const OutputManifest& manifest) {
    ptree tree;
    manifest.Serialize(tree);
    std::stringstream stream;
    Format(tree, stream);
    Write(key, stream);
}

bool IsPlainStoreKey(const std::string& key) {
    return !key.empty() && key != "." && key != ".." &&
           key.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

TempFileManifestStoreImpl::TempFileManifestStoreImpl(std::string folder, SharedFileFactory* files,
                                                     std::size_t maxBytes)
    : folder_(ResolvePath(UserTemporaryDirectory(), folder)), files_(files), maxBytes_(maxBytes) {}

void TempFileManifestStoreImpl::Read(const std::string& key, std::stringstream& stream) {
    CheckKey(key);
    std::shared_ptr<SharedFile> file;
    try {
        file = files_->Open(folder_, FileName(key), SharedFileMode::OpenExisting, 0, kUnboundedUpperBound);
    } catch (const FileBadPathException&) {
        throw ManifestLocatorException();
    } catch (...) {
        throw ManifestStreamException();
    }
    try {
        // The size first, so that a huge file is refused without reading it; what is not a regular file (a FIFO
        // reports 0) is never read, so nothing can block here.
        const std::uint64_t size = file->GetSize();
        if (size > maxBytes_) throw ManifestStreamException();
        char block[kReadBlockBytes];
        std::uint64_t total = 0;
        while (total < size) {
            const std::uint32_t got = file->Read(block, kReadBlockBytes);
            stream.write(block, got);
            total += got;
            if (got < kReadBlockBytes) break;
        }
    } catch (...) {
        throw ManifestStreamException();
    }
    if (!stream) throw ManifestStreamException();
}

void TempFileManifestStoreImpl::Write(const std::string& key, std::stringstream& stream) {
    CheckKey(key);
    const std::string name = FileName(key);
    const std::string temporary = name + kTemporarySuffix;
    const std::string text = stream.str();
    if (!stream) throw ManifestStreamException();
    // A temporary file left by a crash is stale; the record it was meant to become was never in place.
    files_->Delete(folder_, temporary);
    std::shared_ptr<SharedFile> file;
    try {
        file = files_->Open(folder_, temporary, SharedFileMode::CreateNew, 0, kUnboundedUpperBound);
    } catch (const FileBadPathException&) {
        throw ManifestLocatorException();
    } catch (...) {
        throw ManifestStreamException();
    }
    try {
        std::size_t written = 0;
        while (written < text.size()) {
            const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(text.size() - written, 1u << 20));
            written += file->Write(text.data() + written, count);
        }
        file->Flush();
        file.reset();
        files_->Replace(folder_, temporary, name);
    } catch (...) {
        file.reset();
        files_->Delete(folder_, temporary);
        throw ManifestStreamException();
    }
}

bool TempFileManifestStoreImpl::Remove(const std::string& key) {
    try {
        return IsPlainStoreKey(key) && files_->Delete(folder_, FileName(key));
    } catch (...) {
        return false;
    }
}

void JsonTempFileManifestStoreImpl::Parse(std::stringstream& stream, ptree& tree) {
    ReadJsonRecord(stream, tree);
}

void JsonTempFileManifestStoreImpl::Format(const ptree& tree, std::stringstream& stream) {
    WriteJsonRecord(tree, stream);
}

std::string JsonTempFileManifestStoreImpl::FileName(const std::string& key) {
    return key + ".json";
}

}  // namespace qelt
