#include "support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void removeTree(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0)
        return;
    if (S_ISDIR(status.st_mode)) {
        chmod(path.c_str(), 0700);
        for (const std::string& name : listDirectory(path))
            removeTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace

Bytes hexBytes(std::string_view text) {
    Bytes bytes;
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '#') {
            while (i < text.size() && text[i] != '\n')
                ++i;
            continue;
        }
        const int digit = hexDigit(c);
        if (digit < 0) {
            if (high >= 0)
                throw std::invalid_argument("odd hex digit in fixture");
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd hex digit in fixture");
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes trackChunk(const Bytes& events) {
    const auto n = static_cast<std::uint32_t>(events.size());
    return concat({textBytes("MTrk"),
                   {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                    static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)},
                   events});
}

std::string hexString(const Bytes& bytes) {
    std::string text;
    char pair[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", byte);
        text += pair;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw std::runtime_error("cannot create " + path);
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written)
        throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        throw std::runtime_error("cannot open " + path);
    Bytes bytes;
    std::uint8_t block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    std::fclose(file);
    return bytes;
}

bool fileExists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr)
        return names;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(directory);
    return names;
}

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/lyric2sysex-test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make " + pattern);
    root = pattern;
}

ScratchDir::~ScratchDir() {
    removeTree(root);
}

std::string ScratchDir::path(std::string_view name) const {
    return root + "/" + std::string(name);
}

const char* converterPath() {
    return LYRIC2SYSEX_BINARY;
}

namespace {

std::vector<std::string> commandWords(const std::vector<std::string>& args) {
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("LYRIC2SYSEX_WRAPPER")) {
        std::istringstream split(wrapper);
        for (std::string word; split >> word;)
            words.push_back(word);
    }
    words.push_back(converterPath());
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

Started spawn(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> words = commandWords(args);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int out_fd = options.stdout_path.empty()
                               ? pipe_fds[1]
                               : open(options.stdout_path.c_str(), O_WRONLY | O_CREAT, 0644);
        dup2(out_fd, STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        if (options.umask >= 0)
            umask(static_cast<mode_t>(options.umask));
        if (options.file_size_limit >= 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                               static_cast<rlim_t>(options.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (const std::string& setting : options.environment) {
            const std::size_t equals = setting.find('=');
            setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
        }
        if (options.user != 0 && (setgid(options.user) != 0 || setuid(options.user) != 0)) {
            _exit(126);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    return Started{child, pipe_fds[0]};
}

}  // namespace

RunResult runConverter(const std::vector<std::string>& args, const RunOptions& options) {
    return finishConverter(spawn(args, options));
}

Started startConverter(const std::vector<std::string>& args, const RunOptions& options) {
    return spawn(args, options);
}

RunResult finishConverter(const Started& started) {
    RunResult result;
    char block[4096];
    ssize_t got;
    while ((got = read(started.out_fd, block, sizeof block)) > 0) {
        result.out.append(block, static_cast<std::size_t>(got));
    }
    close(started.out_fd);
    int status = 0;
    waitpid(started.pid, &status, 0);
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}
