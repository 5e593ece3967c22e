// Choosing and using the language module: the table, the registry reading
// and CLanguageModule's resource-handle switching.
#include "fixture.h"

#include "app/LanguageModule.h"
#include "app/LanguageTable.h"
#include "app/ModuleDirectory.h"
#include "res/resource.h"

namespace {

TEST(LanguageTable, EveryRowAndFallback)
{
    struct Row {
        DWORD prim, sub;
        const char* file;
    } rows[] = {
        {4, 1, "\\DravikChtRes.dll"},   {4, 2, "\\DravikChsRes.dll"},
        {4, 0, "\\DravikEngRes.dll"},   {4, 3, "\\DravikEngRes.dll"},
        {10, 3, "\\DravikSpnRes.dll"},  {10, 1, "\\DravikEngRes.dll"},
        {10, 0, "\\DravikEngRes.dll"},  {30, 0, "\\DravikThaiRes.dll"},
        {30, 7, "\\DravikThaiRes.dll"}, {30, 0xFFFFFFFF, "\\DravikThaiRes.dll"},
        {0, 0, "\\DravikEngRes.dll"},   {9, 1, "\\DravikEngRes.dll"},
        {0x34, 0, "\\DravikEngRes.dll"}, {0, 2, "\\DravikEngRes.dll"},
        {0x104, 1, "\\DravikEngRes.dll"},  // only the whole number counts
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("prim " + std::to_string(r.prim) + " sub " + std::to_string(r.sub));
        EXPECT_STREQ(r.file, LanguageModuleFileName(r.prim, r.sub));
    }
}

class LanguageSettings : public SimTest {};

TEST_F(LanguageSettings, MissingKeyReadsNothing)
{
    DWORD prim = 0xDEAD, sub = 0xBEEF;
    ReadLanguageSettings(&prim, &sub);
    EXPECT_EQ(0u, prim);
    EXPECT_EQ(0u, sub);
    EXPECT_FALSE(simwin::Called("RegQueryValueExA")) << "a value was queried without the key";
}

// The key with its two values as they may lie there (type 0: absent): what
// is read, and whether SubLangID is asked for (only after PrimLangID).
TEST_F(LanguageSettings, ValuesAsTheyLie)
{
    const auto dword = [](int v) { return Bytes({v, 0, 0, 0}); };
    struct Row {
        const char* what;
        DWORD primType; std::vector<BYTE> prim;
        DWORD subType; std::vector<BYTE> sub;
        DWORD wantPrim, wantSub;
        bool subAsked;
    } rows[] = {
        {"no values", 0, {}, 0, {}, 0, 0, false},
        {"both", REG_DWORD, dword(4), REG_DWORD, dword(2), 4, 2, true},
        {"SubLangID alone", 0, {}, REG_DWORD, dword(2), 0, 0, false},
        {"PrimLangID alone", REG_DWORD, dword(4), 0, {}, 4, 0, true},
        // The digit 4 with its terminator, as a text value: 0x34 = 52.
        {"type ignored, little-endian", REG_SZ, Bytes({'4', 0}), REG_BINARY, Bytes({1, 2, 3}), 52, 0x030201, true},
        {"an empty PrimLangID still counts as read", REG_BINARY, {}, REG_DWORD, dword(9), 0, 9, true},
        // The buffer of a failed query must not be used.
        {"PrimLangID over four bytes", REG_QWORD, Bytes({4, 0, 0, 0, 0, 0, 0, 0}), REG_DWORD, dword(1), 0, 0, false},
        {"SubLangID over four bytes", REG_DWORD, dword(30), REG_SZ, Bytes({'1', '2', '3', '4', 0}), 30, 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        UseExecutable(kExePath);
        simwin::CreateUserKey(kSettingsKey);
        if (r.primType) simwin::SetUserValue(kSettingsKey, "PrimLangID", r.primType, r.prim);
        if (r.subType) simwin::SetUserValue(kSettingsKey, "SubLangID", r.subType, r.sub);
        DWORD prim = 0xDEAD, sub = 0xBEEF;
        ReadLanguageSettings(&prim, &sub);
        EXPECT_EQ(r.wantPrim, prim);
        EXPECT_EQ(r.wantSub, sub);
        EXPECT_EQ(r.subAsked, simwin::Called("RegQueryValueExA SubLangID"));
        EXPECT_LT(simwin::CallIndex("RegQueryValueExA PrimLangID"), simwin::CallIndex("RegQueryValueExA SubLangID"));
        EXPECT_EQ(0u, simwin::OpenKeyCount()) << "the settings key was left open";
    }
}

// ---------------------------------------------------------------------------

const char* const kEng = "C:\\Kit\\DravikEngRes.dll";

class LanguageModuleTest : public SimTest
{
protected:
    HINSTANCE Current() { return AfxGetModuleState()->m_hCurrentResourceHandle; }
};

TEST_F(LanguageModuleTest, NothingLoadedBeforeLoad)
{
    AddModule(kEng, "eng");
    CLanguageModule module;
    EXPECT_EQ(nullptr, module.m_hModule);
    EXPECT_EQ(nullptr, module.m_hPrevResource);
    for (DWORD id = 1; id <= 4; ++id) {
        SCOPED_TRACE(id);
        EXPECT_STREQ("", module.LoadString(id));
        EXPECT_EQ(simwin::Executable(), Current()) << "the resource handle moved";
    }
    EXPECT_EQ(0, simwin::LoadedModuleCount());
}

TEST_F(LanguageModuleTest, StringsComeFromTheModuleAndTheHandleIsRestored)
{
    AddModule(kEng, "eng");
    CLanguageModule module;
    ASSERT_TRUE(module.Load(kEng));
    EXPECT_EQ(simwin::Executable(), module.m_hPrevResource);
    EXPECT_EQ(simwin::Executable(), Current()) << "Load must not switch the resource handle";
    EXPECT_STREQ("eng step 1", module.LoadString(IDS_STEP1));
    EXPECT_STREQ("eng step 2", module.LoadString(IDS_STEP2));
    EXPECT_STREQ("eng installed", module.LoadString(IDS_INSTALL_OK));
    EXPECT_STREQ("eng failed", module.LoadString(IDS_INSTALL_FAILED));
    EXPECT_EQ(simwin::Executable(), Current());

    // The executable's own strings are still found afterwards.
    CString menu;
    menu.LoadString(IDS_ABOUT_MENU);
    EXPECT_STREQ("&About Wirenest...", menu);
}

TEST_F(LanguageModuleTest, MissingIdsAreEmpty)
{
    simwin::AddLanguageModule(kEng, {{1, "only one"}});
    CLanguageModule module;
    ASSERT_TRUE(module.Load(kEng));
    EXPECT_STREQ("only one", module.LoadString(1));
    EXPECT_STREQ("", module.LoadString(3));
    EXPECT_STREQ("", module.LoadString(IDS_ABOUT_MENU)) << "101 belongs to the executable";
    EXPECT_EQ(simwin::Executable(), Current());
}

TEST_F(LanguageModuleTest, FailedLoad)
{
    CLanguageModule module;
    EXPECT_FALSE(module.Load(kEng));
    EXPECT_EQ(nullptr, module.m_hModule);
    EXPECT_EQ(simwin::Executable(), module.m_hPrevResource);
    EXPECT_STREQ("", module.LoadString(1));
}

TEST_F(LanguageModuleTest, ReleasedAtDestructionIfLoaded)
{
    { CLanguageModule module; }
    EXPECT_FALSE(simwin::Called("FreeLibrary")) << "nothing was loaded";
    AddModule(kEng, "eng");
    {
        CLanguageModule module;
        ASSERT_TRUE(module.Load(kEng));
        EXPECT_EQ(1, simwin::LoadedModuleCount());
    }
    EXPECT_EQ(0, simwin::LoadedModuleCount());
    EXPECT_TRUE(simwin::Called("FreeLibrary C:\\Kit\\DravikEngRes.dll"));
}

// ---------------------------------------------------------------------------
// Damaged modules: simwin's resource functions read the module's own bytes
// and fault where Windows' would read outside every module, so a string that
// reaches them unchecked ends the test, or reads what is not its own.

class DamagedStringTable : public SimTest
{
protected:
    const std::vector<std::string> whole = {"one", "two", "three", "four"};
    const std::vector<std::string> none = {"", "", "", ""};  // every line lost

    // The first of a block's 16 counted strings, each counted right.
    static std::vector<BYTE> Strings(std::initializer_list<std::string> texts)
    {
        std::vector<BYTE> b;
        for (const std::string& t : texts) simwin::PutString(b, WORD(t.size()), t);
        return b;
    }

    static simwin::Resource Block(WORD name, const std::vector<BYTE>& data,
                                  simwin::Resource::Place place = simwin::Resource::kInFile, size_t cut = 0)
    {
        return {6, name, 0, data, place, cut};
    }

    // Loads the module with these blocks and reads strings 1 to 4.
    std::vector<std::string> Lines(const std::vector<simwin::Resource>& blocks)
    {
        simwin::AddFile(kEng, simwin::ModuleFile(blocks));
        CLanguageModule module;
        EXPECT_TRUE(module.Load(kEng));
        std::vector<std::string> lines;
        for (DWORD id = IDS_STEP1; id <= IDS_INSTALL_FAILED; ++id)
            lines.push_back(std::string(module.LoadString(id)));
        EXPECT_EQ(simwin::Executable(), AfxGetModuleState()->m_hCurrentResourceHandle)
            << "the resource handle was not restored";
        return lines;
    }

    static std::vector<BYTE> FourStrings()
    {
        return Strings({"", "one", "two", "three", "four", "", "", "", "", "", "", "", "", "", "", ""});
    }
};

TEST_F(DamagedStringTable, WellFormedBlockReadsWhole)
{
    EXPECT_EQ(whole, Lines({Block(1, FourStrings())}));
}

TEST_F(DamagedStringTable, LengthOfAnEarlierStringRunsFarPastTheBlock)
{
    std::vector<BYTE> b = FourStrings();
    b[0] = 0xFF;  // string 0: 65535 characters in a block of a few dozen bytes
    b[1] = 0xFF;
    EXPECT_EQ(none, Lines({Block(1, b)}));
}

TEST_F(DamagedStringTable, OnlyTheStringsBehindTheDamageAreLost)
{
    std::vector<BYTE> b = Strings({"", "one", "two"});
    simwin::PutString(b, 40, "three");  // claims more characters than the block holds
    const std::vector<std::string> want = {"one", "two", "", ""};
    EXPECT_EQ(want, Lines({Block(1, b)}));
    b = Strings({"", "one", "two", "three"});
    simwin::PutString(b, 5, "four");
    const std::vector<std::string> lastLost = {"one", "two", "three", ""};
    EXPECT_EQ(lastLost, Lines({Block(1, b)})) << "a length one character over the block";
}

TEST_F(DamagedStringTable, LastStringEndingExactlyAtTheBlockEndIsWhole)
{
    const std::vector<std::string> want = {"one", "", "", ""};
    EXPECT_EQ(want, Lines({Block(1, Strings({"", "one"}))})) << "strings 2 to 4 have no length word at all";
}

TEST_F(DamagedStringTable, BlockCutInsideALengthWord)
{
    std::vector<BYTE> b = Strings({""});
    b.push_back(3);  // half a length word
    EXPECT_EQ(none, Lines({Block(1, b)}));
    EXPECT_EQ(none, Lines({Block(1, {})})) << "a block of no bytes";
}

TEST_F(DamagedStringTable, BlockOrItsDataEntryOutsideTheImage)
{
    using R = simwin::Resource;
    EXPECT_EQ(none, Lines({Block(1, FourStrings(), R::kOutside)}));
    EXPECT_EQ(none, Lines({Block(1, FourStrings(), R::kCut, 0)})) << "on the page past the image, not readable";
    EXPECT_EQ(none, Lines({Block(1, FourStrings(), R::kCut, 10)})) << "from its last readable bytes into that page";
    EXPECT_EQ(none, Lines({Block(1, FourStrings(), R::kForeign)})) << "in another module's memory";
    EXPECT_EQ(none, Lines({Block(1, FourStrings(), R::kEntryOutside)})) << "its data entry outside";
}

TEST_F(DamagedStringTable, DamageInAnotherBlockDoesNotMatter)
{
    std::vector<BYTE> other = {0xFF, 0xFF};
    using R = simwin::Resource;
    EXPECT_EQ(whole, Lines({Block(2, other), Block(1, FourStrings()), Block(3, FourStrings(), R::kOutside),
                            Block(4, FourStrings(), R::kEntryOutside)}));
}

// ---------------------------------------------------------------------------

class ModuleDirectoryTest : public SimTest {};

TEST_F(ModuleDirectoryTest, CutAtTheLastBackslashOfTheCodePage)
{
    const std::string longFolder = "C:\\" + std::string(300, 'k'), fullFolder = "C:\\" + std::string(244, 'k');
    const struct { std::string exe; UINT codePage; std::string want; } rows[] = {
        {"C:\\Kit\\Wirenest.exe", 1252, "C:\\Kit"},
        {"Wirenest.exe", 1252, "Wirenest.exe"},  // no backslash: the name whole
        // 0x95 0x5C is one double-byte character of code page 932; the last
        // 0x5C byte of the path is its trail byte, not a separator.
        {"C:\\Kit\x95\x5C\\\x95\x5C.exe", 932, "C:\\Kit\x95\x5C"},
        {"C:\\Kit\x95\x5C\\\x95\x5C.exe", 1252, "C:\\Kit\x95\x5C\\\x95"},
        {"D:\\\xB1\x5C\\\xB1\x5C.exe", 936, "D:\\\xB1\x5C"},
        {"D:\\\xB1\x5C\\\xB1\x5C.exe", 949, "D:\\\xB1\x5C"},
        {"D:\\\xB1\x5C\\\xB1\x5C.exe", 950, "D:\\\xB1\x5C"},
        {longFolder + "\\Wirenest.exe", 1252, longFolder},  // read whole past the path limit
        {fullFolder + "\\Wirenest.exe", 1252, fullFolder},  // 260 characters: no room for a terminator
    };
    ASSERT_EQ(260u, (fullFolder + "\\Wirenest.exe").size());
    for (const auto& r : rows) {
        SCOPED_TRACE(r.exe.substr(0, 20) + " in " + std::to_string(r.codePage));
        UseExecutable(r.exe);
        simwin::SetAnsiCodePage(r.codePage);
        _setmbcp(_MB_CP_ANSI);
        EXPECT_EQ(r.want, std::string(ModuleDirectory()));
    }
}

}  // namespace
