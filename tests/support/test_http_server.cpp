#include "tests/support/test_http_server.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <thread>

namespace qelt::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

constexpr std::size_t kMaxPiece = 1 << 20;
constexpr std::uint64_t kMaxRequestBody = 64 << 20;
constexpr std::uint64_t kMaxRelayedBody = 512 << 20;
constexpr auto kTrickleInterval = std::chrono::milliseconds(50);

std::string_view View(beast::string_view text) {
    return {text.data(), text.size()};
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The origin and path of a target: "/a?x" -> ("", "/a"); "http://h:1/a?x" -> ("h:1", "/a").
struct ParsedTarget {
    std::string authority;
    std::string path;
    std::string originForm;  // path and query
};

ParsedTarget ParseTarget(std::string_view target) {
    ParsedTarget parsed;
    std::string_view rest = target;
    constexpr std::string_view kScheme = "http://";
    if (rest.size() >= kScheme.size() && EqualsIgnoreCase(rest.substr(0, kScheme.size()), kScheme)) {
        rest.remove_prefix(kScheme.size());
        const auto slash = rest.find('/');
        parsed.authority = std::string(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    }
    parsed.originForm = std::string(rest);
    parsed.path = PercentDecode(rest.substr(0, rest.find('?')));
    if (parsed.path.empty()) parsed.path = "/";
    return parsed;
}

// A single byte range of a resource, or why there is none.
struct RangeAnswer {
    enum Kind { Whole, Partial, Unsatisfiable } kind = Whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;  // saturate: still a valid "very large" bound
        value = value * 10 + digit;
    }
    return value;
}

RangeAnswer AnswerRange(std::string_view header, std::uint64_t size) {
    RangeAnswer answer;
    constexpr std::string_view kUnit = "bytes=";
    if (header.size() < kUnit.size() || !EqualsIgnoreCase(header.substr(0, kUnit.size()), kUnit)) return answer;
    std::string_view ranges = header.substr(kUnit.size());
    while (!ranges.empty() && ranges.front() == ' ')
        ranges.remove_prefix(1);
    while (!ranges.empty() && ranges.back() == ' ')
        ranges.remove_suffix(1);
    if (ranges.find(',') != std::string_view::npos) return answer;
    const auto dash = ranges.find('-');
    if (dash == std::string_view::npos) return answer;
    const auto firstText = ranges.substr(0, dash);
    const auto lastText = ranges.substr(dash + 1);
    if (firstText.empty()) {
        const auto suffix = ParseNumber(lastText);
        if (!suffix) return answer;
        if (*suffix == 0 || size == 0) return {RangeAnswer::Unsatisfiable};
        return {RangeAnswer::Partial, size - std::min(*suffix, size), size - 1};
    }
    const auto first = ParseNumber(firstText);
    if (!first) return answer;
    std::uint64_t last = UINT64_MAX;
    if (!lastText.empty()) {
        const auto parsedLast = ParseNumber(lastText);
        if (!parsedLast || *parsedLast < *first) return answer;
        last = *parsedLast;
    }
    if (*first >= size) return {RangeAnswer::Unsatisfiable};
    return {RangeAnswer::Partial, *first, std::min(last, size - 1)};
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 407:
            return "Proxy Authentication Required";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return "Status";
    }
}

// Where a response body comes from: memory shared with the server's table, or a file read piece by piece.
struct Content {
    std::shared_ptr<const std::string> memory;
    std::filesystem::path file;
    std::uint64_t size = 0;
    std::string contentType = "application/octet-stream";
};

// Everything the server thread and the callers share.
struct ServerState {
    // Declared first so that it is destroyed last: pending handlers own the sessions, whose sockets need it.
    asio::io_context io;
    // Keeps run() going while the acceptor is closed and no connection is open.
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning = asio::make_work_guard(io);
    tcp::acceptor acceptor{io};
    std::uint16_t port = 0;
    std::atomic<std::uint64_t> connectionCount{0};

    mutable std::mutex mutex;
    mutable std::condition_variable requestArrived;
    std::map<std::string, Content> files;
    std::filesystem::path folder;
    bool proxyMode = false;
    struct PathFault {
        HttpFault fault;
        int remaining;
    };
    std::map<std::string, PathFault> pathFaults;
    std::map<std::uint64_t, HttpFault> numberFaults;
    std::vector<RecordedRequest> records;

    std::thread thread;

