// Checks in the manner of Wine's conformance tests: ok() prints the line and
// what it saw, todo_wine marks what Windows does and Wine does not yet.  A
// failure, or a todo_wine check that passes, makes the run fail.
#pragma once

#include <cstdarg>
#include <cstdio>

bool RunningOnWine();  // from the shim: asks ntdll for wine_get_version

namespace contract {

inline struct Tally { int checks, failures, todos, skips; bool todo; } tally;

// Helpers pass their caller's line, so a failure points at the case.
inline bool Check(int line, bool skipped, bool cond, const char* fmt, ...)
{
    const char* what = nullptr;
    if (skipped) what = (++tally.skips, "Tests skipped: ");
    else if (++tally.checks, tally.todo && RunningOnWine())
        what = cond ? (++tally.failures, "Test succeeded inside todo block: ") : (++tally.todos, "Test marked todo: ");
    else if (!cond) what = (++tally.failures, "Test failed: ");
    if (what) {
        va_list args;
        va_start(args, fmt);
        printf("contract.cpp:%d: %s", line, what);
        vprintf(fmt, args);
        printf("\n");
        fflush(stdout);
        va_end(args);
    }
    return cond;
}

struct Todo {
    explicit Todo(bool on) { tally.todo = on; }
    ~Todo() { tally.todo = false; }
};

}  // namespace contract

#define ok(...) contract::Check(__LINE__, false, __VA_ARGS__)
#define skip(...) contract::Check(__LINE__, true, true, __VA_ARGS__)
#define todo_wine_if(on) if (contract::Todo todo_(on); true)  // marks the one statement that follows
#define todo_wine todo_wine_if(true)
