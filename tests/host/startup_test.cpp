// The whole start-up, from the framework's entry: language choice, the
// "Error" box, the dialog's run and the release of the module.
#include "fixture.h"

namespace {

std::string CannotLoad(const std::string& path) { return "Couldn't load file with path: " + path + "."; }

class Startup : public SimTest
{
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        AddModule("C:\\Kit\\DravikEngRes.dll", "eng");
        AddModule("C:\\Kit\\DravikChsRes.dll", "chs");
        AddModule("C:\\Kit\\DravikChtRes.dll", "cht");
        AddModule("C:\\Kit\\DravikSpnRes.dll", "spn");
        AddModule("C:\\Kit\\DravikThaiRes.dll", "thai");
    }

    // Runs the program, presses Cancel, and returns the two lines shown.
    static std::vector<std::string> LinesShown()
    {
        std::vector<std::string> lines = {"<no dialog>", ""};
        simwin::Script({simwin::Inspect([&](HWND dlg) {
                            lines = {simwin::ControlText(dlg, 1001), simwin::ControlText(dlg, 1002)};
                        }),
                        simwin::PressCancel()});
        RunProgram();
        return lines;
    }
    static std::string FirstLineShown() { return LinesShown()[0]; }
};

TEST_F(Startup, NoSettingsKeyShowsTheEnglishModule)
{
    const std::vector<std::string> lines = LinesShown();
    EXPECT_TRUE(simwin::Called("LoadLibraryExA C:\\Kit\\DravikEngRes.dll 0x2")) << "mapped as data";
    EXPECT_FALSE(simwin::Called("DllMain")) << "the module's code ran";
    EXPECT_EQ("eng step 1", lines[0]);
    EXPECT_EQ("eng step 2", lines[1]);
    EXPECT_TRUE(simwin::MessageBoxes().empty());
    EXPECT_EQ(0, simwin::ScriptErrors());
}

TEST_F(Startup, RegistryChoosesTheModule)
{
    const auto dword = [](int v) { return Bytes({v, 0, 0, 0}); };
    struct Case {
        std::vector<BYTE> prim;  // PrimLangID's bytes, whatever its type
        DWORD sub;
        const char* tag;
    } cases[] = {{dword(4), 1, "cht"},  {dword(4), 2, "chs"},   {dword(4), 5, "eng"}, {dword(10), 3, "spn"},
                 {dword(10), 1, "eng"}, {dword(30), 0, "thai"}, {dword(0), 0, "eng"},
                 {Bytes({'4', 0}), 1, "eng"},  // the text "4" is 52
                 // Whatever lands in the buffer of a failed query must not choose a module.
                 {Bytes({30, 0, 0, 0, 0}), 0, "eng"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.prim[0]) + "/" + std::to_string(c.sub));
        simwin::SetUserValue(kSettingsKey, "PrimLangID", REG_BINARY, c.prim);
        simwin::SetUserDword(kSettingsKey, "SubLangID", c.sub);
        EXPECT_EQ(std::string(c.tag) + " step 1", FirstLineShown());
    }
}

TEST_F(Startup, MissingModuleShowsTheErrorBoxAndNothingElse)
{
    UseExecutable("D:\\Kit\\Wirenest.exe");
    const auto before = simwin::ListPaths();
    RunProgram();
    ASSERT_EQ(1u, simwin::MessageBoxes().size());
    const simwin::MessageBoxRecord& box = simwin::MessageBoxes()[0];
    EXPECT_EQ(CannotLoad("D:\\Kit\\DravikEngRes.dll"), box.text);
    EXPECT_EQ("Error", box.caption);
    EXPECT_EQ(UINT(MB_ICONHAND), box.flags);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_TRUE(simwin::Dialogs().empty()) << "the dialog was shown";
    EXPECT_EQ(before, simwin::ListPaths());
}

TEST_F(Startup, ChosenModuleMissingNamesThatModule)
{
    UseEnglishKit();  // English is there, Thai is not
    simwin::SetUserDword(kSettingsKey, "PrimLangID", 30);
    RunProgram();
    ASSERT_EQ(1u, simwin::MessageBoxes().size());
    EXPECT_EQ(CannotLoad("C:\\Kit\\DravikThaiRes.dll"), simwin::MessageBoxes()[0].text);
    EXPECT_TRUE(simwin::Dialogs().empty());
}

TEST_F(Startup, DamagedStringTableShowsEmptyLines)
{
    // String 0's length runs far past the block, so strings 1 to 4 are lost.
    simwin::AddFile("C:\\Kit\\DravikEngRes.dll",
                    simwin::ModuleFile({{6, 1, 0, {0xFF, 0xFF, 3, 0, 'o', 0, 'n', 0, 'e', 0}}}));
    const std::vector<std::string> lines = LinesShown();
    EXPECT_EQ("", lines[0]);
    EXPECT_EQ("", lines[1]);
    EXPECT_TRUE(simwin::MessageBoxes().empty());
    EXPECT_EQ(0, simwin::ScriptErrors());
}