    void Open(std::uint16_t wantedPort) {
        const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), wantedPort);
        acceptor.open(endpoint.protocol());
        acceptor.set_option(asio::socket_base::reuse_address(true));
        acceptor.bind(endpoint);
        acceptor.listen(asio::socket_base::max_listen_connections);
        port = acceptor.local_endpoint().port();
        Accept();
    }

    void Accept();

    // Runs fn on the server thread and waits for it.
    void RunOnServerThread(std::function<void()> fn) {
        std::packaged_task<void()> task(std::move(fn));
        auto done = task.get_future();
        asio::post(io, [&task] { task(); });
        done.get();
    }

    // What the server decided for one received request, taken under the lock.
    struct Decision {
        std::uint64_t number = 0;
        HttpFault fault;
        std::optional<Content> content;
        bool forward = false;
    };

    Decision Receive(RecordedRequest record, bool absoluteForm) {
        Decision decision;
        std::lock_guard lock(mutex);
        decision.number = records.size() + 1;
        record.number = decision.number;
        decision.forward = absoluteForm && proxyMode;
        if (!decision.forward) {
            if (auto byNumber = numberFaults.find(decision.number); byNumber != numberFaults.end()) {
                decision.fault = byNumber->second;
                numberFaults.erase(byNumber);
            } else if (auto byPath = pathFaults.find(record.path); byPath != pathFaults.end()) {
                decision.fault = byPath->second.fault;
                if (byPath->second.remaining > 0 && --byPath->second.remaining == 0) pathFaults.erase(byPath);
            }
            decision.content = Lookup(record.path);
        }
        records.push_back(std::move(record));
        requestArrived.notify_all();
        return decision;
    }

    // Needs the lock.
    std::optional<Content> Lookup(const std::string& path) const {
        if (auto file = files.find(path); file != files.end()) return file->second;
        if (folder.empty()) return std::nullopt;
        const std::filesystem::path relative = std::filesystem::path(path).relative_path();
        for (const auto& segment : relative) {
            if (segment == "..") return std::nullopt;
        }
        std::error_code error;
        const auto full = folder / relative;
        if (!std::filesystem::is_regular_file(full, error)) return std::nullopt;
        const auto size = std::filesystem::file_size(full, error);
        if (error) return std::nullopt;
        Content content;
        content.file = full;
        content.size = size;
        return content;
    }
};

// One client connection: reads requests one after another and answers each, on the server thread only.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(ServerState& server, tcp::socket socket, std::uint64_t connection)
        : server_(server), socket_(std::move(socket)), timer_(server.io), connection_(connection) {}

    void Start() { ReadRequest(); }

