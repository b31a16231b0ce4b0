#include "support.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace {

// A converter caught in a loop is stopped once it has printed this much.
constexpr std::size_t kTraceLimit = 64 << 20;
constexpr mode_t kUmask = 027;

// The runs happen in scratch directories, so the words that name files here are made absolute.
std::vector<std::string> commandWords() {
    const char* wrapper = std::getenv("LYRIC2SYSEX_WRAPPER");
    const char* binary = std::getenv("LYRIC2SYSEX_BINARY");
    std::istringstream split(std::string(wrapper ? wrapper : "") + " " +
                             (binary ? binary : LYRIC2SYSEX_BINARY));
    std::vector<std::string> words;
    for (std::string word; split >> word;)
        words.push_back(fs::exists(word) ? fs::absolute(word).string() : word);
    return words;
}

const std::vector<std::string> kCommand = commandWords();
const fs::path kHome = fs::current_path();

// The permission bits, the attribute user.origin and the names of all, where the target has them.
std::string attributes(const fs::path& path, fs::perms mode) {
    char text[32] = "----", names[64];
    ssize_t listed = 0;
    if (targetHas("posix file system")) {
        std::snprintf(text, sizeof text, "%04o ", static_cast<unsigned>(mode) & 07777);
        getxattr(path.c_str(), "user.origin", text + 5, sizeof text - 6);
        listed = std::max<ssize_t>(0, listxattr(path.c_str(), names, sizeof names));
    }
    return text + std::string(names, static_cast<std::size_t>(listed));
}

}  // namespace

Bytes hex(const std::string& listing) {
    static const std::regex kToken(R"(#.*|"[^"]*"|[{}]|[0-9A-Fa-f]{2}(?![0-9A-Fa-f])|\S+)");
    Bytes bytes;
    std::vector<std::size_t> chunks;  // where the length of each open chunk goes
    for (std::sregex_iterator it(listing.begin(), listing.end(), kToken), end; it != end; ++it) {
        const std::string token = it->str();
        if (token[0] == '"') {
            bytes.insert(bytes.end(), token.begin() + 1, token.end() - 1);
        } else if (token == "{") {
            chunks.push_back(bytes.size());
            bytes.resize(bytes.size() + 4);
        } else if (token == "}") {
            for (int k = 0; k < 4; ++k)
                bytes[chunks.back() + k] =
                    (bytes.size() - chunks.back() - 4) >> (24 - 8 * k) & 0xFF;
            chunks.pop_back();
        } else if (token[0] != '#') {
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(token, nullptr, 16)));
        }
    }
    return bytes;
}

std::string song(const std::vector<std::string>& tracks) {
    char count[32];
    std::snprintf(count, sizeof count, "%02zX %02zX", tracks.size() >> 8, tracks.size() & 0xFF);
    std::string file = "\"MThd\" {00 01 " + std::string(count) + " 00 60}";
    for (const std::string& events : tracks)
        file += "\"MTrk\" {" + events + "\n}";
    return file;
}

void writeFile(const std::string& path, const Bytes& bytes, unsigned mode) {
    std::ofstream(path, std::ios::binary) << std::string(bytes.begin(), bytes.end());
    fs::permissions(path, fs::perms(mode));
}

bool targetHas(std::string_view capability) {
    const char* target = std::getenv("LYRIC2SYSEX_TARGET");
    const std::string_view name = target ? target : "posix";
    // valgrind as a wrapper, and the sanitizers' runtime in a sanitized build, need /proc
    // themselves.
#ifdef __SANITIZE_ADDRESS__
    const bool sanitized = true;
#else
    const bool sanitized = false;
#endif
    const bool bare =
        name == "posix" && !sanitized && std::getenv("LYRIC2SYSEX_WRAPPER") == nullptr;
    if (capability == "unnamed files")
        return bare && std::getenv("LYRIC2SYSEX_BINARY") == nullptr;
    if (capability == "an empty /proc" || capability == "injected failures")
        return bare && (capability != "an empty /proc" || geteuid() == 0);
    return name == "posix" ? capability != "root" || geteuid() == 0
                           : capability == "real files" && name != "wasm";
}

