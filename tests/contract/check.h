// Checks in the manner of Wine's conformance tests: ok() prints the line and
// what it saw, todo_wine marks what Windows does and Wine does not yet,
// broken() accepts an older Windows' answer, never Wine's.  A failure, or a
// todo_wine check that passes, makes the run fail, as in Wine's tests.
#pragma once

#include <cstdarg>
#include <cstdio>

bool RunningOnWine();  // from the shim: asks ntdll for wine_get_version

namespace contract {

struct Tally {
    int checks, failures, todos, skips;
    bool todo;
};
inline Tally& Count() { static Tally t{}; return t; }

// Helpers pass their caller's line, so a failure points at the case.
inline bool Report(int line, bool skipped, bool cond, const char* fmt, va_list args)
{
    Tally& t = Count();
    const char* what = nullptr;
    if (skipped) what = (++t.skips, "Tests skipped: ");
    else if (++t.checks, t.todo && RunningOnWine())
        what = cond ? (++t.failures, "Test succeeded inside todo block: ") : (++t.todos, "Test marked todo: ");
    else if (!cond) what = (++t.failures, "Test failed: ");
    if (what) {
        printf("contract.cpp:%d: %s", line, what);
        vprintf(fmt, args);
        printf("\n");
        fflush(stdout);
    }
    return cond;
}

#define CONTRACT_REPORT(skipped, cond)             \
    va_list args;                                  \
    va_start(args, fmt);                           \
    Report(line, skipped, cond, fmt, args);        \
    va_end(args)
inline bool Ok(int line, bool cond, const char* fmt, ...) { CONTRACT_REPORT(false, cond); return cond; }
inline void Skip(int line, const char* fmt, ...) { CONTRACT_REPORT(true, true); }

struct TodoScope {
    bool done = false;
    explicit TodoScope(bool on) { Count().todo = on; }
    ~TodoScope() { Count().todo = false; }
};

inline int Summary()
{
    const Tally& t = Count();
    printf("%d checks, %d failures, %d todo, %d skipped%s\n", t.checks, t.failures, t.todos, t.skips,
           RunningOnWine() ? " (Wine)" : "");
    return t.failures ? 1 : 0;
}

}  // namespace contract

#define ok(...) contract::Ok(__LINE__, __VA_ARGS__)
#define skip(...) contract::Skip(__LINE__, __VA_ARGS__)
#define todo_wine_if(on) for (contract::TodoScope todo_(on); !todo_.done; todo_.done = true)
#define todo_wine todo_wine_if(true)
#define broken(x) (!RunningOnWine() && (x))