private:
    void ReadRequest() {
        parser_.emplace();
        parser_->body_limit(kMaxRequestBody);
        http::async_read_header(socket_, buffer_, *parser_,
                                [self = shared_from_this()](error_code error, std::size_t) {
                                    if (error) return self->Close();
                                    self->OnHeader();
                                });
    }

    void OnHeader() {
        const auto expect = View(parser_->get()[http::field::expect]);
        if (!EqualsIgnoreCase(expect, "100-continue")) return ReadBody();
        static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(socket_, asio::buffer(kContinue),
                          [self = shared_from_this()](error_code error, std::size_t) {
                              if (error) return self->Close();
                              self->ReadBody();
                          });
    }

    void ReadBody() {
        if (parser_->is_done()) return Handle();
        http::async_read(socket_, buffer_, *parser_, [self = shared_from_this()](error_code error, std::size_t) {
            if (error) return self->Close();
            self->Handle();
        });
    }

    void Handle() {
        request_ = parser_->release();
        parser_.reset();
        keepAlive_ = request_.keep_alive();

        RecordedRequest record;
        record.connection = connection_;
        record.method = std::string(request_.method_string());
        record.target = std::string(request_.target());
        const ParsedTarget target = ParseTarget(record.target);
        record.path = target.path;
        for (const auto& field : request_) {
            record.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        }
        record.body = request_.body();

        auto decision = server_.Receive(std::move(record), !target.authority.empty());
        if (decision.forward) return Forward(target);
        Answer(decision);
    }

    void Answer(const ServerState::Decision& decision) {
        fault_ = decision.fault;
        const auto method = request_.method();
        headOnly_ = method == http::verb::head;
        if (!fault_.redirectTo.empty()) {
            return SendText(302, "redirect\n", "Location: " + fault_.redirectTo + "\r\n");
        }
        if (fault_.status != 0) return SendText(fault_.status, "status " + std::to_string(fault_.status) + "\n");
        if (method != http::verb::get && method != http::verb::head && method != http::verb::post) {
            return SendText(405, "method not allowed\n");
        }
        if (!decision.content) {
            if (method == http::verb::post) return SendText(200, "");
            return SendText(404, "not found\n");
        }
        content_ = *decision.content;

        RangeAnswer range;
        if (!fault_.ignoreRange) range = AnswerRange(View(request_[http::field::range]), content_.size);
        std::string extra = "Accept-Ranges: bytes\r\nContent-Type: " + content_.contentType + "\r\n";
        int status = 200;
        switch (range.kind) {
            case RangeAnswer::Whole:
                bodyStart_ = 0;
                bodyLength_ = content_.size;
                break;
            case RangeAnswer::Partial:
                status = 206;
                bodyStart_ = range.first;
                bodyLength_ = range.last - range.first + 1;
                extra += "Content-Range: bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                         "/" + std::to_string(content_.size) + "\r\n";
                break;
            case RangeAnswer::Unsatisfiable:
                return SendText(416, "range not satisfiable\n",
                                "Content-Range: bytes */" + std::to_string(content_.size) + "\r\n");
        }
        if (!content_.file.empty()) {
            file_ = std::ifstream(content_.file, std::ios::binary);
            file_.seekg(static_cast<std::streamoff>(bodyStart_));
        }
        Send(status, extra);
    }

    // A short generated body, to which the body faults still apply.
    void SendText(int status, std::string body, std::string extra = {}) {
        content_ = Content{};
        content_.size = body.size();
        content_.memory = std::make_shared<const std::string>(std::move(body));
        bodyStart_ = 0;
        bodyLength_ = content_.size;
        Send(status, extra + "Content-Type: text/plain\r\n");
    }

    void Send(int status, const std::string& extraHeaders) {
        head_ = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n" +
                "Content-Length: " + std::to_string(bodyLength_) + "\r\n" + extraHeaders + HeaderPadding() +
                (keepAlive_ ? "Connection: keep-alive\r\n" : "Connection: close\r\n") + "\r\n";
        sent_ = 0;
        stalled_ = false;
        if (fault_.delay.count() > 0) {
            timer_.expires_after(fault_.delay);
            timer_.async_wait([self = shared_from_this()](error_code error) {
                if (!error) self->WriteHead();
            });
            return;
        }
        WriteHead();
    }

    std::string HeaderPadding() const {
        std::string padding;
        const std::string name = "X-Padding: ";
        const std::uint64_t line = fault_.headerPaddingLineBytes > name.size() + 2 ? fault_.headerPaddingLineBytes
                                                                                   : fault_.headerPaddingBytes;
        for (std::uint64_t left = fault_.headerPaddingBytes; left > name.size() + 2;) {
            const std::uint64_t length = std::min(left, line);
            padding += name + std::string(length - name.size() - 2, 'a') + "\r\n";
            left -= length;
        }
        return padding;
    }

    void WriteHead() {
        asio::async_write(socket_, asio::buffer(head_),
                          [self = shared_from_this()](error_code error, std::size_t) {
                              if (error) return self->Close();
                              if (self->headOnly_) return self->Finish();
                              self->WriteBody();
                          });
    }

    void WriteBody() {
        if (fault_.closeAfterBytes && sent_ >= *fault_.closeAfterBytes) return Close();
        if (sent_ == bodyLength_) return Finish();
        if (fault_.stall.count() > 0 && !stalled_ && sent_ >= fault_.stallAfterBytes) {
            stalled_ = true;
            return Wait(fault_.stall);
        }

        std::uint64_t length = std::min<std::uint64_t>(bodyLength_ - sent_, kMaxPiece);
        if (fault_.closeAfterBytes) length = std::min(length, *fault_.closeAfterBytes - sent_);
        if (fault_.stall.count() > 0 && !stalled_) length = std::min(length, fault_.stallAfterBytes - sent_);
        if (fault_.bytesPerSecond > 0) {
            const std::uint64_t slice =
                std::max<std::uint64_t>(1, fault_.bytesPerSecond * kTrickleInterval.count() / 1000);
            length = std::min(length, slice);
        }

        const std::uint64_t corruptEnd = fault_.corruptOffset + fault_.corruptLength;
        const bool corrupts =
            fault_.corruptLength > 0 && fault_.corruptOffset < sent_ + length && corruptEnd > sent_;
        asio::const_buffer piece;
        if (content_.memory && !corrupts) {
            piece = asio::buffer(content_.memory->data() + bodyStart_ + sent_, length);
        } else {
            piece_.resize(length);
            if (content_.memory) {
                std::copy_n(content_.memory->data() + bodyStart_ + sent_, length, piece_.data());
            } else if (!file_.read(piece_.data(), static_cast<std::streamsize>(length))) {
                return Close();
            }
            if (corrupts) {
                const std::uint64_t from = std::max(fault_.corruptOffset, sent_);
                const std::uint64_t to = std::min(corruptEnd, sent_ + length);
                for (std::uint64_t at = from; at < to; ++at)
                    piece_[at - sent_] = static_cast<char>(~piece_[at - sent_]);
            }
            piece = asio::buffer(piece_);
        }
        asio::async_write(socket_, piece, [self = shared_from_this()](error_code error, std::size_t written) {
            if (error) return self->Close();
            self->sent_ += written;
            if (self->fault_.bytesPerSecond > 0) return self->Wait(kTrickleInterval);
            self->WriteBody();
        });
    }

    void Wait(std::chrono::milliseconds time) {
        timer_.expires_after(time);
        timer_.async_wait([self = shared_from_this()](error_code error) {
            if (!error) self->WriteBody();
        });
    }

    void Finish() {
        file_ = std::ifstream();
        content_ = Content{};
        if (keepAlive_) return ReadRequest();
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        socket_.close(ignored);
    }

    void Close() {
        error_code ignored;
        timer_.cancel();
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        if (upstream_) upstream_->close(ignored);
    }

    // Proxy mode: relays the request to its loopback origin and the origin's answer back.
    void Forward(const ParsedTarget& target) {
        fault_ = HttpFault{};
        headOnly_ = request_.method() == http::verb::head;
        std::string host = target.authority;
        std::string portText;
        if (host.starts_with('[')) {
            const auto close = host.find(']');
            if (close == std::string::npos) return SendText(502, "bad proxy target\n");
            if (close + 1 < host.size() && host[close + 1] == ':') portText = host.substr(close + 2);
            host = host.substr(1, close - 1);
        } else if (const auto colon = host.rfind(':'); colon != std::string::npos) {
            portText = host.substr(colon + 1);
            host.resize(colon);
        }
        std::uint16_t port = 80;
        if (!portText.empty()) {
            const auto parsed = ParseNumber(portText);
            if (!parsed || *parsed > 65535) return SendText(502, "bad proxy target\n");
            port = static_cast<std::uint16_t>(*parsed);
        }
        if (host == "localhost") host = "127.0.0.1";
        error_code error;
        const auto address = asio::ip::make_address(host, error);
        // Only this machine: a test must never reach out.
        if (error || !address.is_loopback()) return SendText(502, "proxy forwards only to loopback\n");

        upstreamRequest_ = request_;
        upstreamRequest_.target(target.originForm);
        upstreamRequest_.erase("Proxy-Connection");
        upstreamRequest_.erase(http::field::proxy_authorization);
        upstreamRequest_.keep_alive(false);
        upstreamRequest_.prepare_payload();
        upstream_.emplace(server_.io);
        upstream_->async_connect(tcp::endpoint(address, port), [self = shared_from_this()](error_code error) {
            if (error) return self->SendText(502, "origin refused\n");
            http::async_write(*self->upstream_, self->upstreamRequest_, [self](error_code error, std::size_t) {
                if (error) return self->SendText(502, "origin write failed\n");
                self->ReadUpstream();
            });
        });
    }

    void ReadUpstream() {
        upstreamParser_.emplace();
        upstreamParser_->body_limit(kMaxRelayedBody);
        upstreamParser_->skip(headOnly_);
        http::async_read(*upstream_, upstreamBuffer_, *upstreamParser_,
                         [self = shared_from_this()](error_code error, std::size_t) {
                             if (error) return self->SendText(502, "origin answer unreadable\n");
                             self->Relay();
                         });
    }

    void Relay() {
        auto response = upstreamParser_->release();
        upstreamParser_.reset();
        error_code ignored;
        upstream_->close(ignored);
        upstream_.reset();

        std::string extra;
        for (const auto& field : response) {
            const auto name = field.name();
            if (name == http::field::connection || name == http::field::content_length ||
                name == http::field::transfer_encoding || name == http::field::keep_alive) {
                continue;
            }
            extra += std::string(field.name_string()) + ": " + std::string(field.value()) + "\r\n";
        }
        content_ = Content{};
        content_.size = response.body().size();
        content_.memory = std::make_shared<const std::string>(std::move(response.body()));
        bodyStart_ = 0;
        bodyLength_ = content_.size;
        Send(static_cast<int>(response.result_int()), extra);
    }

    ServerState& server_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    const std::uint64_t connection_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::request<http::string_body> request_;
    bool keepAlive_ = true;
    bool headOnly_ = false;

    HttpFault fault_;
    std::string head_;
    Content content_;
    std::ifstream file_;
    std::uint64_t bodyStart_ = 0;
    std::uint64_t bodyLength_ = 0;
    std::uint64_t sent_ = 0;
    bool stalled_ = false;
    std::string piece_;

    std::optional<tcp::socket> upstream_;
    http::request<http::string_body> upstreamRequest_;
    beast::flat_buffer upstreamBuffer_;
    std::optional<http::response_parser<http::string_body>> upstreamParser_;
};

