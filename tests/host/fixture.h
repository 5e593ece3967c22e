// A fresh simulated machine per test, with Wirenest.exe in C:\Kit; every
// host test includes it, and with it <string> and <vector>.
#pragma once

#include "app/InstallerApp.h"
#include "simwin/simwin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

const char* const kExePath = "C:\\Kit\\Wirenest.exe";
const char* const kSettingsKey = "SOFTWARE\\Ombrel\\Pelmora\\Settings";

// A call's check and the last error it left, spoiled first as Wine's tests
// do, so that a call failing without setting one shows.
#define EXPECT_LAST_ERROR(error, check)          \
    do {                                         \
        SetLastError(0xdeadbeef);                \
        check;                                   \
        EXPECT_EQ(DWORD(error), GetLastError()); \
    } while (0)

inline std::vector<BYTE> Text(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

class SimTest : public ::testing::Test
{
protected:
    void SetUp() override { UseExecutable(kExePath); }

    // Lays out the machine around an executable at the given path.
    void UseExecutable(const std::string& path)
    {
        simwin::Reset();
        HINSTANCE exe = simwin::SetExecutable(path, WIRENEST_RES);
        AFX_MODULE_STATE* state = AfxGetModuleState();
        state->m_hCurrentInstanceHandle = exe;
        state->m_hCurrentResourceHandle = exe;
    }

    // Wirenest.exe in C:\Kit with its English module beside it.
    void UseEnglishKit()
    {
        UseExecutable(kExePath);
        AddModule("C:\\Kit\\DravikEngRes.dll", "eng");
    }

    // A language module whose texts name it, so a wrong choice shows.
    static void AddModule(const std::string& path, const std::string& tag)
    {
        simwin::AddLanguageModule(path, {{1, tag + " step 1"},
                                         {2, tag + " step 2"},
                                         {3, tag + " installed"},
                                         {4, tag + " failed"}});
    }

    // Runs the program from the framework's entry to the application's end.
    static void RunProgram()
    {
        CInstallerApp app;
        AfxWinMain(simwin::Executable());
    }

    // Where the calls that start with prefix are in the log, from call from on.
    static std::vector<size_t> CallsStartingWith(const std::string& prefix, size_t from = 0)
    {
        std::vector<size_t> at;
        const auto& calls = simwin::Calls();
        for (size_t i = from; i < calls.size(); ++i)
            if (calls[i].compare(0, prefix.size(), prefix) == 0) at.push_back(i);
        return at;
    }

    static std::vector<BYTE> Bytes(std::initializer_list<int> b)
    {
        std::vector<BYTE> v;
        for (int x : b) v.push_back(BYTE(x));
        return v;
    }
};
