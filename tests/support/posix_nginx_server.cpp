#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/nginx_server.h"

namespace qelt::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kStartAttempts = 3;
constexpr auto kStartTimeout = 10s;
constexpr auto kStopTimeout = 5s;

// A quoted string of the nginx configuration.
std::string Quoted(const fs::path& path) {
    std::string quoted = "\"";
    for (char c : path.string()) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

class Socket {
public:
    Socket() : handle_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (handle_ < 0) throw std::runtime_error("nginx fixture: socket() failed");
    }
    ~Socket() { close(handle_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Handle() const { return handle_; }

private:
    int handle_;
};

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// `count` distinct loopback ports that were free a moment ago. Another program may still take one before nginx
// binds it; the caller then tries again.
std::vector<std::uint16_t> FreePorts(std::size_t count) {
    std::vector<std::unique_ptr<Socket>> held;
    std::vector<std::uint16_t> ports;
    for (std::size_t i = 0; i < count; ++i) {
        auto socket = std::make_unique<Socket>();
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        if (bind(socket->Handle(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(socket->Handle(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("nginx fixture: no free loopback port");
        }
        ports.push_back(ntohs(address.sin_port));
        held.push_back(std::move(socket));
    }
    return ports;
}

bool Accepts(std::uint16_t port) {
    Socket socket;
    const sockaddr_in address = Loopback(port);
    return connect(socket.Handle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

struct NginxServer::Process {
    pid_t pid = -1;
    bool reaped = false;

    // Starts nginx in a process group of its own, so that its workers can be killed with it.
    static std::unique_ptr<Process> Spawn(const fs::path& folder) {
        const std::string prefix = folder.string() + "/";
        const std::string config = (folder / "nginx.conf").string();
        const std::string errorLog = (folder / "error.log").string();
        const char* const argv[] = {kNginx,         "-p", prefix.c_str(),   "-c",
                                    config.c_str(), "-e", errorLog.c_str(), nullptr};
        const int output = open((folder / "nginx.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (output < 0 || input < 0) {
            if (output >= 0) close(output);
            if (input >= 0) close(input);
            throw std::runtime_error("nginx fixture: cannot open nginx's standard streams");
        }
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            // Only async-signal-safe calls from here on: the parent has other threads.
            dup2(input, 0);
            dup2(output, 1);
            dup2(output, 2);
            close_range(3, ~0U, 0);
            setpgid(0, 0);
            // Stops nginx should the test process die without running destructors.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(127);
            execv(kNginx, const_cast<char* const*>(argv));
            _exit(127);
        }
        close(output);
        close(input);
        if (pid < 0) throw std::runtime_error("nginx fixture: fork() failed");
        // Also from here, so that a kill of the group cannot miss a child that has not called setpgid yet.
        setpgid(pid, pid);
        auto process = std::make_unique<Process>();
        process->pid = pid;
        return process;
    }

    // True once nginx's main process has ended (not reaped yet, so its pid and group stay reserved).
    bool HasEnded() const {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid;
    }

    bool WaitForEnd(std::chrono::milliseconds limit) const {
        const auto deadline = Clock::now() + limit;
        while (!HasEnded()) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    // Fast shutdown of nginx and its workers; whatever is left after the grace time is killed.
    void Stop() {
        if (reaped) return;
        kill(pid, SIGTERM);
        WaitForEnd(kStopTimeout);
        kill(-pid, SIGKILL);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        reaped = true;
    }
};

NginxServer::NginxServer(NginxOptions options) {
    if (access(kNginx, X_OK) != 0) throw std::runtime_error(std::string("nginx fixture: no ") + kNginx);
    for (int attempt = 1;; ++attempt) {
        if (TryStart(options)) return;
        if (attempt == kStartAttempts) {
            throw std::runtime_error("nginx fixture: the ports were taken on every attempt:\n" + ErrorLogText());
        }
    }
}

NginxServer::~NginxServer() {
    Stop();
}

void NginxServer::Stop() {
    if (process_) process_->Stop();
    process_.reset();
}

bool NginxServer::TryStart(const NginxOptions& options) {
    ports_ = FreePorts(options.ports);
    WriteConfig(options);
    fs::remove(Folder() / "error.log");
    process_ = Process::Spawn(Folder());
    const auto deadline = Clock::now() + kStartTimeout;
    for (std::uint16_t port : ports_) {
        while (!Accepts(port)) {
            if (process_->HasEnded()) {
                Stop();
                const std::string complaint = ErrorLogText();
                if (complaint.find("Address already in use") != std::string::npos) return false;
                throw std::runtime_error("nginx fixture: nginx did not start:\n" + complaint);
            }
            if (Clock::now() > deadline) {
                Stop();
                throw std::runtime_error("nginx fixture: nginx did not listen within 10 s:\n" + ErrorLogText());
            }
            std::this_thread::sleep_for(5ms);
        }
    }
    return true;
}

void NginxServer::WriteConfig(const NginxOptions& options) const {
    const fs::path& folder = Folder();
    std::ostringstream config;
    config << "daemon off;\nmaster_process on;\n"
           << "worker_processes " << std::max(options.workerProcesses, 1u) << ";\n"
           << "pid " << Quoted(folder / "nginx.pid") << ";\n"
           << "error_log " << Quoted(folder / "error.log") << " warn;\n";
    // Started by root, nginx would hand its workers to an unprivileged user that cannot read a private folder;
    // they keep the caller's user instead. Without root the directive would only draw a warning.
    if (geteuid() == 0) {
        const passwd* user = getpwuid(geteuid());
        const group* userGroup = getgrgid(getegid());
        if (user && userGroup) config << "user " << user->pw_name << " " << userGroup->gr_name << ";\n";
    }
    config << "events { worker_connections 1024; }\n"
           << "http {\n"
           << "  default_type application/octet-stream;\n"
           << "  sendfile on;\n  tcp_nopush on;\n  server_tokens off;\n"
           << "  keepalive_timeout 60s;\n  keepalive_requests 1000000;\n";
    // The defaults lie in system folders that only root may write.
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config << "  " << kind << "_temp_path " << Quoted(folder / (std::string(kind) + "_temp")) << ";\n";
    config << "  log_format qelt '$server_port\\t$request_method\\t$uri\\t$status\\t$http_range\\t"
              "$body_bytes_sent';\n"
           << "  access_log " << Quoted(folder / "access.log") << " qelt;\n";
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        config << "  server {\n    listen 127.0.0.1:" << ports_[i] << ";\n"
               << "    root " << Quoted(fs::absolute(options.root)) << ";\n";
        if (i < options.rateLimits.size() && options.rateLimits[i] != 0)
            config << "    limit_rate " << options.rateLimits[i] << ";\n";
        config << "  }\n";
    }
    config << "}\n";
    std::ofstream(folder / "nginx.conf", std::ios::trunc) << config.str();
}

std::string NginxServer::ErrorLogText() const {
    return ReadText(Folder() / "error.log") + ReadText(Folder() / "nginx.out");
}

std::string NginxServer::Origin(std::size_t index) const {
    return "http://127.0.0.1:" + std::to_string(ports_.at(index));
}

std::string NginxServer::Url(std::size_t index, const std::string& path) const {
    return Origin(index) + path;
}

std::vector<NginxLogEntry> NginxServer::AccessLog() const {
    std::vector<NginxLogEntry> entries;
    std::string text = ReadText(Folder() / "access.log");
    // A line still being written is left for the next read.
    text.erase(text.rfind('\n') + 1);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string port, status, bytes;
        NginxLogEntry entry;
        if (!std::getline(fields, port, '\t') || !std::getline(fields, entry.method, '\t') ||
            !std::getline(fields, entry.path, '\t') || !std::getline(fields, status, '\t') ||
            !std::getline(fields, entry.range, '\t') || !std::getline(fields, bytes)) {
            continue;
        }
        entry.port = static_cast<std::uint16_t>(std::stoul(port));
        entry.status = std::stoi(status);
        if (entry.range == "-") entry.range.clear();
        entry.bodyBytes = std::stoull(bytes);
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool NginxServer::WaitForLogEntries(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (AccessLog().size() < count) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

}  // namespace qelt::test
