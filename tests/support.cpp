#include "support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace {

// A converter caught in a loop is stopped once it has printed this much.
constexpr std::size_t kTraceLimit = 64 << 20;
constexpr unsigned kUmask = 027;

#ifdef _WIN32
constexpr const char* kHostTarget = "windows";
const bool kRoot = false;
#else
constexpr const char* kHostTarget = "posix";
const bool kRoot = geteuid() == 0;
#endif
#ifdef __linux__
constexpr bool kLinux = true;
#else
constexpr bool kLinux = false;
#endif

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
std::string attributes([[maybe_unused]] const fs::path& path, fs::perms mode) {
    char text[32] = "----", names[64];
    std::size_t listed = 0;
    if (targetHas("posix file system")) {
        std::snprintf(text, sizeof text, "%04o ", static_cast<unsigned>(mode) & 07777);
#ifdef __linux__
        getxattr(path.c_str(), "user.origin", text + 5, sizeof text - 6);
        listed = std::max<ssize_t>(0, listxattr(path.c_str(), names, sizeof names));
#endif
    }
    return text + std::string(names, listed);
}

enum Stop { kHangUp, kTerminate, kKill };

// The converter started as a process of its own, and the reading end of the pipe that is its
// standard output; finish() closes that first, so that a process still writing fails rather than
// wait on it.
#ifdef _WIN32
struct Child {
    HANDLE process, out;
};

Child start(const std::vector<std::string>& words, int how, const std::string& failure) {
    if (!failure.empty() || (how != kRun && how != kChangeInput))
        throw std::logic_error("Windows runs the converter only plainly");
    // Quoted as the C runtime splits it: backslashes are doubled before a quote, which is escaped.
    std::wstring line;
    for (const std::string& word : words) {
        std::size_t backslashes = 0;
        line += L'"';
        for (const wchar_t c : fs::u8path(word).wstring()) {
            if (c == L'"')
                line.append(backslashes + 1, L'\\');
            backslashes = c == L'\\' ? backslashes + 1 : 0;
            line += c;
        }
        line.append(backslashes, L'\\') += L"\" ";
    }
    // The converter has no standard input, the pipe's writing end as its output, and this
    // process's standard error.
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION started{};
    HANDLE out = nullptr;
    if (!CreatePipe(&out, &startup.hStdOutput, &inherited, 0) ||
        !SetHandleInformation(out, HANDLE_FLAG_INHERIT, 0))
        throw std::runtime_error("no pipe");
    // Wine refuses a start now and then on a busy machine: tried again, that passes; a fault stays.
    for (int tries = 1; !CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &started);
         ++tries)
        if (tries == 5)
            throw std::runtime_error("no process: error " + std::to_string(GetLastError()));
    CloseHandle(startup.hStdOutput);
    CloseHandle(started.hThread);
    return {started.hProcess, out};
}

std::size_t readSome(const Child& child, char* into, std::size_t size) {
    DWORD got = 0;
    return ReadFile(child.out, into, static_cast<DWORD>(size), &got, nullptr) ? got : 0;
}

// No signals: a hangup is nothing, and the others end the process.
void stop(const Child& child, Stop stop) {
    if (stop != kHangUp)
        TerminateProcess(child.process, 1);
}

int finish(const Child& child) {
    CloseHandle(child.out);
    DWORD status = 0;
    WaitForSingleObject(child.process, INFINITE);
    GetExitCodeProcess(child.process, &status);
    CloseHandle(child.process);
    return static_cast<int>(status);
}
#else
struct Child {
    pid_t pid;
    int out;
};

