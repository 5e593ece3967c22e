// kernel32's named mutexes, which keep one installer at a time between the
// copies and the registration. This process is the only one simulated:
// another's hold is what a test injected. Closing a handle does not let go
// of a mutex (CloseHandle is with the files).
#include "simwin/state.h"

namespace simwin {

void MutexHeldElsewhere(const std::string& name) { W().mutexes[name].elsewhere = MutexState::kHeldElsewhere; }
void MutexAbandonedElsewhere(const std::string& name) { W().mutexes[name].elsewhere = MutexState::kAbandoned; }

bool MutexOwnedHere(const std::string& name)
{
    auto it = W().mutexes.find(name);
    return it != W().mutexes.end() && it->second.ownedHere > 0;
}

}  // namespace simwin

using namespace simwin;

static MutexHandle* FindMutex(HANDLE h) { return FindByAddress(W().mutexHandles, h); }

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName)
{
    std::string name = lpName ? lpName : "";
    Log("CreateMutexA " + name + (bInitialOwner ? " owned" : ""));
    const bool existed = W().mutexes.count(name) != 0;
    MutexState& m = W().mutexes[name];
    if (bInitialOwner && m.elsewhere == MutexState::kFree) ++m.ownedHere;
    W().mutexHandles.push_back({name});
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return &W().mutexHandles.back();
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    MutexHandle* h = FindMutex(hHandle);
    if (!h) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    Log("WaitForSingleObject " + h->name + " " +
        (dwMilliseconds == INFINITE ? std::string("INFINITE") : std::to_string(dwMilliseconds)));
    MutexState& m = W().mutexes[h->name];
    if (m.elsewhere == MutexState::kHeldElsewhere) return WAIT_TIMEOUT;  // even for INFINITE: the test would hang
    const bool abandoned = m.elsewhere == MutexState::kAbandoned;
    m.elsewhere = MutexState::kFree;
    ++m.ownedHere;
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE hMutex)
{
    MutexHandle* h = FindMutex(hMutex);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    Log("ReleaseMutex " + h->name);
    MutexState& m = W().mutexes[h->name];
    if (m.ownedHere == 0) return Fail(ERROR_NOT_OWNER);
    --m.ownedHere;
    return TRUE;
}
