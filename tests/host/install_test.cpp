// What OK does: the platform check, the folder tree, the three copies, the
// INF registration with its replace-only retry, and the result box; and the
// check that the copied files are this package's before anything is
// registered.
#include "fixture.h"
#include "install/PackageCopy.h"

#include <functional>
namespace {

const std::string kPackage = "C:\\Kit\\Ombrel_K58_USB_Driver-Win2kXp_Modem";
const std::string kTargetRoot = "C:\\RuruRIZIrizuViz";
const std::string kTarget = kTargetRoot + "\\Ombrel_K58_USB_Driver-Win2kXp_Modem";
const char* const kFiles[3] = {"OMK58CDC.INF", "OMK58CDC.sys", "OMK58_un.exe"};
enum { INF, SYS, EXE };

const DWORD kWinXP = 0x0A280105;
const DWORD kWin2000 = 0x08930005;
const DWORD kWin95 = 0xC3B60004;
const DWORD kWin98 = 0xC0000A04;
const DWORD kWinMe = 0xC0005A04;
const DWORD kWin32s = 0x80000A03;

const std::vector<BYTE> kInf = Text("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n");
const std::vector<BYTE> kSys = Text("sample driver");
const std::vector<BYTE> kExe = Text("MZ sample uninstaller");
const std::vector<BYTE>* const kData[3] = {&kInf, &kSys, &kExe};

// Over two reads of the check, so that a check of the first 4,096 bytes
// alone would pass a target that differs after them.
std::vector<BYTE> BigDriver()
{
    std::vector<BYTE> v(10000);
    for (size_t i = 0; i < v.size(); ++i) v[i] = BYTE(i * 7 + i / 251);
    return v;
}
const std::vector<BYTE> kBigSys = BigDriver();

std::vector<BYTE> Head(const std::vector<BYTE>& v, size_t n)
{
    return std::vector<BYTE>(v.begin(), v.begin() + std::min(n, v.size()));
}

std::string Source(int file, const std::string& package = kPackage) { return package + "\\" + kFiles[file]; }
std::string Target(int file) { return kTarget + "\\" + kFiles[file]; }

class Install : public SimTest
{
protected:
    void SetUp() override { NewMachine(false); }

    // A fresh machine with the English kit, and the package beside it
    // unless told otherwise.
    void NewMachine(bool withPackage = true)
    {
        UseEnglishKit();
        if (withPackage) AddPackage();
    }

    static void AddPackage(const std::string& package = kPackage, const std::vector<BYTE>& inf = kInf,
                           const std::vector<BYTE>& sys = kSys, const std::vector<BYTE>& exe = kExe)
    {
        simwin::AddFile(Source(INF, package), inf);
        simwin::AddFile(Source(SYS, package), sys);
        simwin::AddFile(Source(EXE, package), exe);
    }

    // The package's own files at the target, as an earlier run leaves them.
    static void AddTargets(std::initializer_list<int> files)
    {
        for (int file : files) simwin::AddFile(Target(file), *kData[file]);
    }

    // What an earlier run left at the target, and the INF it registered.
    static void AddEarlierRun()
    {
        AddPackage();
        RunOK();
    }

    // Starts the program and presses OK; returns the installer dialog.
    static HWND RunOK()
    {
        simwin::Script({simwin::PressOK()});
        RunProgram();
        return simwin::Dialogs().back();
    }

    static std::vector<std::string> Registrations(size_t from = 0)
    {
        std::vector<std::string> v;
        for (size_t i : CallsStartingWith("SetupCopyOEMInfA ", from)) v.push_back(simwin::Calls()[i]);
        return v;
    }

    // The text of the one box the last run showed.
    static std::string LastBox()
    {
        const auto& boxes = simwin::MessageBoxes();
        return boxes.empty() ? "<no box>" : boxes.back().text;
    }