TEST_F(Startup, ModuleThatIsNotADllOrIsAFolder)
{
    struct Case {
        const char* what;
        void (*lay)();
    } cases[] = {
        {"empty file", [] { simwin::AddFile("C:\\Kit\\DravikEngRes.dll", {}); }},
        {"text file", [] { simwin::AddFile("C:\\Kit\\DravikEngRes.dll", {'h', 'i'}); }},
        {"folder", [] { simwin::AddFolder("C:\\Kit\\DravikEngRes.dll"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseExecutable(kExePath);
        c.lay();
        RunProgram();
        ASSERT_EQ(1u, simwin::MessageBoxes().size());
        EXPECT_EQ(CannotLoad("C:\\Kit\\DravikEngRes.dll"), simwin::MessageBoxes()[0].text);
        EXPECT_TRUE(simwin::Dialogs().empty());
    }
}

TEST_F(Startup, ExecutablePathLongerThanMaxPath)
{
    // The whole path is read; the loader then refuses the long module path
    // and the box names it in full.
    const std::string folder = "C:\\" + std::string(280, 'd');
    UseExecutable(folder + "\\Wirenest.exe");
    AddModule(folder + "\\DravikEngRes.dll", "eng");
    RunProgram();
    ASSERT_EQ(1u, simwin::MessageBoxes().size());
    EXPECT_EQ(CannotLoad(folder + "\\DravikEngRes.dll"), simwin::MessageBoxes()[0].text);
}

TEST_F(Startup, DialogRunsModallyAsTheMainWindowWithoutOwner)
{
    CWnd* mainDuringRun = reinterpret_cast<CWnd*>(1);
    simwin::Script({simwin::Inspect([&](HWND) { mainDuringRun = AfxGetMainWnd(); }),
                    simwin::PressOK()});
    {
        CInstallerApp app;
        AfxWinMain(simwin::Executable());
        ASSERT_EQ(1u, simwin::Dialogs().size());
        HWND dlg = simwin::Dialogs()[0];
        EXPECT_NE(nullptr, mainDuringRun);
        EXPECT_EQ(nullptr, AfxGetMainWnd()) << "the main window outlived its dialog";
        EXPECT_EQ(nullptr, simwin::OwnerOf(dlg));
        EXPECT_EQ(IDOK, simwin::EndResult(dlg));
        EXPECT_EQ(1, simwin::LoadedModuleCount()) << "the module is released at exit, not before";
    }
    EXPECT_EQ(0, simwin::LoadedModuleCount());
}

TEST_F(Startup, CancelEndsTheProgramWithoutWritingAnything)
{
    const auto before = simwin::ListPaths();
    simwin::Script({simwin::PressCancel()});
    {
        CInstallerApp app;
        EXPECT_EQ(0, AfxWinMain(simwin::Executable()));
    }
    ASSERT_EQ(1u, simwin::Dialogs().size());
    EXPECT_EQ(IDCANCEL, simwin::EndResult(simwin::Dialogs()[0]));
    EXPECT_EQ(before, simwin::ListPaths());
    EXPECT_TRUE(simwin::MessageBoxes().empty());
    EXPECT_EQ(0u, simwin::OpenKeyCount());
}

TEST_F(Startup, InitInstanceReturnsFalseEveryWay)
{
    {
        simwin::Script({simwin::PressOK()});
        CInstallerApp app;
        AfxWinMain(simwin::Executable());
        simwin::Script({simwin::PressCancel()});
        EXPECT_FALSE(app.InitInstance()) << "after Cancel";
    }
    UseExecutable(kExePath);  // no module at all
    CInstallerApp app;
    AfxWinMain(simwin::Executable());
    EXPECT_FALSE(app.InitInstance()) << "after the Error box";
}

TEST_F(Startup, EntrySetsTheMultibyteCodePageFirst)
{
    simwin::SetAnsiCodePage(932);
    simwin::Script({simwin::PressCancel()});
    RunProgram();
    EXPECT_EQ(932, simwin::CurrentMbcsCodePage());
    EXPECT_LT(simwin::CallIndex("_setmbcp 932"), simwin::CallIndex("GetModuleFileNameA"));
}

TEST_F(Startup, DoubleByteFolderUnderCodePage932FindsTheModule)
{
    const std::string folder = "C:\\Kit\x95\x5C";
    UseExecutable(folder + "\\\x95\x5C.exe");
    AddModule(folder + "\\DravikEngRes.dll", "dbcs");
    simwin::SetAnsiCodePage(932);
    EXPECT_EQ("dbcs step 1", FirstLineShown());
}

TEST_F(Startup, ApplicationIsNamedAfterTheExecutable)
{
    struct Row {
        const char *exe, *name, *help;
    } rows[] = {
        {"C:\\Kit\\Setup.K58.exe", "Setup.K58", "C:\\Kit\\Setup.K58.HLP"},
        {"C:\\Kit.2\\Setup", "Setup", "C:\\Kit.2\\Setup.HLP"},  // the folder's dot is not the name's
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.exe);
        UseExecutable(r.exe);
        CInstallerApp app;
        AfxWinMain(simwin::Executable());
        EXPECT_STREQ(r.name, app.m_pszAppName);
        EXPECT_STREQ(r.help, app.m_pszHelpFilePath);
    }
}

}  // namespace
