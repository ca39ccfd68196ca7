// The guard value that stack-protected functions check before they return, and the end they meet
// when it has been overwritten; here rather than in libssp, which would import ADVAPI32. Runtime
// support for whatever links the engine: the program and every test.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <x86intrin.h>

#include <stdint.h>

// Never a valid seed: the value before seeding, as in Microsoft's C runtime.
const uintptr_t kUnseededGuard = 0xBB40E64E;

extern "C" {
uintptr_t __stack_chk_guard = kUnseededGuard;

// Ends the process at once: the stack can no longer be trusted, so nothing else may run, and
// nothing is shown. The fast-fail interrupt goes straight to the kernel where Windows has it
// (Windows 8 and later); elsewhere the process terminates itself.
__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail(void)
{
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        __asm__ __volatile__("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
    }
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap(); // should it ever return, never fall through into the next function
}
}

// Seeded as Microsoft's C runtime seeds its security cookie, from the time, the process and
// thread ids, the tick count and the performance counter, all of which a local user can watch or
// guess; the cycle counter and where the stack lies (ASLR) add what nobody else sees. A constructor
// of the highest priority runs from the runtime's start-up code, which is not protected, before any
// protected function could have saved the old value.
__attribute__((constructor(101), no_stack_protector)) static void SeedStackGuard()
{
    FILETIME now;
    LARGE_INTEGER counter;
    GetSystemTimeAsFileTime(&now);
    QueryPerformanceCounter(&counter);
    uintptr_t seed = now.dwLowDateTime ^ now.dwHighDateTime;
    seed ^= GetCurrentProcessId();
    seed ^= GetCurrentThreadId();
    seed ^= GetTickCount();
    seed ^= counter.LowPart ^ (uintptr_t)counter.HighPart;
    unsigned long long cycles = __rdtsc();
    seed ^= (uintptr_t)cycles ^ (uintptr_t)(cycles >> 32);
    seed ^= (uintptr_t)&now;
    if (seed == kUnseededGuard) {
        seed = kUnseededGuard + 1;
    } else if ((seed & 0xFFFF0000) == 0) {
        seed |= (seed | 0x4711) << 16; // a guard needs high bits, as a string overflow has none
    }
    __stack_chk_guard = seed;
}
