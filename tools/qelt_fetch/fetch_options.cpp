#include "tools/qelt_fetch/fetch_options.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "app/launch_options.h"
#include "tools/argument_reader.h"

namespace qelt::fetch {
namespace {

using ArgumentReader = tools::ArgumentReader<UsageError>;

std::string Required(const std::optional<std::string>& value, const std::string& option) {
    if (!value) throw UsageError("The option " + option + " is missing.");
    if (value->empty()) throw UsageError("The value of " + option + " is empty.");
    return *value;
}

// Ids become URL path segments and file names on the mirror; control characters and separators have no place
// in them.
std::string Identifier(const std::optional<std::string>& value, const std::string& option) {
    std::string id = Required(value, option);
    for (unsigned char c : id) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\')
            throw UsageError("The value of " + option + " may not contain \"/\", \"\\\" or control characters.");
    }
    return id;
}

std::int32_t ParseLogMask(const std::string& text) {
    const std::size_t digits = text.starts_with('-') || text.starts_with('+') ? 1 : 0;
    if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos)
        throw UsageError("The log mask \"" + text + "\" is not a number.");
    try {
        return static_cast<std::int32_t>(ParseUnsignedLong32(text));
    } catch (const std::exception&) {
        throw UsageError("The log mask \"" + text + "\" does not fit in 32 bits.");
    }
}

unsigned ParseRetries(const std::string& text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 1000)
        throw UsageError("The retry count \"" + text + "\" is not a number from 0 to 1000.");
    return value;
}

std::chrono::milliseconds ParseSeconds(const std::string& text) {
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
        seconds < 0 || seconds > 3600) {
        throw UsageError("The retry delay \"" + text + "\" is not a number of seconds from 0 to 3600.");
    }
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

}  // namespace

std::string ParseHost(const std::string& option, const std::string& text) {
    std::string host = text;
    if (host.starts_with("http://")) host.erase(0, 7);
    if (host.find("://") != std::string::npos)
        throw UsageError("The value of " + option + " must be an HTTP host; other schemes are not supported.");
    if (host.ends_with('/')) host.pop_back();
    if (host.empty()) throw UsageError("The host given with " + option + " is empty.");
    if (host.find_first_of("/?#@ \t") != std::string::npos)
        throw UsageError("The value of " + option + " must be HOST or HOST:PORT, without a path.");
    // A port follows the last ":" unless that colon is inside a bracketed IPv6 address.
    const auto colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        const std::string port = host.substr(colon + 1);
        unsigned number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (colon == 0 || port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 ||
            number > 65535) {
            throw UsageError("The port in \"" + text + "\" given with " + option +
                             " is not a number from 1 to 65535.");
        }
    }
    return host;
}

FetchOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    ArgumentReader reader(arguments);
    std::optional<std::string> host, partner, package, version, dest, log, analytics, retries, delay;
    FetchOptions options;
    while (reader.Next()) {
        const std::string& option = reader.Name();
        if (option == "--help" || option == "-h") {
            reader.NoValue();
            options.help = true;
        } else if (option == "--host") {
            reader.ValueOnce(host);
        } else if (option == "--partner") {
            reader.ValueOnce(partner);
        } else if (option == "--package") {
            reader.ValueOnce(package);
        } else if (option == "--version") {
            reader.ValueOnce(version);
        } else if (option == "--dest") {
            reader.ValueOnce(dest);
        } else if (option == "--log") {
            reader.ValueOnce(log);
        } else if (option == "--analytics-host") {
            reader.ValueOnce(analytics);
        } else if (option == "--retries") {
            reader.ValueOnce(retries);
        } else if (option == "--retry-delay") {
            reader.ValueOnce(delay);
        } else if (option.starts_with("-")) {
            throw UsageError("Unknown option " + option + ".");
        } else {
            throw UsageError("Unexpected argument \"" + option + "\"; every value belongs to an option.");
        }
    }
    if (options.help) return options;

    options.host = ParseHost("--host", Required(host, "--host"));
    options.partnerId = Identifier(partner, "--partner");
    options.packageId = Identifier(package, "--package");
    if (version) options.versionId = Identifier(version, "--version");
    options.destination = Required(dest, "--dest");
    if (log) options.logMask = ParseLogMask(*log);
    if (analytics) options.analyticsHost = ParseHost("--analytics-host", *analytics);
    if (retries) options.retries = ParseRetries(*retries);
    if (delay) options.retryDelay = ParseSeconds(*delay);
    return options;
}

std::string UsageText() {
    return R"(Usage:
  qelt-fetch --host HOST[:PORT] --partner ID --package ID [--version ID] --dest FOLDER [options]

Fetches one package into FOLDER with the download engine of the bootstrapper: reads the package manifest and
the partner's node list from the manifest host, fetches every chunk from the nodes with range requests and
verifies each against its CRC-32. Files already in FOLDER are verified in place and only their damaged or
missing chunks are fetched, so running the command again continues or repairs a download.

Options:
  --host HOST[:PORT]    the manifest host (an optional "http://" is accepted)
  --partner ID          the partner id
  --package ID          the package id
  --version ID          the version to fetch (default: the package's current version)
  --dest FOLDER         the folder the package's files go into (created when missing)
  --log MASK            write the engine's work log (JSON lines) with this level mask: 1 transfer events,
                        2 works that failed, 4 retries, 8 other completions, 16 only important works;
                        -9 is the bootstrapper's default. Default 0: no log
  --analytics-host HOST[:PORT]
                        post the transfer's analytics events to this host; by default none is posted
  --retries N           how often a transfer stopped by a connection or checksum error is retried (default 3)
  --retry-delay SECONDS the pause before each retry (default 5)
  -h, --help            print this text

Progress goes to standard error: one line redrawn in place on a terminal, otherwise a line every few seconds.

Errors: every chunk is retried on other nodes by the engine itself; when a transfer still stops on a connection
or checksum error, qelt-fetch waits --retry-delay and retries, up to --retries times in a row (a retry after
which chunks were verified starts the count again), then gives up. With the defaults and mirrors that refuse
connections that takes about 15 seconds. A full disk, a folder that cannot be written and a bad manifest are
reported at once.

Exit status:
  0    the package is complete and every chunk verified
  1    an error; its message is on standard error
  130  interrupted by SIGINT (Ctrl-C), 143 by SIGTERM: the transfer is suspended, the files keep every chunk
       completed, and the same command continues later. A second Ctrl-C ends the program at once, as safely.

Files: transfer records and work logs go to "Orvane Technologies/Quorvel" under $TMPDIR (else $XDG_CACHE_HOME,
else $HOME/.cache, else /tmp), as for the bootstrapper.
)";
}

}  // namespace qelt::fetch
