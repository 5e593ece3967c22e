// The part of the simulated machine that the driver installation adds: open
// file handles, the INF store's settings and the failures tests inject.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

namespace simwin {

struct OpenFileRecord {
    std::string path;
    std::vector<unsigned char> data;  // read as it was when opened
    size_t at = 0;
    size_t piece = 0;  // most bytes one read hands out (0: all asked for)
    unsigned object = 0;  // the FileEntry opened, wherever its name goes
    DWORD access = 0;
    DWORD share = 0;
};

// Another user's program that opens a path the moment the program's last
// handle on it closes.
struct LaterOpen {
    DWORD access;
    DWORD share;
};

// A copy that fails, having written this much of the file (npos: nothing,
// not even an empty file).
struct CopyFailure {
    DWORD error = 0;
    size_t written = std::string::npos;
};

// A named mutex; another process's hold on it is injected by tests.
struct MutexState {
    enum { kFree, kHeldElsewhere, kAbandoned } elsewhere = kFree;
    int ownedHere = 0;  // recursion count of this process's waits
};

struct MutexHandle {
    std::string name;
};

struct InstallWorld {
    // Injected failures, by lower-case path.
    std::map<std::string, CopyFailure> failCopyTo;
    std::map<std::string, DWORD> failDelete;
    std::map<std::string, std::string> vanishAfterCopy;  // target -> path that goes
    std::map<std::string, DWORD> failOpen;
    std::map<std::string, DWORD> failAttributes;
    std::map<std::string, size_t> readPieces;
    // The INF store refuses: with this error, for calls of this copy style (0: all).
    bool refuse = false;
    DWORD refuseError = 0;
    DWORD refuseStyle = 0;
    std::list<OpenFileRecord> handles;  // addresses are the HANDLE values
    std::list<OpenFileRecord> elsewhere;  // other programs' handles, for sharing
    std::map<std::string, LaterOpen> openWhenClosed;    // by lower-case path
    std::map<std::string, std::string> swapForJunction;  // folder -> where it goes
    std::map<std::string, MutexState> mutexes;  // by name, case-sensitive as on Windows
    std::list<MutexHandle> mutexHandles;        // addresses are the HANDLE values
    // Drive volumes keep ACLs (NTFS) or not (FAT32); GetVolumeInformationA
    // fails with this error when not 0.
    bool volumeKeepsAcls = true;
    DWORD failVolume = 0;
    std::map<std::string, DWORD> failSecurity;
    std::list<std::string> descriptors;  // SDDL of the descriptors not yet freed
};

}  // namespace simwin