Child start(std::vector<std::string> words, int how, const std::string& failure) {
    std::vector<char*> argv(words.size() + 1);
    for (std::size_t i = 0; i < words.size(); ++i)
        argv[i] = words[i].data();
    int pipe_fds[2];
    // Both ends close in the converter, where only its standard output is the pipe's.
    if (pipe(pipe_fds) != 0 || fcntl(pipe_fds[0], F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(pipe_fds[1], F_SETFD, FD_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    // A trace nobody reads has no reader from the start, before the converter's first write.
    if ((how & ~kWithoutProc) == kTraceUnread)
        close(std::exchange(pipe_fds[0], -1));
    if (const pid_t pid = fork(); pid != 0) {
        close(pipe_fds[1]);
        return {pid, pipe_fds[0]};
    }
    umask(kUmask);
    signal(SIGHUP, SIG_IGN);
    // Run from a desktop or by cron, the converter may have no standard input at all.
    if (kCommand.size() == 1)
        close(STDIN_FILENO);
#ifdef __linux__
    if (!failure.empty() && (setenv("LD_PRELOAD", LYRIC2SYSEX_FAIL_LIBRARY, 1) != 0 ||
                             setenv("LYRIC2SYSEX_FAIL", failure.c_str(), 1) != 0))
        _exit(126);
    // Where /proc is missing: a mount namespace of its own, with an empty one.
    if ((how & kWithoutProc) != 0 &&
        (unshare(CLONE_NEWNS) != 0 ||
         mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
         mount("none", "/proc", "tmpfs", 0, nullptr) != 0))
        _exit(126);
#else
    if (!failure.empty() || (how & kWithoutProc) != 0)
        _exit(126);
#endif
    how &= ~kWithoutProc;
    dup2(how == kTraceToFull ? open("/dev/full", O_WRONLY) : pipe_fds[1], STDOUT_FILENO);
    if (const rlimit limit{4096, 4096}; how == kFileSizeLimit)
        setrlimit(RLIMIT_FSIZE, &limit);
    // 65534: nobody, without root's groups.
    if (how != kAsNobody ||
        (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0))
        execvp(argv[0], argv.data());
    _exit(127);
}

std::size_t readSome(const Child& child, char* into, std::size_t size) {
    return static_cast<std::size_t>(std::max<ssize_t>(0, read(child.out, into, size)));
}

void stop(const Child& child, Stop stop) {
    kill(child.pid, stop == kHangUp ? SIGHUP : stop == kTerminate ? SIGTERM : SIGKILL);
}

int finish(const Child& child) {
    close(child.out);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

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
    std::ofstream(fs::u8path(path), std::ios::binary) << std::string(bytes.begin(), bytes.end());
    fs::permissions(fs::u8path(path), fs::perms(mode));
}

bool targetHas(std::string_view capability) {
    const char* target = std::getenv("LYRIC2SYSEX_TARGET");
    const std::string_view name = target ? target : kHostTarget;
    // valgrind as a wrapper, and the sanitizers' runtime in a sanitized build, need /proc
    // themselves.
#ifdef __SANITIZE_ADDRESS__
    const bool sanitized = true;
#else
    const bool sanitized = false;
#endif
    const bool bare =
        kLinux && name == "posix" && !sanitized && std::getenv("LYRIC2SYSEX_WRAPPER") == nullptr;
    if (capability == "unnamed files")
        return bare && std::getenv("LYRIC2SYSEX_BINARY") == nullptr;
    if (capability == "an empty /proc" || capability == "injected failures")
        return bare && (capability != "an empty /proc" || kRoot);
    if (capability == "linux")
        return kLinux && name == "posix";
    return name == "posix" ? capability != "root" || kRoot
                           : capability == "real files" && name != "wasm";
}

// A name nobody can guess, made as mkdtemp makes it, which not every system has.
Scratch::Scratch() {
    static std::mt19937_64 names(std::random_device{}());
    do
        root = fs::temp_directory_path() / ("lyric2sysex-test." + std::to_string(names()));
    while (!fs::create_directory(root));
    fs::current_path(root);
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
        files[file.path().lexically_relative(".").generic_u8string()] =
            fs::is_symlink(status) ? "-> " + fs::read_symlink(file.path()).generic_u8string()
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
    std::vector<std::string> words = kCommand;
    std::string failure;  // an argument "FAIL=call[:n]" is not the converter's
    for (const std::string& arg : args)
        arg.rfind("FAIL=", 0) == 0 ? failure = arg.substr(5) : words.emplace_back(arg);
    const Child converter = start(std::move(words), how, failure);
    how &= ~kWithoutProc;
    Result result;
    char block[65536];
    for (std::size_t got; (got = readSome(converter, block, sizeof block)) > 0;) {
        result.out.append(block, got);
        const std::size_t line_end = result.out.find('\n');
        if (how == kChangeInput && line_end != std::string::npos) {
            std::ofstream("in.mid", std::ios::app) << "changed";
            stop(converter, kHangUp);
            how = kRun;
        }
        const bool interrupt = how == kSigTerm && line_end != std::string::npos;
        if (interrupt || result.out.size() > kTraceLimit) {
            result.out.resize(interrupt ? line_end + 1 : result.out.size());
            stop(converter, interrupt ? kTerminate : kKill);
            break;
        }
    }
    result.status = finish(converter);
    return result;
}
