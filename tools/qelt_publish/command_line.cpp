#include "tools/qelt_publish/command_line.h"

#include <optional>

#include "tools/argument_reader.h"
#include "tools/qelt_publish/publish_error.h"

namespace qelt::publish {
namespace {

using ArgumentReader = tools::ArgumentReader<UsageError>;

void SetFlag(bool& flag, const std::string& option) {
    if (flag) throw UsageError("The option " + option + " is given twice.");
    flag = true;
}

std::string Required(const std::optional<std::string>& value, const std::string& option) {
    if (!value) throw UsageError("The option " + option + " is missing.");
    return *value;
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& arguments) {
    ArgumentReader reader(arguments);
    std::vector<std::string> positional;
    std::optional<std::string> out, partner, package, version, name, run, chunkSize, check;
    std::vector<std::string> nodes;
    Command command;
    PublishOptions& options = command.publish;
    bool help = false;
    while (reader.Next()) {
        const std::string& option = reader.Name();
        if (!reader.IsOption()) {
            positional.push_back(option);
        } else if (option == "--") {
            reader.EndOptions();
        } else if (option == "--help" || option == "-h") {
            help = true;
        } else if (option == "--out") {
            reader.ValueOnce(out);
        } else if (option == "--partner") {
            reader.ValueOnce(partner);
        } else if (option == "--package") {
            reader.ValueOnce(package);
        } else if (option == "--version") {
            reader.ValueOnce(version);
        } else if (option == "--name") {
            reader.ValueOnce(name);
        } else if (option == "--run") {
            reader.ValueOnce(run);
        } else if (option == "--chunk-size") {
            reader.ValueOnce(chunkSize);
        } else if (option == "--node") {
            nodes.push_back(reader.Value());
        } else if (option == "--check") {
            reader.ValueOnce(check);
        } else if (option == "--current") {
            reader.NoValue();
            SetFlag(options.current, option);
        } else if (option == "--link") {
            reader.NoValue();
            SetFlag(options.link, option);
        } else if (option == "--metalink") {
            reader.NoValue();
            SetFlag(options.metalink, option);
        } else {
            throw UsageError("Unknown option " + option + ".");
        }
    }
    if (help) return command;

    if (check) {
        if (!positional.empty() || out || partner || package || version || name || run || chunkSize ||
            !nodes.empty() || options.current || options.link || options.metalink) {
            throw UsageError("The option --check takes a mirror root and no other arguments.");
        }
        if (check->empty()) throw UsageError("The mirror root given to --check is empty.");
        command.kind = Command::Kind::Check;
        command.checkRoot = *check;
        return command;
    }

    if (positional.empty()) throw UsageError("The source folder is missing.");
    if (positional.size() > 1) throw UsageError("Only one source folder can be published at a time.");
    command.kind = Command::Kind::Publish;
    options.source = positional.front();
    options.root = Required(out, "--out");
    if (options.source.empty() || options.root.empty()) throw UsageError("The source folder or --out is empty.");
    options.partnerId = Required(partner, "--partner");
    options.packageId = Required(package, "--package");
    options.versionId = Required(version, "--version");
    CheckIdentifier("partner id", options.partnerId);
    CheckIdentifier("package id", options.packageId);
    CheckVersionId(options.versionId);
    if (name) {
        if (name->empty()) throw UsageError("The package name given with --name is empty.");
        CheckDocumentText("package name", *name);
        options.name = *name;
    }
    if (run) {
        if (run->empty()) throw UsageError("The run path given with --run is empty.");
        options.run = *run;
    }
    if (chunkSize) options.chunkSize = ParseChunkSize(*chunkSize);
    for (const std::string& node : nodes)
        options.nodes.push_back(ParseNodeAddress(node));
    return command;
}

std::string UsageText() {
    return R"(Usage:
  qelt-publish SOURCE --out ROOT --partner ID --package ID --version ID [options]
  qelt-publish --check ROOT

Publishes the files of the folder SOURCE as one version of a package under the mirror root ROOT, which one
static HTTP server can then serve as manifest host and download node at once:
  ROOT/manifests/<package>/<version>.xml      the package manifest (and current.xml with --current)
  ROOT/nodes/<partner>.xml                    the node list (only when --node is given)
  ROOT/packages/<partner>/<package>/<version>/  the files

Options:
  --out ROOT            the mirror root to publish into (created when missing)
  --partner ID          the partner id
  --package ID          the package id
  --version ID          the version id; ids use letters, digits, "-", ".", "_" and "~"
  --name NAME           the package's display name (default: the name of SOURCE)
  --run PATH            the file to start once the package is complete, relative to SOURCE
  --chunk-size SIZE     bytes per verified chunk, with an optional K, M or G (default 1M)
  --node HOST[:PORT][/PATH]
                        a download node for the partner's node list (repeatable; PATH defaults to
                        /packages/, the layout's own folder); without --node the node list is left alone
  --current             also make this version the package's current version
  --link                hard-link the files into ROOT instead of copying them (same file system only)
  --metalink            also write ROOT/manifests/<package>/<version>.meta4 (Metalink 4) with the node URLs
                        and SHA-256 piece hashes of every file
  --check ROOT          verify every chunk of every published file under ROOT; print the damaged chunks and
                        exit 1 when there are any
  -h, --help            print this text

Publishing a version again with the same files changes nothing; a version already published with other
content is refused. Every document is written to a temporary file and renamed into place.
)";
}

}  // namespace qelt::publish