void ServerState::Accept() {
    acceptor.async_accept([this](error_code error, tcp::socket socket) {
        if (!acceptor.is_open()) return;  // refusing or stopping
        if (!error) {
            std::make_shared<Session>(*this, std::move(socket), ++connectionCount)->Start();
        }
        Accept();
    });
}

}  // namespace

struct TestHttpServer::Impl : ServerState {};

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoreCase(key, name)) return value;
    }
    return std::nullopt;
}

std::string RecordedRequest::RequestLine() const {
    return method + " " + target + " HTTP/1.1";
}

TestHttpServer::TestHttpServer() : impl_(std::make_unique<Impl>()) {
    impl_->Open(0);
    impl_->thread = std::thread([impl = impl_.get()] {
        // A handler that throws loses its connection, never the server.
        while (true) {
            try {
                impl->io.run();
                return;
            } catch (...) {
            }
        }
    });
}

TestHttpServer::~TestHttpServer() {
    impl_->io.stop();
    impl_->thread.join();
}

std::uint16_t TestHttpServer::Port() const {
    return impl_->port;
}

std::string TestHttpServer::Origin() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

std::string TestHttpServer::Url(const std::string& path) const {
    return Origin() + path;
}

std::string TestHttpServer::ProxyAddress() const {
    return "127.0.0.1:" + std::to_string(impl_->port);
}

