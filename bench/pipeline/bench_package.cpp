#include "bench/pipeline/bench_package.h"

#include <boost/property_tree/ptree.hpp>
#include <fstream>
#include <stdexcept>

#include "manifest/crc32.h"
#include "manifest/file_manifest.h"
#include "manifest/xml_manifest_reader.h"

namespace qelt::bench {

std::string ChunkRef::RangeHeader() const {
    return "bytes=" + std::to_string(lowerBound) + "-" + std::to_string(upperBound);
}

BenchPackage::BenchPackage(const std::filesystem::path& mirrorRoot, const std::string& packageId,
                           const std::string& versionId) {
    const auto path = mirrorRoot / "manifests" / packageId / (versionId + ".xml");
    std::ifstream xml(path, std::ios::binary);
    if (!xml) throw std::runtime_error("cannot read the published manifest " + path.string());
    ptree tree;
    ReadXmlManifest(xml, tree);
    auto manifest = std::make_shared<StandardPackageManifest>();
    manifest->Deserialize(tree);
    manifest_ = std::move(manifest);
}

std::uint64_t BenchPackage::TotalBytes() const {
    std::uint64_t total = 0;
    for (const auto& file : manifest_->GetFiles())
        total += file->GetSize();
    return total;
}

std::size_t BenchPackage::ChunkTotal() const {
    std::size_t total = 0;
    for (const auto& file : manifest_->GetFiles())
        total += file->GetChecksums().size();
    return total;
}

std::vector<ChunkRef> BenchPackage::BadChunks(const std::filesystem::path& folder) const {
    std::vector<ChunkRef> bad;
    std::vector<char> buffer;
    for (const auto& file : manifest_->GetFiles()) {
        std::ifstream in(folder / file->GetPath(), std::ios::binary);
        const auto& checksums = file->GetChecksums();
        for (std::uint32_t i = 0; i < checksums.size(); ++i) {
            const ChunkRange range = GetChunkRange(file->GetChunkSize(), file->GetSize(), i);
            const ChunkRef chunk{file->GetPath(), range.lowerBound, range.upperBound};
            buffer.resize(chunk.Length());
            // Chunks are read in order, so the stream is already at the chunk's first byte.
            const bool whole = in && in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            if (!whole || Crc32(buffer.data(), buffer.size()) != checksums[i]) bad.push_back(chunk);
        }
    }
    return bad;
}

std::vector<ChunkRef> BenchPackage::PickChunks(std::size_t count, unsigned round) const {
    const auto& files = manifest_->GetFiles();
    std::vector<ChunkRef> chunks;
    for (std::size_t n = 0; n < count; ++n) {
        const auto& file = files[n % files.size()];
        const std::uint32_t chunkCount = ChunkCount(file->GetChunkSize(), file->GetSize());
        // Apart from each other, moving with the round; the last chunk of a file comes up too.
        const std::uint32_t index =
            static_cast<std::uint32_t>((n * 37 + round * 11 + (n == 1 ? chunkCount - 1 : 0)) % chunkCount);
        const ChunkRange range = GetChunkRange(file->GetChunkSize(), file->GetSize(), index);
        chunks.push_back({file->GetPath(), range.lowerBound, range.upperBound});
    }
    return chunks;
}

void DamageChunks(const std::filesystem::path& folder, const std::vector<ChunkRef>& chunks) {
    for (const auto& chunk : chunks) {
        std::fstream file(folder / chunk.path, std::ios::in | std::ios::out | std::ios::binary);
        const auto offset = static_cast<std::streamoff>(chunk.lowerBound + chunk.Length() / 2);
        file.seekg(offset);
        const char byte = static_cast<char>(~file.get());
        file.seekp(offset);
        file.put(byte);
        if (!file.flush()) throw std::runtime_error("cannot damage " + (folder / chunk.path).string());
    }
}

}  // namespace qelt::bench