    static std::string Registration(DWORD style)
    {
        return "SetupCopyOEMInfA " + Target(INF) + " location=(null) media=1 style=0x" +
               std::to_string(style) + " size=260 required=(null)";
    }
};

// ---------------------------------------------------------------------------
// The platform check

class Platform : public Install {};

TEST_F(Platform, NtFamilyInstalls)
{
    for (DWORD version : {kWinXP, kWin2000}) {
        SCOPED_TRACE(version);
        NewMachine();
        simwin::SetVersion(version);
        RunOK();
        EXPECT_EQ("eng installed", LastBox());
        EXPECT_EQ(1u, simwin::StoredInfs().size());
    }
}

TEST_F(Platform, Windows9xEndsQuietlyWithoutTouchingDriveC)
{
    for (DWORD version : {kWin95, kWin98, kWinMe}) {
        SCOPED_TRACE(version);
        NewMachine();
        simwin::SetVersion(version);
        const auto before = simwin::ListPaths();
        HWND dlg = RunOK();
        EXPECT_EQ(IDOK, simwin::EndResult(dlg));
        EXPECT_EQ(0u, simwin::MessageBoxes().size());
        EXPECT_EQ(before, simwin::ListPaths());
        EXPECT_FALSE(simwin::Called("CreateDirectoryA"));
        EXPECT_FALSE(simwin::Called("CopyFileA"));
        EXPECT_EQ(0u, Registrations().size());
    }
}

TEST_F(Platform, Win32sShowsTheStopBoxAndTheDialogStays)
{
    AddPackage();
    simwin::SetVersion(kWin32s);
    const auto before = simwin::ListPaths();
    bool stillUp = false;
    simwin::Script({simwin::PressOK(), simwin::Inspect([&](HWND) { stillUp = true; }),
                    simwin::PressCancel()});
    RunProgram();
    HWND dlg = simwin::Dialogs().back();

    ASSERT_EQ(1u, simwin::MessageBoxes().size());
    const simwin::MessageBoxRecord& box = simwin::MessageBoxes()[0];
    EXPECT_EQ("For Windows only !", box.text);
    EXPECT_EQ(UINT(MB_OK | MB_ICONHAND), box.flags);
    EXPECT_EQ("Wirenest", box.caption);
    EXPECT_EQ(dlg, box.owner);
    EXPECT_TRUE(stillUp) << "the dialog ended with the box";
    EXPECT_EQ(IDCANCEL, simwin::EndResult(dlg));
    EXPECT_EQ(before, simwin::ListPaths());
    EXPECT_EQ(0u, Registrations().size());
}

TEST_F(Platform, Win32sAnswersEveryPressTheSameWay)
{
    simwin::SetVersion(kWin32s);
    simwin::Script({simwin::PressOK(), simwin::PressOK(), simwin::PressCancel()});
    RunProgram();
    ASSERT_EQ(2u, simwin::MessageBoxes().size());
    EXPECT_EQ("For Windows only !", simwin::MessageBoxes()[1].text);
    EXPECT_EQ(IDCANCEL, simwin::EndResult(simwin::Dialogs().back()));
}

// ---------------------------------------------------------------------------
// A first run with the package beside the executable

class FirstRun : public Install
{
protected:
    void SetUp() override { NewMachine(); }
};

TEST_F(FirstRun, CreatesBothFolders)
{
    RunOK();
    EXPECT_TRUE(simwin::FolderExists(kTargetRoot));
    EXPECT_TRUE(simwin::FolderExists(kTarget));
    EXPECT_LT(simwin::CallIndex("CreateDirectoryA " + kTargetRoot),
              simwin::CallIndex("CreateDirectoryA " + kTarget));
}

TEST_F(FirstRun, CopiesTheThreeFilesByteForByte)
{
    RunOK();
    for (int file : {INF, SYS, EXE})
        EXPECT_EQ(*kData[file], simwin::FileData(Target(file))) << kFiles[file];
}

TEST_F(FirstRun, CopiesInOrderWithoutOverwriting)
{
    RunOK();
    size_t last = 0;
    for (int file : {INF, SYS, EXE}) {
        SCOPED_TRACE(kFiles[file]);
        size_t at = simwin::CallIndex("CopyFileA " + Source(file) + " -> " + Target(file) +
                                      " fail-if-exists");
        ASSERT_NE(std::string::npos, at);
        EXPECT_LT(simwin::CallIndex("CreateDirectoryA " + kTarget), at);
        EXPECT_LT(last, at);
        last = at;
    }
    EXPECT_LT(last, simwin::CallIndex("SetupCopyOEMInfA"));
}

TEST_F(FirstRun, RegistersTheCopiedInfOnceWithoutOverwrite)
{
    RunOK();
    EXPECT_EQ(std::vector<std::string>{Registration(SP_COPY_NOOVERWRITE)}, Registrations());
    ASSERT_EQ(1u, simwin::StoredInfs().size());
    EXPECT_EQ(kInf, simwin::FileData(simwin::StoredInfs()[0]));
}

TEST_F(FirstRun, ShowsString3InAnInformationBoxOverTheDialog)
{
    HWND dlg = RunOK();
    ASSERT_EQ(1u, simwin::MessageBoxes().size());
    const simwin::MessageBoxRecord& box = simwin::MessageBoxes()[0];
    EXPECT_EQ("eng installed", box.text);
    EXPECT_EQ(UINT(MB_OK | MB_ICONINFORMATION), box.flags);
    EXPECT_EQ("Wirenest", box.caption);
    EXPECT_EQ(dlg, box.owner);
}

TEST_F(FirstRun, EndsTheDialogWithIDOKAfterTheBox)
{
    HWND dlg = RunOK();
    EXPECT_EQ(IDOK, simwin::EndResult(dlg));
    EXPECT_LT(simwin::CallIndex("MessageBoxA"), simwin::CallIndex("EndDialog"));
    EXPECT_EQ(0, simwin::ScriptErrors());
}

TEST_F(FirstRun, CaptionIsTheExecutablesNameWithoutExtension)
{
    UseExecutable("C:\\Kit\\K58 Setup.v2.exe");
    AddModule("C:\\Kit\\DravikEngRes.dll", "eng");
    AddPackage();
    RunOK();
    ASSERT_EQ(1u, simwin::MessageBoxes().size());
    EXPECT_EQ("K58 Setup.v2", simwin::MessageBoxes()[0].caption);
}

TEST_F(FirstRun, EmptyString3GivesAnEmptyBox)
{
    UseExecutable(kExePath);
    simwin::AddLanguageModule("C:\\Kit\\DravikEngRes.dll", {{1, "one"}, {2, "two"}, {4, "four"}});
    AddPackage();
    RunOK();
    ASSERT_EQ(1u, simwin::MessageBoxes().size());
    EXPECT_EQ("", simwin::MessageBoxes()[0].text);
    EXPECT_EQ(UINT(MB_OK | MB_ICONINFORMATION), simwin::MessageBoxes()[0].flags);
    EXPECT_EQ(1u, simwin::StoredInfs().size());
}

TEST_F(FirstRun, LeavesNoFileOpen)
{
    RunOK();
    EXPECT_NE(std::string::npos, simwin::CallIndex("CreateFileA " + Target(SYS)))
        << "the copies were not read back";
    EXPECT_EQ(0u, simwin::OpenFileHandles());
}

// The folder is "C:\Kit" followed by a double-byte character whose trail
// byte is a backslash, and so is the executable's name: cut at that byte,
// the package would be looked for in "C:\Kit\x95".
TEST_F(FirstRun, DoubleByteFolderUnderCodePage932GivesTheRightSources)
{
    const std::string folder = "C:\\Kit\x95\x5C";
    UseExecutable(folder + "\\\x95\x5C.exe");
    simwin::SetAnsiCodePage(932);
    AddModule(folder + "\\DravikEngRes.dll", "eng");
    const std::string package = folder + "\\Ombrel_K58_USB_Driver-Win2kXp_Modem";
    AddPackage(package);
    RunOK();
    for (int file : {INF, SYS, EXE}) {
        SCOPED_TRACE(kFiles[file]);
        EXPECT_TRUE(simwin::Called("CopyFileA " + Source(file, package) + " -> "));
    }
    EXPECT_EQ(kSys, simwin::FileData(Target(SYS)));
    EXPECT_EQ("eng installed", LastBox());
}

// ---------------------------------------------------------------------------
// A second run over the first one's results

class SecondRun : public Install
{
protected:
    void SetUp() override
    {
        Install::SetUp();
        AddEarlierRun();
        callsBefore = simwin::Calls().size();
    }
    size_t callsBefore = 0;
};

TEST_F(SecondRun, RegistersTwiceTheSecondTimeReplaceOnly)
{
    RunOK();
    EXPECT_EQ((std::vector<std::string>{Registration(SP_COPY_NOOVERWRITE),
                                        Registration(SP_COPY_REPLACEONLY)}),
              Registrations(callsBefore));
    EXPECT_EQ("eng installed", LastBox());
}

TEST_F(SecondRun, LeavesTargetsAndStoreAsTheyWere)
{
    const auto before = simwin::ListPaths();
    RunOK();
    EXPECT_EQ(before, simwin::ListPaths());
    EXPECT_EQ(1u, simwin::StoredInfs().size());
    EXPECT_EQ(kExe, simwin::FileData(Target(EXE)));
}

TEST_F(SecondRun, RefusedReplaceOnlyShowsString4)
{
    simwin::RefuseInfStore(ERROR_ACCESS_DENIED, SP_COPY_REPLACEONLY);
    RunOK();
    EXPECT_EQ(2u, Registrations(callsBefore).size());
    EXPECT_EQ("eng failed", LastBox());
}

// ---------------------------------------------------------------------------
// The INF store refusing for any reason but an INF already stored

TEST_F(Install, OtherRegistrationErrorsMakeOneCallAndShowString4)
{
    for (DWORD error : {DWORD(ERROR_ACCESS_DENIED), DWORD(ERROR_FILENAME_EXCED_RANGE),
                        DWORD(ERROR_DISK_FULL), DWORD(ERROR_WRONG_INF_STYLE)}) {
        SCOPED_TRACE(error);
        NewMachine();
        simwin::RefuseInfStore(error);
        HWND dlg = RunOK();
        EXPECT_EQ(std::vector<std::string>{Registration(SP_COPY_NOOVERWRITE)}, Registrations());
        EXPECT_EQ("eng failed", LastBox());
        EXPECT_EQ(IDOK, simwin::EndResult(dlg));
        EXPECT_EQ(0u, simwin::StoredInfs().size());
    }
}

TEST_F(Install, InfTheSetupApiRejectsShowsString4)
{
    AddPackage(kPackage, Text("[Version]\r\nSignature=\"$Windows 3.1$\"\r\n"));
    RunOK();
    EXPECT_EQ(1u, Registrations().size());
    EXPECT_EQ("eng failed", LastBox());
    EXPECT_EQ(0u, simwin::StoredInfs().size());
}

// ---------------------------------------------------------------------------
// Where DLLs come from: the search is confined before anything else runs,
// by whatever this kernel32 offers, and the Setup API is taken from the
// system folder by full path when OK needs it.

TEST_F(Install, DllsComeFromTheSystemFolderOnly)
{
    const std::string kSystem = std::string(simwin::kSystemFolder) + "\\";
    const std::vector<std::string> kBoth = {"SetDefaultDllDirectories", "SetDllDirectoryA"};
    const std::vector<std::string> kRegister = {"SetupCopyOEMInfA"};
    // What the dialog, the Setup API and their own imports load by name.
    const char* const kPreloads[] = {"uxtheme.dll", "userenv.dll",   "setupapi.dll", "apphelp.dll",
                                     "propsys.dll", "dwmapi.dll",    "cryptbase.dll", "oleacc.dll",
                                     "clbcatq.dll", "version.dll"};
    struct Case {
        const char* what;
        std::vector<std::string> kernel32;    // which of the two it exports
        bool setupApi;                        // setupapi.dll in the system folder
        std::vector<std::string> setupApiExports;
        std::string confinedBy;               // the program's first call
        const char* box;
    } cases[] = {
        {"Windows 8", kBoth, true, kRegister, "SetDefaultDllDirectories 0x800", "eng installed"},
        {"XP SP1 to 7", {"SetDllDirectoryA"}, true, kRegister, "SetDllDirectoryA \"\"", "eng installed"},
        {"2000", {}, true, kRegister, "LoadLibraryExA " + kSystem + "uxtheme.dll 0x8", "eng installed"},
        {"2000 without setupapi.dll", {}, false, {}, "LoadLibraryExA " + kSystem + "uxtheme.dll 0x8", "eng failed"},
        {"no setupapi.dll", kBoth, false, {}, "SetDefaultDllDirectories 0x800", "eng failed"},
        {"setupapi.dll without SetupCopyOEMInfA", kBoth, true, {}, "SetDefaultDllDirectories 0x800", "eng failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewMachine();
        simwin::SetSystemDll("kernel32.dll", c.kernel32);
        if (c.setupApi)
            simwin::SetSystemDll("setupapi.dll", c.setupApiExports);
        else
            simwin::RemoveSystemDll("setupapi.dll");
        RunOK();

        EXPECT_EQ(c.box, LastBox());
        EXPECT_EQ(c.setupApi && !c.setupApiExports.empty() ? 1u : 0u, simwin::StoredInfs().size());
        EXPECT_EQ(0u, simwin::CallIndex(c.confinedBy)) << "first call: " << simwin::Calls()[0];
        // Preloaded whatever confined the search: some loaders resolve
        // delay-loads by the program's own folder all the same.
        const size_t start = simwin::CallIndex("_setmbcp");
        for (const char* dll : kPreloads)
            EXPECT_LT(simwin::CallIndex("LoadLibraryExA " + kSystem + dll + " 0x8"), start)
                << dll << " not preloaded by full path";
        EXPECT_LT(simwin::CallIndex("LoadLibraryExA C:\\Kit\\DravikEngRes.dll 0x2"), simwin::CallIndex("DialogBoxParamA"));
        EXPECT_FALSE(simwin::Called("DllMain")) << "a language module ran its code";
    }
}

// ---------------------------------------------------------------------------
// Copies that did not happen, or files at the target that are not this
// package's: string 4, nothing registered, nothing overwritten or removed.

class Mended : public FirstRun
{
protected:
    void ExpectFailedWithoutRegistration()
    {
        EXPECT_EQ("eng failed", LastBox());
        EXPECT_EQ(0u, Registrations().size()) << "registered: " << Registrations()[0];
        EXPECT_EQ(0u, simwin::StoredInfs().size());
        EXPECT_EQ(IDOK, simwin::EndResult(simwin::Dialogs().back()));
        EXPECT_EQ(0u, simwin::OpenFileHandles());
    }

    // A target that is not the package's file, as OK leaves it: untouched.
    void ExpectTargetKept(int file, const std::vector<BYTE>& data)
    {
        simwin::AddFile(Target(file), data);
        RunOK();
        EXPECT_EQ(data, simwin::FileData(Target(file)));
        ExpectFailedWithoutRegistration();
    }
};

TEST_F(Mended, DriverFileNotCopied)
{
    simwin::FailCopyTo(Target(SYS), ERROR_DISK_FULL);
    RunOK();
    EXPECT_FALSE(simwin::FileExists(Target(SYS)));
    ExpectFailedWithoutRegistration();
}

TEST_F(Mended, TargetLeftByAnOlderPackageIsKept)
{
    ExpectTargetKept(SYS, Text("older driver"));
}

TEST_F(Mended, ForeignInfAtTheTargetIsNotRegistered)
{
    ExpectTargetKept(INF, Text("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"));
}

TEST_F(Mended, SameSizeDifferentBytesDiffer)
{
    std::vector<BYTE> other = kExe;
    other.back() ^= 1;
    ExpectTargetKept(EXE, other);
}

TEST_F(Mended, LongerTargetStartingWithThePackageFileDiffers)
{
    std::vector<BYTE> longer(kSys);
    longer.resize(5000, 'x');  // past one read of the comparison
    ExpectTargetKept(SYS, longer);
}

TEST_F(Mended, IdenticalTargetFromSomeoneElseIsTheNormalCase)
{
    AddTargets({INF, SYS, EXE});
    RunOK();
    EXPECT_EQ("eng installed", LastBox());
    EXPECT_EQ(1u, Registrations().size());
}

TEST_F(Mended, FolderWhereATargetFileShouldBe)
{
    simwin::AddFolder(Target(EXE));
    RunOK();
    EXPECT_TRUE(simwin::FolderExists(Target(EXE)));
    ExpectFailedWithoutRegistration();
}

TEST_F(Mended, FileWhereTheTargetRootShouldBe)
{
    simwin::AddFile(kTargetRoot, Text("not a folder"));
    RunOK();
    EXPECT_EQ(Text("not a folder"), simwin::FileData(kTargetRoot));
    EXPECT_FALSE(simwin::FileExists(Target(INF)));
    ExpectFailedWithoutRegistration();
}

TEST_F(Mended, PackageAbsentWithoutAnEarlierRun)
{
    NewMachine(false);
    RunOK();
    EXPECT_TRUE(simwin::FolderExists(kTarget));
    ExpectFailedWithoutRegistration();
}

TEST_F(Mended, PartialPackageWithoutAnEarlierRun)
{
    NewMachine(false);
    simwin::AddFile(Source(INF), kInf);
    simwin::AddFile(Source(SYS), kSys);
    RunOK();
    EXPECT_TRUE(simwin::FileExists(Target(SYS))) << "the files present were still copied";
    ExpectFailedWithoutRegistration();
}

TEST_F(Mended, UnreadablePackageFileCannotVouchForAnEarlierTarget)
{
    AddEarlierRun();
    simwin::FailOpen(Source(SYS), ERROR_SHARING_VIOLATION);
    const size_t from = simwin::Calls().size();
    RunOK();
    EXPECT_EQ("eng failed", LastBox());
    EXPECT_EQ(0u, Registrations(from).size());
    EXPECT_EQ(kSys, simwin::FileData(Target(SYS)));
    EXPECT_EQ(0u, simwin::OpenFileHandles());
}

TEST_F(Mended, UnreadableTargetIsNotTrusted)
{
    simwin::FailOpen(Target(EXE), ERROR_ACCESS_DENIED);
    RunOK();
    ExpectFailedWithoutRegistration();
}

TEST_F(Mended, PackageFileThatCannotBeLookedAtIsNotTrusted)
{
    simwin::FailAttributes(Source(INF), ERROR_ACCESS_DENIED);
    RunOK();
    ExpectFailedWithoutRegistration();
}

// ---------------------------------------------------------------------------
// Faults during OK and what earlier ones left behind. A failed copy leaves
// nothing new behind; a target that is the start of its package file, as
// an interrupted copy leaves it, is copied again; every other target stays
// as it was. Once the fault is cleared, the next run installs.

TEST_F(Install, FaultsDuringOK)
{
    const std::vector<BYTE> halfSys = Head(kBigSys, 5000);
    std::vector<BYTE> lateDifference = kBigSys;
    lateDifference[5000] ^= 1;
    std::vector<BYTE> earlyDifference = Head(kSys, 6);
    earlyDifference[0] ^= 1;
    std::vector<BYTE> laterDifference = kSys;
    laterDifference.back() ^= 1;
    const auto bigPackage = [] { simwin::AddFile(Source(SYS), kBigSys); };
    const auto earlier = [](int file, const std::vector<BYTE>& data, bool readOnly = false) {
        simwin::AddFile(Target(file), data);
        if (readOnly) simwin::SetReadOnly(Target(file));
    };
    struct Case {
        const char* what;
        std::function<void()> lay;  // after the package is in place
        bool installs;              // string 3 and the INF registered; else string 4, nothing
        int kept;                   // the target left with these bytes (-1: none)
        std::vector<BYTE> keptData;
        bool recovers;              // installs once the fault is cleared
    };
    const Case cases[] = {
        {"disk full during the INF copy", [] { simwin::FailCopyTo(Target(INF), ERROR_DISK_FULL, 10); },
         false, -1, {}, true},
        {"disk full during the driver copy, past its first 4 KiB",
         [&] { bigPackage(); simwin::FailCopyTo(Target(SYS), ERROR_DISK_FULL, 6000); }, false, -1, {}, true},
        {"disk full at the start of the uninstaller copy",
         [] { simwin::FailCopyTo(Target(EXE), ERROR_DISK_FULL, 0); }, false, -1, {}, true},
        {"a failed copy's own file that cannot be deleted",
         [] {
             simwin::FailCopyTo(Target(SYS), ERROR_DISK_FULL, 5);
             simwin::FailDelete(Target(SYS), ERROR_SHARING_VIOLATION);
         },
         false, SYS, Head(kSys, 5), true},
        {"disk full during a copy from a read-only package (a CD)",
         [] { simwin::SetReadOnly(Source(SYS)); simwin::FailCopyTo(Target(SYS), ERROR_DISK_FULL, 5); },
         false, -1, {}, true},
        {"a name that someone else took between the look and the copy",
         [] { simwin::FailCopyTo(Target(SYS), ERROR_FILE_EXISTS, 5); }, false, SYS, Head(kSys, 5), true},
        {"a package file locked by another program",
         [] { simwin::FailOpen(Source(SYS), ERROR_SHARING_VIOLATION); }, false, -1, {}, true},
        {"the package vanishes between the copies and the check",
         [] { simwin::VanishAfterCopy(Target(EXE), kPackage); }, false, -1, {}, true},
        {"an interrupted copy: half the driver, an empty uninstaller",
         [&] { bigPackage(); earlier(SYS, halfSys); earlier(EXE, {}); }, true, -1, {}, false},
        {"an interrupted copy of the INF", [&] { earlier(INF, Head(kInf, 20)); }, true, -1, {}, false},
        {"a cut-short target that is read-only (an interrupted copy from a CD)",
         [&] { bigPackage(); earlier(SYS, halfSys, true); }, true, -1, {}, false},
        {"a shorter target that differs in its first bytes", [&] { earlier(SYS, earlyDifference); },
         false, SYS, earlyDifference, false},
        {"a target of the same length that differs only after byte 4,096",
         [&] { bigPackage(); earlier(SYS, lateDifference); }, false, SYS, lateDifference, false},
        {"a target handed out in pieces whose first piece is the package's",
         [&] { earlier(SYS, laterDifference); simwin::ReadInPieces(Target(SYS), 5); }, false, SYS,
         laterDifference, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewMachine();
        c.lay();
        std::vector<BYTE> package[3];
        for (int file : {INF, SYS, EXE}) package[file] = simwin::FileData(Source(file));

        RunOK();
        EXPECT_EQ(c.installs ? "eng installed" : "eng failed", LastBox());
        EXPECT_EQ(c.installs ? 1u : 0u, simwin::StoredInfs().size());
        if (!c.installs) EXPECT_EQ(0u, Registrations().size());
        for (int file : {INF, SYS, EXE}) {
            SCOPED_TRACE(kFiles[file]);
            if (file == c.kept)
                EXPECT_EQ(c.keptData, simwin::FileData(Target(file)));
            else if (c.installs || simwin::FileExists(Target(file)))
                EXPECT_EQ(package[file], simwin::FileData(Target(file)));
        }
        EXPECT_EQ(0u, simwin::OpenFileHandles());
        if (!c.recovers) continue;

        // The fault cleared: the space freed, the other program ended, the
        // package back in its place.
        simwin::ClearInjectedFailures();
        for (int file : {INF, SYS, EXE})
            if (!simwin::FileExists(Source(file))) simwin::AddFile(Source(file), package[file]);
        RunOK();
        EXPECT_EQ("eng installed", LastBox()) << "after the fault was cleared";
        for (int file : {INF, SYS, EXE}) EXPECT_EQ(package[file], simwin::FileData(Target(file)));
        EXPECT_EQ(1u, simwin::StoredInfs().size());
    }
}

// A second installer started at the same moment sees the first one's copy
// as an existing name or as the start of the package file: it must not
// touch the target folder while the first one copies, checks and registers.
TEST_F(FirstRun, OneInstallerAtATimeFromTheCopiesToTheRegistration)
{
    RunOK();
    const std::string wait = "WaitForSingleObject " PACKAGE_LOCK_NAME " ";
    ASSERT_TRUE(simwin::Called(wait));
    EXPECT_FALSE(simwin::Called(wait + "INFINITE")) << "a hung holder would hang this run too";
    EXPECT_LT(simwin::CallIndex(wait), simwin::CallIndex("CreateFileA"));
    EXPECT_LT(simwin::CallIndex(wait), simwin::CallIndex("CopyFileA"));
    const size_t release = simwin::CallIndex("ReleaseMutex " PACKAGE_LOCK_NAME);
    EXPECT_LT(simwin::CallIndex("SetupCopyOEMInfA"), release);
    EXPECT_LT(release, simwin::CallIndex("MessageBoxA")) << "the next one would wait for the user";
    EXPECT_FALSE(simwin::MutexOwnedHere(PACKAGE_LOCK_NAME));
    EXPECT_EQ(0u, simwin::OpenFileHandles());
}

// Held elsewhere past the wait: string 4 and nothing touched. Abandoned by
// an installer that ended mid-copy: ours, and its half copy is repaired.
TEST_F(Install, LockHeldOrAbandonedElsewhere)
{
    for (bool abandoned : {false, true}) {
        SCOPED_TRACE(abandoned ? "abandoned" : "held");
        NewMachine();
        simwin::AddFile(Target(SYS), Head(kSys, 4));
        if (abandoned)
            simwin::MutexAbandonedElsewhere(PACKAGE_LOCK_NAME);
        else
            simwin::MutexHeldElsewhere(PACKAGE_LOCK_NAME);
        RunOK();
        EXPECT_EQ(abandoned ? "eng installed" : "eng failed", LastBox());
        EXPECT_EQ(abandoned ? kSys : Head(kSys, 4), simwin::FileData(Target(SYS)));
        EXPECT_EQ(abandoned, simwin::Called("CopyFileA"));
        EXPECT_EQ(abandoned ? 1u : 0u, Registrations().size());
        EXPECT_FALSE(simwin::MutexOwnedHere(PACKAGE_LOCK_NAME));
        EXPECT_EQ(0u, simwin::OpenFileHandles());
    }
}

// ---------------------------------------------------------------------------
// Without the package, an earlier run's files are used as they are.

class NoPackage : public Install
{
protected:
    // What an earlier run left: the targets and the registered INF.
    static void AddEarlierTargets(std::initializer_list<int> files)
    {
        AddTargets(files);
        simwin::AddFile(std::string(simwin::kInfStoreFolder) + "\\oem0.inf", kInf);
    }
};

TEST_F(NoPackage, EarlierTargetsAreRegisteredAsTheyAre)
{
    AddEarlierTargets({INF, SYS, EXE});
    RunOK();
    EXPECT_EQ((std::vector<std::string>{Registration(SP_COPY_NOOVERWRITE),
                                        Registration(SP_COPY_REPLACEONLY)}),
              Registrations());
    EXPECT_EQ("eng installed", LastBox());
}

TEST_F(NoPackage, AMissingEarlierTargetFails)
{
    AddEarlierTargets({INF, EXE});
    RunOK();
    EXPECT_EQ(0u, Registrations().size());
    EXPECT_EQ("eng failed", LastBox());
    EXPECT_FALSE(simwin::FileExists(Target(SYS)));
}

// A folder nested so deep that the package's paths pass MAX_PATH: the
// system cannot reach the package, which counts as absent.
TEST_F(NoPackage, PackageBeyondThePathLimitCountsAsAbsent)
{
    const std::string deep = "C:\\" + std::string(220, 'd');
    const std::string package = deep + "\\Ombrel_K58_USB_Driver-Win2kXp_Modem";
    UseExecutable(deep + "\\Wirenest.exe");
    AddModule(deep + "\\DravikEngRes.dll", "eng");
    AddPackage(package);
    // Were it reachable, this newer driver would not match the earlier one.
    simwin::AddFile(Source(SYS, package), Text("newer driver"));
    AddEarlierTargets({INF, SYS, EXE});
    ASSERT_LE(260u, Source(SYS, package).size());
    RunOK();
    EXPECT_EQ(2u, Registrations().size());
    EXPECT_EQ("eng installed", LastBox());
}

// ---------------------------------------------------------------------------
// Empty package files are copied like any other; only the INF has to be one.

TEST_F(Install, EmptyDriverAndUninstallerAreInstalled)
{
    AddPackage(kPackage, kInf, {}, {});
    RunOK();
    EXPECT_TRUE(simwin::FileExists(Target(SYS)));
    EXPECT_EQ(0u, simwin::FileData(Target(SYS)).size());
    EXPECT_EQ("eng installed", LastBox());
}

TEST_F(Install, EmptyInfIsRefusedByTheSetupApi)
{
    AddPackage(kPackage, {});
    RunOK();
    EXPECT_EQ(1u, Registrations().size());
    EXPECT_EQ("eng failed", LastBox());
}

}  // namespace

// ---------------------------------------------------------------------------
// The driver's folders: Administrators own them and alone may change them,
// from before the first copy; nothing is copied into a folder, or
// registered from it, that others may still write to.

const std::string kFolderSecurity = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const std::string kFileSecurity = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST_F(Install, FolderSecurity)
{
    const std::string F = kFolderSecurity, T = kFileSecurity;
    const std::vector<BYTE> inTheWay = Text("a file in the way");
    std::vector<std::string> untouched;  // every path, as a row laid them
    struct Case {
        const char* what;
        std::function<void()> layout;
        bool installs;  // string 3, the copies and one registration; else string 4 and none
        size_t sets;    // security sets, failed ones included
        std::string root, folder, files[3];  // what each ends with ("": nothing set)
        std::function<void()> check;         // what else the row shows
    } cases[] = {
        {"fresh install", [] {}, true, 2, F, F, {"", "", ""}},
        {"folders exist", [] { simwin::AddFolder(kTarget); }, true, 2, F, F, {"", "", ""}},
        {"identical targets from an earlier run", [] { AddTargets({INF, SYS, EXE}); }, true, 5, F, F, {T, T, T}},
        {"volume without ACLs", [] { simwin::SetVolumeKeepsAcls(false); }, true, 0, "", "", {"", "", ""}},
        {"volume that cannot tell", [] { simwin::FailVolumeInformation(ERROR_NOT_READY); }, false, 0, "",
         "", {"", "", ""}},
        {"root refuses (not elevated)", [] { simwin::FailSecurity(kTargetRoot, ERROR_ACCESS_DENIED); },
         false, 1, "", "", {"", "", ""}},
        {"package folder refuses a new owner",
         [] { simwin::FailSecurity(kTarget, ERROR_INVALID_OWNER); }, false, 2, F, "", {"", "", ""}},
        {"earlier target refuses",
         [] { AddTargets({INF, SYS}); simwin::FailSecurity(Target(SYS), ERROR_ACCESS_DENIED); },
         false, 4, F, F, {T, "", ""}},
        // Taken for absent, it would be kept as it is and registered.
        {"earlier target whose attributes cannot be read",
         [] { AddTargets({INF, SYS}); simwin::FailAttributes(Target(INF), ERROR_ACCESS_DENIED); },
         false, 2, F, F, {"", "", ""}},
        {"file in the way of the package folder", [&] { simwin::AddFile(kTarget, inTheWay); }, false, 1,
         F, "", {"", "", ""}},
        // Followed, it would carry the package folder to wherever it points.
        {"root is a junction",
         [&] {
             simwin::AddFolder("C:\\Elsewhere");
             simwin::MakeJunction(kTargetRoot, "C:\\Elsewhere");
             untouched = simwin::ListPaths();
         },
         false, 0, "", "", {"", "", ""},
         [&] { EXPECT_EQ(untouched, simwin::ListPaths()) << "created through the junction"; }},
        {"package folder is a junction",
         [] { simwin::AddFolder(kTarget); simwin::MakeReparsePoint(kTarget); },
         false, 1, F, "", {"", "", ""}},
        {"earlier target is a hard link to another file",
         [] { simwin::AddFile(Target(INF), kInf); simwin::SetLinkCount(Target(INF), 2); },
         false, 2, F, F, {"", "", ""}},
        {"earlier target is a link",
         [] { simwin::AddFile(Target(SYS), kSys); simwin::MakeReparsePoint(Target(SYS)); },
         false, 2, F, F, {"", "", ""}},
        // Handles that others opened before the change keep what they may do.
        {"earlier driver held open by a writer",
         [] {
             AddTargets({INF, SYS});
             EXPECT_TRUE(simwin::HoldElsewhere(Target(SYS), GENERIC_WRITE, kShareAll));
         },
         false, 3, F, F, {T, "", ""}},
        {"a writer waiting for the check to let go of an earlier driver",
         [] {
             AddTargets({INF, SYS, EXE});
             simwin::OpenElsewhereWhenClosed(Target(SYS), GENERIC_WRITE, kShareAll);
         },
         true, 5, F, F, {T, T, T},
         [] { EXPECT_EQ(0u, simwin::HandlesElsewhere(Target(SYS))) << "a writer got in"; }},
        {"earlier driver read by a scanner",
         [] {
             simwin::AddFile(Target(SYS), kSys);
             EXPECT_TRUE(simwin::HoldElsewhere(Target(SYS), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
         },
         true, 3, F, F, {"", T, ""}},
        {"root held open with DELETE",
         [] {
             simwin::AddFolder(kTarget);
             EXPECT_TRUE(simwin::HoldElsewhere(kTargetRoot, DELETE, kShareAll));
         },
         false, 0, "", "", {"", "", ""}},
        {"package folder listed in a window",
         [] {
             simwin::AddFolder(kTarget);
             EXPECT_TRUE(simwin::HoldElsewhere(kTarget, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll));
         },
         true, 2, F, F, {"", "", ""}},
        {"root swapped for a junction once it was opened",
         [] { simwin::AddFolder(kTarget); simwin::SwapForJunction(kTargetRoot, kTargetRoot + ".old"); },
         false, 1, "", "", {"", "", ""},
         [] { EXPECT_EQ(kFolderSecurity, simwin::SecurityOf(kTargetRoot + ".old")) << "not on what was checked"; }},
        // Only the check on the opened handle sees these: the look saw a folder.
        {"root swapped for a junction between the look and the open",
         [] {
             simwin::AddFolder(kTarget);
             simwin::SwapForJunctionAfterLook(kTargetRoot, kTargetRoot + ".old");
         },
         false, 0, "", "", {"", "", ""},
         [] { EXPECT_EQ("", simwin::SecurityOf(kTargetRoot + ".old")) << "set where the junction points"; }},
        {"package folder swapped for a junction between the look and the open",
         [] { simwin::AddFolder(kTarget); simwin::SwapForJunctionAfterLook(kTarget, kTarget + ".old"); },
         false, 1, F, "", {"", "", ""},
         [] { EXPECT_EQ("", simwin::SecurityOf(kTarget + ".old")) << "set where the junction points"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NewMachine();
        c.layout();
        RunOK();

        EXPECT_EQ(c.installs ? "eng installed" : "eng failed", LastBox());
        EXPECT_EQ(c.installs ? 1u : 0u, Registrations().size());
        EXPECT_EQ(c.installs, simwin::Called("CopyFileA")) << "copied into an unprotected folder";
        EXPECT_EQ(c.root, simwin::SecurityOf(kTargetRoot));
        EXPECT_EQ(c.folder, simwin::SecurityOf(kTarget));
        for (int file : {INF, SYS, EXE})
            EXPECT_EQ(c.files[file], simwin::SecurityOf(Target(file))) << kFiles[file];

        const std::vector<size_t> sets = CallsStartingWith("SetKernelObjectSecurity ");
        EXPECT_EQ(c.sets, sets.size());
        if (!sets.empty() && c.installs) EXPECT_LT(sets.back(), simwin::CallIndex("CopyFileA"));
        EXPECT_EQ(0u, simwin::HeldSecurityDescriptors()) << "descriptors not freed";
        if (simwin::FileExists(kTarget)) EXPECT_EQ(inTheWay, simwin::FileData(kTarget));
        EXPECT_EQ(0u, simwin::OpenFileHandles());
        if (c.check) c.check();
    }
}
