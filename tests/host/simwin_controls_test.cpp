// simwin's own controls: injected failures, what it counts and records, and
// the few answers no source shows for Windows.  What Windows itself does is
// checked in tests/contract, on simwin and under Wine alike.
#include "fixture.h"

namespace {

class SimControls : public SimTest {};

TEST_F(SimControls, InjectedCopyOpenAndDeleteFailures)
{
    for (const char* name : {"C:\\a\\src.bin", "C:\\a\\next.bin", "C:\\a\\open.bin", "C:\\gone\\f.bin"})
        simwin::AddFile(name, Text("new"));
    simwin::AddFolder("C:\\b");
    const auto before = simwin::ListPaths();
    simwin::FailCopyTo("C:\\b\\full.bin", ERROR_DISK_FULL);
    EXPECT_LAST_ERROR(ERROR_DISK_FULL, EXPECT_FALSE(CopyFileA("C:\\a\\src.bin", "C:\\b\\full.bin", TRUE)));
    EXPECT_EQ(before, simwin::ListPaths());
    simwin::FailOpen("C:\\a\\src.bin", ERROR_SHARING_VIOLATION);
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION, EXPECT_FALSE(CopyFileA("C:\\a\\src.bin", "C:\\b\\x.bin", TRUE)));
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION, EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("C:\\a\\src.bin",
                      GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)));
    simwin::FailDelete("C:\\a\\open.bin", ERROR_SHARING_VIOLATION);
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION, EXPECT_FALSE(DeleteFileA("C:\\a\\open.bin")));
    EXPECT_TRUE(simwin::FileExists("C:\\a\\open.bin"));

    /* try a copy cut short: the first bytes stay behind, an empty file for none */
    simwin::FailCopyTo("C:\\b\\cut.bin", ERROR_DISK_FULL, 2);
    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND, EXPECT_FALSE(CopyFileA("C:\\a\\none.bin", "C:\\b\\cut.bin", FALSE)));
    EXPECT_FALSE(simwin::FileExists("C:\\b\\cut.bin")) << "a missing source writes nothing";
    for (size_t written : {2, 0}) {
        simwin::FailCopyTo("C:\\b\\cut.bin", ERROR_DISK_FULL, written);
        EXPECT_LAST_ERROR(ERROR_DISK_FULL, EXPECT_FALSE(CopyFileA("C:\\a\\next.bin", "C:\\b\\cut.bin", FALSE)));
        EXPECT_EQ(Text(std::string("new", written)), simwin::FileData("C:\\b\\cut.bin"));
    }

    /* try a folder that goes once a copy is made, whatever its outcome; then all cleared */
    simwin::VanishAfterCopy("C:\\b\\full.bin", "C:\\Gone");
    EXPECT_LAST_ERROR(ERROR_DISK_FULL, EXPECT_FALSE(CopyFileA("C:\\gone\\f.bin", "C:\\b\\full.bin", TRUE)));
    EXPECT_FALSE(simwin::FolderExists("C:\\gone"));
    simwin::ClearInjectedFailures();
    EXPECT_TRUE(CopyFileA("C:\\a\\src.bin", "C:\\b\\full.bin", TRUE)) << GetLastError();
    EXPECT_TRUE(DeleteFileA("C:\\a\\open.bin")) << GetLastError();
}

// Handles and owners counted; a volume without ACLs (FAT32), a failure, and
// the root without its backslash, which Windows answers by the drive's current
// folder (kernel32's volume.c test), simwin as for a folder below the root.
TEST_F(SimControls, HandlesAndVolumes)
{
    simwin::AddFile("C:\\a\\f.bin", Text("f"));
    HANDLE file = CreateFileA("C:\\a\\f.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "free");
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(mutex, 10));
    EXPECT_TRUE(simwin::MutexOwnedHere("free"));
    EXPECT_EQ(2u, simwin::OpenFileHandles());
    for (HANDLE h : {file, mutex}) EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(0u, simwin::OpenFileHandles());
    DWORD flags = 0;
    const auto volume = [&](const char* root) {
        return GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
    };
    simwin::SetVolumeKeepsAcls(false);
    EXPECT_TRUE(volume("C:\\"));
    EXPECT_EQ(0u, flags & FS_PERSISTENT_ACLS) << flags;
    EXPECT_LAST_ERROR(ERROR_INVALID_NAME, EXPECT_FALSE(volume("C:")));
    simwin::FailVolumeInformation(ERROR_NOT_READY);
    EXPECT_LAST_ERROR(ERROR_NOT_READY, EXPECT_FALSE(volume("C:\\")));
}

