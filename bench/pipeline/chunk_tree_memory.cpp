// Heap bytes held per chunk by a file's chunk works: builds the chunk works of one file of many chunks (the work
// tree a transfer keeps for as long as the file is moved) and prints what the heap grew by, in total and per
// chunk. The works are built and attached to a workflow as the engine does it, with the transfer's work log as
// their observer, so that what it reports is what a transfer of that many chunks keeps before its first request.
//
// qelt_chunk_tree_memory [chunks] [nodes]

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "analytics/json_work_log_manager.h"
#include "http/http_session.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_single_file_work.h"
#include "tests/support/test_package.h"
#include "tests/support/test_transfer.h"
#include "work/standard_workflow.h"

namespace {

using namespace qelt;

class GeneratedFile : public FileManifest {
public:
    GeneratedFile(std::uint32_t chunkSize, std::uint32_t chunks)
        : size_(std::uint64_t{chunkSize} * chunks), chunkSize_(chunkSize), checksums_(chunks, 0x12345678u) {}
    void Deserialize(const ptree&) override {}
    const std::string& GetPath() const override { return path_; }
    const std::uint32_t& GetChunkSize() const override { return chunkSize_; }
    const std::uint64_t& GetSize() const override { return size_; }
    const std::vector<std::uint32_t>& GetChecksums() const override { return checksums_; }

private:
    std::string path_ = "data/a file of many chunks.bin";
    std::uint64_t size_;
    std::uint32_t chunkSize_;
    std::vector<std::uint32_t> checksums_;
};

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint32_t chunks = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 65536;
    const int nodeCount = argc > 2 ? std::atoi(argv[2]) : 4;

    test::TestTransferServices services("127.0.0.1:9", test::FastSettings(), 1);
    TransferParams params;
    params.transferId = "6f1c2a7e-0d55-4b8e-9a57-3f0c9d1e2b44";
    params.partnerId = "partner";
    params.packageId = "package";
    params.versionId = "1.0.0.0";
    params.destPath = "/home/someone/Downloads/a package folder";
    auto iface = std::make_shared<test::TestTransferWorkInterface>(services.Behavior(), params);
    JsonWorkLogManager workLog(0, "/tmp", &services.files);
    iface->GetBehavior()->workLogManager = &workLog;
    std::vector<std::string> hosts;
    for (int i = 0; i < nodeCount; ++i)
        hosts.push_back("127.0.0.1:" + std::to_string(8001 + i));
    iface->SetNodeList(test::ReadNodeList(hosts));
    GeneratedFile file(64 * 1024, chunks);
    auto session = services.sessions.Create();
    auto fileData = std::make_shared<TransferSharedFileData>(file.GetPath(), file.GetSize());

    malloc_trim(0);
    const std::size_t before = HeapInUse();
    auto work = std::make_shared<TransferMultipleChunksWork>(iface, session, file, fileData);
    // Attached as a started workflow attaches its tree (every work then also reports to the workflow).
    auto workflow = StandardWorkflow::Create(work, &services.workManager, 4);
    work->Attach(workflow);
    const std::size_t after = HeapInUse();
    std::printf("chunks %u, nodes %d: heap %zu bytes, %.1f bytes per chunk\n", chunks, nodeCount, after - before,
                static_cast<double>(after - before) / chunks);
    return 0;
}
