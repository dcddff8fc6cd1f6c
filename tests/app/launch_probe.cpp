// A program for the launch tests: records its working folder and arguments, NUL-separated, in the file named by
// QELT_PROBE_RECORD and exits with the code in QELT_PROBE_EXIT. It pauses first, so a launcher that does not
// wait returns before the record exists. With QELT_PROBE_DESCRIPTORS it first writes there the numbers of the
// descriptors above the standard streams that it found open when it started, one a line.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    std::vector<int> inherited;
    for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) inherited.push_back(fd);
    }
    if (const char* descriptors = std::getenv("QELT_PROBE_DESCRIPTORS")) {
        std::ofstream out(descriptors);
        for (const int fd : inherited)
            out << fd << '\n';
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const char* record = std::getenv("QELT_PROBE_RECORD");
    if (!record) return 100;
    const std::string temporary = std::string(record) + ".part";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << std::filesystem::current_path().string() << '\0';
        for (int i = 0; i < argc; ++i)
            out << argv[i] << '\0';
    }
    std::filesystem::rename(temporary, record);
    const char* code = std::getenv("QELT_PROBE_EXIT");
    return code ? std::atoi(code) : 0;
}
