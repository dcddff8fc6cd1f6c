// qelt-publish: turns a folder into a package version on a mirror root, or checks a mirror root.

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/posix_interrupt_watcher.h"
#include "tools/qelt_publish/command_line.h"
#include "tools/qelt_publish/mirror_check.h"
#include "tools/qelt_publish/progress.h"
#include "tools/qelt_publish/publish_error.h"
#include "tools/qelt_publish/publisher.h"

namespace {

using namespace qelt::publish;

int RunPublish(const PublishOptions& options) {
    // Ctrl-C while the files are copied is answered by removing what was staged: killed outright, the run would
    // leave a hidden copy of the package in the mirror root. Made before the copying threads, which inherit its
    // signal mask.
    std::atomic<bool> interrupted{false};
    qelt::PosixInterruptWatcher watcher;
    watcher.Enable([&] { interrupted = true; });
    TerminalProgress progress(options.link ? "hashing" : "copying");
    const PublishResult result = Publish(options, [&](std::uint64_t done, std::uint64_t total) {
        if (interrupted) throw PublishInterrupted("Interrupted; the mirror root is left as it was.");
        progress.Update(done, total);
    });
    progress.Clear();
    for (const std::string& folder : result.emptyFolders)
        std::fprintf(stderr,
                     "qelt-publish: note: the empty folder \"%s\" is left out; a package holds files only.\n",
                     folder.c_str());
    const std::string what = std::to_string(result.files) + (result.files == 1 ? " file, " : " files, ") +
                             FormatBytes(result.bytes) + " in " + std::to_string(result.chunks) +
                             (result.chunks == 1 ? " chunk" : " chunks");
    if (result.unchanged) {
        std::printf("Version %s of package %s was already published with these files (%s); it is unchanged.\n",
                    options.versionId.c_str(), options.packageId.c_str(), what.c_str());
    } else {
        std::printf("Published version %s of package %s: %s.\n", options.versionId.c_str(),
                    options.packageId.c_str(), what.c_str());
    }
    std::printf("Manifest: %s\n", result.manifest.string().c_str());
    if (options.current) std::printf("It is the package's current version.\n");
    return 0;
}

int RunCheck(const std::filesystem::path& root) {
    TerminalProgress progress("checking");
    const CheckReport report =
        CheckMirror(root, [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); });
    progress.Clear();
    for (const std::string& problem : report.problems)
        std::printf("%s\n", problem.c_str());
    for (const DamagedChunk& chunk : report.damaged) {
        std::printf("%s: chunk %u (bytes %llu-%llu) is damaged.\n", chunk.file.c_str(), chunk.chunk,
                    static_cast<unsigned long long>(chunk.lowerBound),
                    static_cast<unsigned long long>(chunk.upperBound));
    }
    std::printf("Checked %zu %s, %zu %s, %llu %s (%s): ", report.manifests,
                report.manifests == 1 ? "manifest" : "manifests", report.files,
                report.files == 1 ? "file" : "files", static_cast<unsigned long long>(report.chunks),
                report.chunks == 1 ? "chunk" : "chunks", FormatBytes(report.bytes).c_str());
    if (report.Healthy()) {
        std::printf("all good.\n");
        return 0;
    }
    std::printf("%zu damaged %s, %zu other %s.\n", report.damaged.size(),
                report.damaged.size() == 1 ? "chunk" : "chunks", report.problems.size(),
                report.problems.size() == 1 ? "problem" : "problems");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Command command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        switch (command.kind) {
            case Command::Kind::Help:
                std::fputs(UsageText().c_str(), stdout);
                return 0;
            case Command::Kind::Check:
                return RunCheck(command.checkRoot);
            case Command::Kind::Publish:
                return RunPublish(command.publish);
        }
    } catch (const UsageError& error) {
        std::fprintf(stderr, "qelt-publish: %s\nTry \"qelt-publish --help\".\n", error.what());
    } catch (const PublishError& error) {
        std::fprintf(stderr, "qelt-publish: %s\n", error.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "qelt-publish: out of memory.\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qelt-publish: %s\n", error.what());
    }
    return 1;
}
