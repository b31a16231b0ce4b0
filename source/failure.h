// How a conversion fails: every step that finds the input unusable or a file that cannot be read
// or written records why and where, and unwinds at once to the library's entry point that began
// the conversion, which cleans up and returns. Nothing of the conversion goes on after a failure.
#pragma once

#include <csetjmp>
#include <cstdint>

// Where in the input a failure lies: the track counted from 1 (0 when the failure has no place)
// and the offset at which the event or chunk at fault begins.
struct FaultPlace {
    std::uint32_t track;
    std::uint64_t offset;
};

struct Failure {
    const char* message;  // nullptr while nothing has failed
    const char* file;     // the file concerned, when the failure is one of reading or writing it
    int reason;           // an errno value or a FailureReason; 0 for none
    FaultPlace place;
};
extern Failure failure;

// The entry point's setjmp() sets it; failWith() jumps back there.
extern std::jmp_buf failure_exit;
// What that setjmp() returns: when it is set, after a failure, and when the probe of an old output
// finds its first command.
enum Jump { kJumpSet, kFailed, kCommandFound };

[[noreturn]] void failWith(const char* message, const char* file, int reason, FaultPlace place);
