#include "Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace platform {

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr && path[0] != '\0' ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        if (end > start) {
            const std::string candidate = dirs.substr(start, end - start) + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return "";
}

TempFolder::TempFolder(const std::string& prefix) {
    std::error_code ec;
    const std::string pattern =
        (std::filesystem::temp_directory_path(ec) / (prefix + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) != nullptr) {
        path = name.data();
    }
}

TempFolder::~TempFolder() {
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

RunResult RunConfined(const std::vector<std::string>& args, const ConfinedRun& how) {
    RunResult result;
    if (args.empty()) {
        return result;
    }
    // Everything the child needs is made before the fork: after it only
    // calls that are safe in a child of a threaded process are made.
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // No variable of the caller's reaches the program (GS_OPTIONS or GS_LIB
    // would change what Ghostscript does), only a path and the folder.
    const std::vector<std::string> environment = {"PATH=/usr/bin:/bin",   "LC_ALL=C",
                                                  "TMPDIR=" + how.folder, "TEMP=" + how.folder,
                                                  "TMP=" + how.folder,    "HOME=" + how.folder};
    std::vector<char*> envp;
    for (const std::string& e : environment) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return result;
    }
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(how.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 ||
            ::chdir(how.folder.c_str()) != 0) {
            ::_exit(127);
        }
        if (how.maxWrittenBytes > 0) {
            const struct rlimit written = {static_cast<rlim_t>(how.maxWrittenBytes),
                                           static_cast<rlim_t>(how.maxWrittenBytes)};
            ::setrlimit(RLIMIT_FSIZE, &written);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + how.timeLimit;
    int status = 0;
    for (auto pause = std::chrono::milliseconds(1);;
         pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            return result;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timedOut = true;
            return result;
        }
        std::this_thread::sleep_for(pause);
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string LastTextLine(const std::string& path, std::size_t max) {
    std::ifstream in(path);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            last = line;
        }
    }
    return last.size() > max ? last.substr(0, max) : last;
}

} // namespace platform
