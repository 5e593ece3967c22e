// The simulated Windows must answer like the real one where the program
// relies on it; these checks pin the behaviours the other tests build on.
#include "fixture.h"

#include <cstring>

namespace {

class Simulation : public SimTest
{
};

TEST_F(Simulation, MbsrchrFollowsTheMultibyteCodePage)
{
    const unsigned char path[] = "a\\\x95\x5C";
    _setmbcp(932);
    EXPECT_EQ(path + 1, _mbsrchr(path, '\\'));
    _setmbcp(1252);
    EXPECT_EQ(path + 3, _mbsrchr(path, '\\'));
    const unsigned char lone[] = "a\\\x95";  // a lead byte with no trail byte
    _setmbcp(932);
    EXPECT_EQ(lone + 1, _mbsrchr(lone, '\\'));
    const unsigned char none[] = "abc";
    EXPECT_EQ(nullptr, _mbsrchr(none, '\\'));
}

TEST_F(Simulation, QueryOfALongValueFails)
{
    simwin::SetUserValue(kSettingsKey, "V", REG_BINARY, Bytes({1, 2, 3, 4, 5}));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, kSettingsKey, &key));
    DWORD value = 0, cb = 4;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "V", nullptr, nullptr,
                                                reinterpret_cast<LPBYTE>(&value), &cb));
    EXPECT_EQ(5u, cb);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_NE(ERROR_SUCCESS, RegCloseKey(key)) << "a key closes once";
}

TEST_F(Simulation, ModuleFileNameFillingTheBufferIsUnterminated)
{
    char buf[8];
    memset(buf, '#', sizeof buf);
    SetLastError(0);
    EXPECT_EQ(4u, GetModuleFileNameA(nullptr, buf, 4));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ('#', buf[4]);
    EXPECT_EQ(0, memcmp(buf, "C:\\K", 4));
}

TEST_F(Simulation, LoadLibraryOfWhatIsNotAModule)
{
    simwin::AddFile("C:\\Kit\\plain.dll", {'x'});
    simwin::AddFolder("C:\\Kit\\dir.dll");
    EXPECT_EQ(nullptr, LoadLibraryA("C:\\Kit\\plain.dll"));
    EXPECT_EQ(DWORD(ERROR_BAD_EXE_FORMAT), GetLastError());
    EXPECT_EQ(nullptr, LoadLibraryA("C:\\Kit\\dir.dll"));
    EXPECT_EQ(nullptr, LoadLibraryA("C:\\Kit\\absent.dll"));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(Simulation, PathsAreCaseInsensitive)
{
    simwin::AddLanguageModule("C:\\Kit\\DravikEngRes.dll", {{1, "x"}});
    HMODULE m = LoadLibraryA("c:\\KIT\\dravikengres.DLL");
    ASSERT_NE(nullptr, m);
    EXPECT_TRUE(FreeLibrary(m));
    EXPECT_FALSE(FreeLibrary(m)) << "freed twice";
}

}  // namespace