// What was set, part by part, an injected refusal, and the descriptors held
// until LocalFree.  simwin refuses the empty string and one closing parenthesis
// too many, and takes a descriptor without a DACL as none: no source shows
// Windows' answers (Wine takes both and sets its default DACL); we pass none.
TEST_F(SimControls, Security)
{
    simwin::AddFolder("C:\\a");
    PSECURITY_DESCRIPTOR both = nullptr, owner = nullptr, p = nullptr;
    const auto convert = [](const char* sddl, PSECURITY_DESCRIPTOR* sd) {
        return ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, sd, nullptr);
    };
    ASSERT_TRUE(convert("O:BAD:P(A;OICI;FA;;;SY)", &both) && convert("O:SY", &owner));
    for (const char* sddl : {"", "D:P(A;;FA;;;SY))"})
        EXPECT_LAST_ERROR(ERROR_INVALID_PARAMETER, EXPECT_FALSE(convert(sddl, &p)));
    HANDLE h = CreateFileA("C:\\a", READ_CONTROL | WRITE_DAC | WRITE_OWNER, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_TRUE(SetKernelObjectSecurity(h, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, both));
    EXPECT_EQ("O:BAD:P(A;OICI;FA;;;SY)", simwin::SecurityOf("C:\\A"));
    EXPECT_TRUE(SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, owner));
    EXPECT_EQ("O:BAD:NO_ACCESS_CONTROL", simwin::SecurityOf("C:\\a"));
    simwin::FailSecurity("C:\\A", ERROR_ACCESS_DENIED);
    EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED, EXPECT_FALSE(SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, both)));
    EXPECT_EQ("O:BAD:NO_ACCESS_CONTROL", simwin::SecurityOf("C:\\a"));

    /* try a freed descriptor */
    EXPECT_EQ(2u, simwin::HeldSecurityDescriptors());
    for (PSECURITY_DESCRIPTOR sd : {both, owner}) EXPECT_EQ(nullptr, LocalFree(sd));
    EXPECT_EQ(0u, simwin::HeldSecurityDescriptors());
    EXPECT_LAST_ERROR(ERROR_INVALID_SECURITY_DESCR,
                      EXPECT_FALSE(SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, both)));
    EXPECT_TRUE(CloseHandle(h));
}

// INFs named oemN.inf, an empty one refused as of the wrong style (Wine:
// ERROR_FILE_INVALID; no source shows Windows'), one copy style refused.
TEST_F(SimControls, InfStore)
{
    simwin::AddFile("C:\\pkg\\my.inf", Text("[Version]\r\nSignature = \"$Windows NT$\"\r\nClass=Modem\r\n"));
    simwin::AddFile("C:\\pkg\\empty.inf", {});
    char name[MAX_PATH];
    LPSTR component = nullptr;
    const auto copy = [&](const char* inf, DWORD style) {
        return SetupCopyOEMInfA(inf, nullptr, SPOST_PATH, style, name, sizeof name, nullptr, &component);
    };
    EXPECT_LAST_ERROR(ERROR_WRONG_INF_STYLE, EXPECT_FALSE(copy("C:\\pkg\\empty.inf", SP_COPY_NOOVERWRITE)));
    simwin::RefuseInfStore(ERROR_ACCESS_DENIED, SP_COPY_REPLACEONLY);
    EXPECT_TRUE(copy("C:\\pkg\\my.inf", SP_COPY_NOOVERWRITE)) << GetLastError();
    EXPECT_EQ(std::string(simwin::kInfStoreFolder) + "\\oem0.inf", name);
    EXPECT_STREQ("oem0.inf", component);
    EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED, EXPECT_FALSE(copy("C:\\pkg\\my.inf", SP_COPY_REPLACEONLY)));
    EXPECT_EQ(1u, simwin::StoredInfs().size());
}

// The damaged-module tests rely on simwin reading a module's file as Wine
// does: mapped in whole pages with free memory past them; FindResourceA
// handing out the data entry's address unchecked; SizeofResource and
// LoadStringA reading unprotected, so that outside every module the process
// stops; the directory walk and LoadResource protected (ntdll catches it).
TEST_F(SimControls, ResourcesOutsideTheirModule)
{
    using R = simwin::Resource;
    simwin::AddFile("C:\\Kit\\Outside.dll", simwin::ModuleFile({{6, 1, 0, {0, 0, 1, 0, 'a', 0}, R::kOutside},
                                                                  {6, 2, 0, {}, R::kEntryOutside}}));
    std::vector<BYTE> rootOutside = simwin::ModuleFile({{6, 1, 0, {}}});
    rootOutside[0xCA] = 0x10;   // the resource directory at RVA 0x101000,
    rootOutside[0x14A] = 0x10;  // which the section claims, far past the file's end
    simwin::AddFile("C:\\Kit\\Root.dll", rootOutside);
    const auto load = [](const char* path) { return LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE); };
    HMODULE o = load("C:\\Kit\\Outside.dll");
    MEMORY_BASIC_INFORMATION mbi;
    ASSERT_EQ(sizeof mbi, VirtualQuery(o, &mbi, sizeof mbi));
    EXPECT_EQ(SIZE_T(0x1000), mbi.RegionSize) << "the file's size in whole pages";
    EXPECT_EQ(DWORD(MEM_MAPPED), mbi.Type);
    VirtualQuery(static_cast<BYTE*>(mbi.BaseAddress) + mbi.RegionSize, &mbi, sizeof mbi);
    EXPECT_EQ(DWORD(MEM_FREE), mbi.State) << "past the file";
    char buf[16];
    EXPECT_DEATH(LoadStringA(o, 1, buf, sizeof buf), "LoadStringA 1 in C:.*Outside.dll reads outside");
    VirtualQuery(LockResource(LoadResource(o, FindResourceA(o, MAKEINTRESOURCEA(1), RT_STRING))), &mbi, sizeof mbi);
    EXPECT_EQ(DWORD(MEM_FREE), mbi.State) << "the block lies outside";
    HRSRC entry = FindResourceA(o, MAKEINTRESOURCEA(2), RT_STRING);
    ASSERT_NE(nullptr, entry) << "the entry's address is not checked";
    EXPECT_DEATH(SizeofResource(o, entry), "SizeofResource");
    EXPECT_LAST_ERROR(ERROR_NOACCESS, EXPECT_EQ(nullptr, LoadResource(o, entry)));
    HMODULE r = load("C:\\Kit\\Root.dll");
    EXPECT_LAST_ERROR(ERROR_NOACCESS, EXPECT_EQ(nullptr, FindResourceA(r, MAKEINTRESOURCEA(1), RT_STRING)));
}

}  // namespace
