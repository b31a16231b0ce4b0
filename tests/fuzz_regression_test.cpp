// Replays the fuzzer's seeds and every input it ever found failing through the real binary. Any
// input may be rejected ("ERR", exit status 1), but none may crash the converter, raise a
// sanitizer report, or leave anything behind but a complete output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"

namespace {

void append(const char* variable, const std::string& options) {
    const char* old = std::getenv(variable);
    setenv(variable, (old == nullptr || *old == '\0' ? options : old + (":" + options)).c_str(), 1);
}

TEST(FuzzCorpus, RunsToSuccessOrCleanRejection) {
    // A sanitizer report exits with status 1 by default, which would pass for "ERR"; aborting
    // makes it a signal. Options given later override earlier ones.
    append("ASAN_OPTIONS", "abort_on_error=1");
    append("UBSAN_OPTIONS", "halt_on_error=1:abort_on_error=1");
    const std::string root = LYRIC2SYSEX_FUZZ_DIR;
    ASSERT_FALSE(listDirectory(root + "/seeds").empty()) << root;
    for (const std::string kind : {"seeds", "regressions"}) {
        for (const std::string& name : listDirectory(root + "/" + kind)) {
            SCOPED_TRACE(kind + "/" + name);
            ScratchDir scratch;
            const RunResult run =
                runConverter({root + "/" + kind + "/" + name, scratch.path("out.mid")});
            ASSERT_EQ(run.signal, 0) << run.out;
            ASSERT_TRUE(run.exit_status == 0 || run.exit_status == 1) << run.exit_status;
            if (kind == "seeds") {
                EXPECT_EQ(run.exit_status, 0) << run.out;
            }
            const bool ok = run.exit_status == 0;
            std::string out = run.out;
            if (!out.empty() && out.back() == '\n')
                out.pop_back();
            EXPECT_EQ(out.substr(out.rfind('\n') + 1) == "ERR", !ok) << run.out;  // the last line
            EXPECT_EQ(listDirectory(scratch.root),
                      ok ? std::vector<std::string>{"out.mid"} : std::vector<std::string>{});
        }
    }
}

}  // namespace