void TestHttpServer::AddFile(const std::string& path, std::string content, std::string contentType) {
    Content entry;
    entry.size = content.size();
    entry.memory = std::make_shared<const std::string>(std::move(content));
    entry.contentType = std::move(contentType);
    std::lock_guard lock(impl_->mutex);
    impl_->files[path] = std::move(entry);
}

void TestHttpServer::RemoveFile(const std::string& path) {
    std::lock_guard lock(impl_->mutex);
    impl_->files.erase(path);
}

void TestHttpServer::ServeFolder(std::filesystem::path folder) {
    std::lock_guard lock(impl_->mutex);
    impl_->folder = std::move(folder);
}

void TestHttpServer::SetProxyMode(bool enabled) {
    std::lock_guard lock(impl_->mutex);
    impl_->proxyMode = enabled;
}

void TestHttpServer::SetFault(const std::string& path, HttpFault fault, int times) {
    std::lock_guard lock(impl_->mutex);
    if (times == 0) {
        impl_->pathFaults.erase(path);
        return;
    }
    impl_->pathFaults[path] = ServerState::PathFault{std::move(fault), times};
}

void TestHttpServer::SetFaultForRequest(std::uint64_t number, HttpFault fault) {
    std::lock_guard lock(impl_->mutex);
    impl_->numberFaults[number] = std::move(fault);
}

void TestHttpServer::ClearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->pathFaults.clear();
    impl_->numberFaults.clear();
}

void TestHttpServer::SetRefusingConnections(bool refusing) {
    impl_->RunOnServerThread([impl = impl_.get(), refusing] {
        if (refusing == !impl->acceptor.is_open()) return;
        if (refusing) {
            error_code ignored;
            impl->acceptor.close(ignored);
        } else {
            impl->Open(impl->port);
        }
    });
}

std::uint64_t TestHttpServer::RequestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->records.size();
}

std::uint64_t TestHttpServer::ConnectionCount() const {
    return impl_->connectionCount.load();
}

std::vector<RecordedRequest> TestHttpServer::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->records;
}

bool TestHttpServer::WaitForRequestCount(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->requestArrived.wait_for(lock, timeout, [&] { return impl_->records.size() >= count; });
}

std::string MakeTestContent(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string content(size, '\0');
    std::size_t at = 0;
    while (at + 4 <= size) {
        const std::uint32_t value = generator();
        std::memcpy(content.data() + at, &value, 4);
        at += 4;
    }
    for (; at < size; ++at)
        content[at] = static_cast<char>(generator());
    return content;
}

}  // namespace qelt::test
