// Replays the fuzzer's seeds and every input it ever found failing through the real binary. Any
// input may be rejected ("ERR", exit status 1), but none may crash the converter, raise a
// sanitizer report, hang, or break the promise that the output path appears only after a
// complete run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "support.h"

namespace {

constexpr const char* kCorpusDir = LYRIC2SYSEX_FUZZ_DIR;
// A converter run takes milliseconds even under the sanitizers or valgrind.
constexpr const char* kTimeLimit = "timeout -k 5 30";
constexpr int kTimedOut = 124;  // timeout's status when the limit was reached

struct CorpusFile {
    std::string kind;  // "seeds" or "regressions"
    std::string name;
};

// Shown in the test's name by CTest, instead of the object's bytes.
void PrintTo(const CorpusFile& file, std::ostream* out) {
    *out << file.kind << "/" << file.name;
}

std::vector<CorpusFile> corpusFiles() {
    std::vector<CorpusFile> files;
    for (const char* kind : {"seeds", "regressions"}) {
        std::vector<std::string> names = listDirectory(std::string(kCorpusDir) + "/" + kind);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (name.front() != '.')
                files.push_back({kind, name});
        }
    }
    return files;
}

std::string testName(const testing::TestParamInfo<CorpusFile>& info) {
    std::string name = info.param.kind + "_" + info.param.name;
    for (char& c : name) {
        const bool alphanumeric =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric)
            c = '_';
    }
    return name;
}

std::string lastLine(const std::string& out) {
    std::string text = out;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    const std::size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

void appendToVariable(const char* variable, const std::string& text, const char* separator) {
    const char* old = std::getenv(variable);
    const std::string value = old == nullptr || *old == '\0' ? text : old + (separator + text);
    setenv(variable, value.c_str(), 1);
}

class CorpusTest : public testing::TestWithParam<CorpusFile> {
   protected:
    static void SetUpTestSuite() {
        // A sanitizer report exits with status 1 by default, which would pass for "ERR"; aborting
        // makes it a signal. Options given later override earlier ones, so these win.
        appendToVariable("ASAN_OPTIONS", "abort_on_error=1", ":");
        appendToVariable("UBSAN_OPTIONS", "halt_on_error=1:abort_on_error=1:print_stacktrace=1",
                         ":");
        // The time limit goes in front of any wrapper already set, such as valgrind.
        const char* wrapper = std::getenv("LYRIC2SYSEX_WRAPPER");
        const std::string limited =
            std::string(kTimeLimit) + (wrapper != nullptr ? std::string(" ") + wrapper : "");
        setenv("LYRIC2SYSEX_WRAPPER", limited.c_str(), 1);
    }
};

TEST(FuzzCorpus, HoldsTheSeeds) {
    // Guards the replay below against passing on an empty or misplaced directory.
    EXPECT_GE(listDirectory(std::string(kCorpusDir) + "/seeds").size(), 5u) << kCorpusDir;
}

TEST_P(CorpusTest, RunsToSuccessOrCleanRejection) {
    const std::string input =
        std::string(kCorpusDir) + "/" + GetParam().kind + "/" + GetParam().name;
    const Bytes bytes = readFile(input);
    const std::string shown =
        hexString(Bytes(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 256)));
    SCOPED_TRACE("input " + input + " (" + std::to_string(bytes.size()) + " bytes): " + shown);

    ScratchDir scratch;
    const std::string output = scratch.path("out.mid");
    const RunResult run = runConverter({input, output});

    ASSERT_EQ(run.signal, 0) << "killed by signal " << run.signal
                             << " (a sanitizer report aborts); trace:\n"
                             << run.out;
    ASSERT_NE(run.exit_status, kTimedOut) << "no end within the time limit; trace so far:\n"
                                          << run.out;
    ASSERT_TRUE(run.exit_status == 0 || run.exit_status == 1)
        << "exit status " << run.exit_status << "; trace:\n"
        << run.out;

    if (GetParam().kind == "seeds") {
        EXPECT_EQ(run.exit_status, 0) << "every seed is a valid file; trace:\n" << run.out;
    }
    if (run.exit_status == 0) {
        EXPECT_NE(lastLine(run.out), "ERR");
        EXPECT_EQ(listDirectory(scratch.root), std::vector<std::string>{"out.mid"})
            << "a complete run leaves the output and nothing else";
    } else {
        EXPECT_EQ(lastLine(run.out), "ERR") << run.out;
        EXPECT_EQ(listDirectory(scratch.root), std::vector<std::string>{})
            << "a failed run leaves nothing behind";
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusTest, testing::ValuesIn(corpusFiles()), testName);

}  // namespace
