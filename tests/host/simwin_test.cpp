// The simulated Windows must answer like the real one where the program
// relies on it; these checks pin the behaviours the other tests build on.
#include "fixture.h"

#include <cstring>

namespace {

class Simulation : public SimTest {};

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

// The damaged-table tests rely on LoadStringA faulting where Windows would
// read outside the block; these show that it does.
TEST_F(Simulation, LoadStringAFaultsOutsideItsBlock)
{
    simwin::Resource runaway{6, 1, 0, {0xFF, 0xFF, 1, 0, 'a', 0}};
    const simwin::Resource outside{6, 1, 0, {0, 0, 1, 0, 'a', 0}, false};
    simwin::AddLanguageModuleBlocks("C:\\Kit\\Runaway.dll", {runaway});
    simwin::AddLanguageModuleBlocks("C:\\Kit\\Outside.dll", {outside});
    char buf[16];
    HMODULE m = LoadLibraryA("C:\\Kit\\Runaway.dll");
    ASSERT_NE(nullptr, m);
    EXPECT_DEATH(LoadStringA(m, 0, buf, sizeof buf), "string runs past the block");
    EXPECT_DEATH(LoadStringA(m, 1, buf, sizeof buf), "length word outside the block");
    HMODULE o = LoadLibraryA("C:\\Kit\\Outside.dll");
    ASSERT_NE(nullptr, o);
    EXPECT_DEATH(LoadStringA(o, 1, buf, sizeof buf), "block outside the image");
}

TEST_F(Simulation, VirtualQueryKnowsOnlyMappedResources)
{
    simwin::Resource mapped{6, 1, 0, {0, 0, 1, 0, 'a', 0}};
    const simwin::Resource outside{6, 2, 0, {0, 0, 1, 0, 'b', 0}, false};
    simwin::AddLanguageModuleBlocks("C:\\Kit\\L.dll", {mapped, outside});
    HMODULE m = LoadLibraryA("C:\\Kit\\L.dll");
    ASSERT_NE(nullptr, m);
    const BYTE* p1 = static_cast<const BYTE*>(LockResource(LoadResource(m, FindResourceA(m, MAKEINTRESOURCEA(1), RT_STRING))));
    const BYTE* p2 = static_cast<const BYTE*>(LockResource(LoadResource(m, FindResourceA(m, MAKEINTRESOURCEA(2), RT_STRING))));
    MEMORY_BASIC_INFORMATION mbi;
    ASSERT_EQ(sizeof mbi, VirtualQuery(p1 + 3, &mbi, sizeof mbi));
    EXPECT_EQ(m, mbi.AllocationBase);
    EXPECT_EQ(p1, mbi.BaseAddress);
    EXPECT_EQ(6u, mbi.RegionSize);
    EXPECT_EQ(DWORD(MEM_COMMIT), mbi.State);
    ASSERT_EQ(sizeof mbi, VirtualQuery(p2, &mbi, sizeof mbi));
    EXPECT_EQ(nullptr, mbi.AllocationBase);
    EXPECT_EQ(DWORD(MEM_FREE), mbi.State);
    EXPECT_EQ(0u, VirtualQuery(p1, &mbi, sizeof mbi - 1)) << "a short buffer must be refused";
    FreeLibrary(m);
    ASSERT_EQ(sizeof mbi, VirtualQuery(p1, &mbi, sizeof mbi)) << "after FreeLibrary";
    EXPECT_EQ(DWORD(MEM_FREE), mbi.State);
}

}  // namespace
