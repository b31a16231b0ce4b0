#include "failure.h"

Failure failure;
std::jmp_buf failure_exit;

void failWith(const char* message, const char* file, int reason, FaultPlace place) {
    failure = Failure{message, file, reason, place};
    std::longjmp(failure_exit, kFailed);
}