Scratch::Scratch() {
    root = (fs::temp_directory_path() / "lyric2sysex-test.XXXXXX").string();
    fs::current_path(mkdtemp(root.data()));
    fs::permissions(root, fs::perms(0755));
}

Scratch::~Scratch() {
    fs::current_path(kHome);
    fs::remove_all(root);
}

Snapshot snapshot() {
    Snapshot files;
    for (const fs::directory_entry& file : fs::recursive_directory_iterator(".")) {
        const fs::file_status status = file.symlink_status();
        std::ifstream in(fs::is_regular_file(status) ? file.path() : "", std::ios::binary);
        files[file.path().lexically_relative(".").generic_string()] =
            fs::is_symlink(status) ? "-> " + fs::read_symlink(file.path()).generic_string()
                                   : attributes(file.path(), status.permissions()) + "\n" +
                                         std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

std::string entry(const Snapshot& before, const std::string& path, const Bytes& bytes) {
    const auto old = before.find(path);
    return (old != before.end() ? old->second.substr(0, old->second.find('\n'))
                                : attributes("", fs::perms(0666 & ~kUmask))) +
           "\n" + std::string(bytes.begin(), bytes.end());
}

Result run(const std::vector<std::string>& args, int how) {
    const bool without_proc = how & kWithoutProc;
    how &= ~kWithoutProc;
    std::vector<std::string> words = kCommand;
    std::string failure;  // an argument "FAIL=call[:n]" is not the converter's
    for (const std::string& arg : args)
        arg.rfind("FAIL=", 0) == 0 ? failure = arg.substr(5) : words.emplace_back(arg);
    std::vector<char*> argv(words.size() + 1);
    for (std::size_t i = 0; i < words.size(); ++i)
        argv[i] = words[i].data();
    int pipe_fds[2];
    // Both ends close in the converter, where only its standard output is the pipe's.
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    // A trace nobody reads has no reader from the start, before the converter's first write.
    if (how == kTraceUnread)
        close(std::exchange(pipe_fds[0], -1));
    const pid_t child = fork();
    if (child == 0) {
        umask(kUmask);
        signal(SIGHUP, SIG_IGN);
        // Run from a desktop or by cron, the converter may have no standard input at all.
        if (kCommand.size() == 1)
            close(STDIN_FILENO);
        if (!failure.empty() && (setenv("LD_PRELOAD", LYRIC2SYSEX_FAIL_LIBRARY, 1) != 0 ||
                                 setenv("LYRIC2SYSEX_FAIL", failure.c_str(), 1) != 0))
            _exit(126);
        dup2(how == kTraceToFull ? open("/dev/full", O_WRONLY) : pipe_fds[1], STDOUT_FILENO);
        if (const rlimit limit{4096, 4096}; how == kFileSizeLimit)
            setrlimit(RLIMIT_FSIZE, &limit);
        // Where /proc is missing: a mount namespace of its own, with an empty one.
        if (without_proc && (unshare(CLONE_NEWNS) != 0 ||
                             mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                             mount("none", "/proc", "tmpfs", 0, nullptr) != 0))
            _exit(126);
        // 65534: nobody, without root's groups.
        if (how != kAsNobody ||
            (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0))
            execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    Result result;
    char block[65536];
    for (ssize_t got; (got = read(pipe_fds[0], block, sizeof block)) > 0;) {
        result.out.append(block, static_cast<std::size_t>(got));
        const std::size_t line_end = result.out.find('\n');
        if (how == kChangeInput && line_end != std::string::npos) {
            std::ofstream("in.mid", std::ios::app) << "changed";
            kill(child, SIGHUP);
            how = kRun;
        }
        const bool interrupt = how == kSigTerm && line_end != std::string::npos;
        if (interrupt || result.out.size() > kTraceLimit) {
            result.out.resize(interrupt ? line_end + 1 : result.out.size());
            kill(child, interrupt ? SIGTERM : SIGKILL);
            break;
        }
    }
    // A process still writing then fails, rather than wait on the pipe.
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
