// The simulated folders, copies, reads and INF store answer as Windows does;
// the installation's host tests rely on these answers.
#include "fixture.h"

namespace {

const std::vector<BYTE> kNtInf = Text("[Version]\r\nSignature = \"$Windows NT$\"\r\nClass=Modem\r\n");

HANDLE OpenExisting(const char* path, DWORD access, DWORD flags = FILE_ATTRIBUTE_NORMAL)
{
    return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
}

class SimFiles : public SimTest {};

TEST_F(SimFiles, CreateDirectoryAnswers)
{
    /* try a new folder under an existing one */
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(CreateDirectoryA("C:\\New", nullptr)) << GetLastError();
    EXPECT_TRUE(simwin::FolderExists("C:\\New"));

    /* try it again */
    EXPECT_LAST_ERROR(ERROR_ALREADY_EXISTS, EXPECT_FALSE(CreateDirectoryA("C:\\new", nullptr)));

    /* try a file's name */
    simwin::AddFile("C:\\File", Text("x"));
    EXPECT_LAST_ERROR(ERROR_ALREADY_EXISTS, EXPECT_FALSE(CreateDirectoryA("C:\\File", nullptr)));

    /* try under a missing folder, and under a file */
    for (const char* path : {"C:\\Missing\\Sub", "C:\\File\\Sub"}) {
        SCOPED_TRACE(path);
        EXPECT_LAST_ERROR(ERROR_PATH_NOT_FOUND, EXPECT_FALSE(CreateDirectoryA(path, nullptr)));
        EXPECT_FALSE(simwin::FolderExists(path));
    }

    /* try a path with no room left for a file name */
    const std::string longPath = "C:\\" + std::string(245, 'f');
    EXPECT_LAST_ERROR(ERROR_FILENAME_EXCED_RANGE,
                      EXPECT_FALSE(CreateDirectoryA(longPath.c_str(), nullptr)));
}

TEST_F(SimFiles, CopyFileCopiesBytesToANewName)
{
    simwin::AddFile("C:\\a\\src.bin", Text("bytes"));
    simwin::AddFolder("C:\\b");
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(CopyFileA("C:\\a\\src.bin", "C:\\b\\Dst.bin", TRUE)) << GetLastError();
    EXPECT_EQ(Text("bytes"), simwin::FileData("C:\\B\\dst.BIN"));
}

TEST_F(SimFiles, CopyFileFailures)
{
    simwin::AddFile("C:\\a\\src.bin", Text("new"));
    simwin::AddFile("C:\\b\\old.bin", Text("old"));
    simwin::AddFolder("C:\\b\\folder");
    simwin::AddFile("C:\\b\\plain", Text("p"));
    const std::string longName = "C:\\b\\" + std::string(260, 'n');
    struct Case {
        const char* what;
        std::string source, target;
        BOOL failIfExists;
        DWORD error;
    } cases[] = {
        {"existing file, fail-if-exists", "C:\\a\\src.bin", "C:\\b\\old.bin", TRUE, ERROR_FILE_EXISTS},
        {"folder at the target, fail-if-exists", "C:\\a\\src.bin", "C:\\b\\folder", TRUE, ERROR_FILE_EXISTS},
        {"folder at the target", "C:\\a\\src.bin", "C:\\b\\folder", FALSE, ERROR_ACCESS_DENIED},
        {"missing source", "C:\\a\\none.bin", "C:\\b\\x.bin", TRUE, ERROR_FILE_NOT_FOUND},
        {"missing source folder", "C:\\none\\src.bin", "C:\\b\\x.bin", TRUE, ERROR_PATH_NOT_FOUND},
        {"folder as source", "C:\\b\\folder", "C:\\b\\x.bin", TRUE, ERROR_ACCESS_DENIED},
        {"missing target folder", "C:\\a\\src.bin", "C:\\none\\x.bin", TRUE, ERROR_PATH_NOT_FOUND},
        {"file as target folder", "C:\\a\\src.bin", "C:\\b\\plain\\x.bin", TRUE, ERROR_PATH_NOT_FOUND},
        {"target past MAX_PATH", "C:\\a\\src.bin", longName, TRUE, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = simwin::ListPaths();
        EXPECT_LAST_ERROR(c.error,
                          EXPECT_FALSE(CopyFileA(c.source.c_str(), c.target.c_str(), c.failIfExists)));
        EXPECT_EQ(before, simwin::ListPaths());
    }
    EXPECT_EQ(Text("old"), simwin::FileData("C:\\b\\old.bin"));
}

TEST_F(SimFiles, InjectedCopyAndOpenFailures)
{
    simwin::AddFile("C:\\a\\src.bin", Text("new"));
    simwin::AddFolder("C:\\b");
    simwin::FailCopyTo("C:\\b\\full.bin", ERROR_DISK_FULL);
    EXPECT_LAST_ERROR(ERROR_DISK_FULL,
                      EXPECT_FALSE(CopyFileA("C:\\a\\src.bin", "C:\\b\\full.bin", TRUE)));
    EXPECT_FALSE(simwin::FileExists("C:\\b\\full.bin"));

    simwin::FailOpen("C:\\a\\src.bin", ERROR_SHARING_VIOLATION);
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION,
                      EXPECT_FALSE(CopyFileA("C:\\a\\src.bin", "C:\\b\\x.bin", TRUE)));
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION,
                      EXPECT_EQ(INVALID_HANDLE_VALUE, OpenExisting("C:\\a\\src.bin", GENERIC_READ)));

    /* try a copy cut short: the first bytes stay behind, an empty file for none */
    simwin::FailCopyTo("C:\\b\\cut.bin", ERROR_DISK_FULL, 2);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CopyFileA("C:\\a\\none.bin", "C:\\b\\cut.bin", FALSE));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError()) << "a missing source writes nothing";
    EXPECT_FALSE(simwin::FileExists("C:\\b\\cut.bin"));
    simwin::AddFile("C:\\a\\next.bin", Text("new"));
    for (size_t written : {2, 0}) {
        SCOPED_TRACE(written);
        simwin::FailCopyTo("C:\\b\\cut.bin", ERROR_DISK_FULL, written);
        EXPECT_LAST_ERROR(ERROR_DISK_FULL,
                          EXPECT_FALSE(CopyFileA("C:\\a\\next.bin", "C:\\b\\cut.bin", FALSE)));
        EXPECT_TRUE(simwin::FileExists("C:\\b\\cut.bin"));
        EXPECT_EQ(Text(std::string("new", written)), simwin::FileData("C:\\b\\cut.bin"));
    }

    /* try a folder that goes once a copy is made, whatever its outcome */
    simwin::AddFile("C:\\gone\\f.bin", Text("f"));
    simwin::VanishAfterCopy("C:\\b\\full.bin", "C:\\Gone");
    EXPECT_FALSE(CopyFileA("C:\\gone\\f.bin", "C:\\b\\full.bin", TRUE));
    EXPECT_EQ(DWORD(ERROR_DISK_FULL), GetLastError());
    EXPECT_FALSE(simwin::FolderExists("C:\\gone"));
    EXPECT_FALSE(simwin::FileExists("C:\\gone\\f.bin"));

    /* try them all cleared */
    simwin::ClearInjectedFailures();
    EXPECT_TRUE(CopyFileA("C:\\a\\src.bin", "C:\\b\\full.bin", TRUE)) << GetLastError();
}

TEST_F(SimFiles, DeleteFileAnswers)
{
    simwin::AddFile("C:\\a\\f.bin", Text("f"));
    simwin::AddFile("C:\\a\\ro.bin", Text("r"));
    simwin::SetReadOnly("C:\\a\\ro.bin");
    simwin::AddFile("C:\\a\\open.bin", Text("o"));
    simwin::FailDelete("C:\\a\\open.bin", ERROR_SHARING_VIOLATION);
    simwin::AddFolder("C:\\a\\folder");
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), GetFileAttributesA("C:\\a\\ro.bin") & FILE_ATTRIBUTE_READONLY);
    struct Case {
        const char* path;
        DWORD error;  // 0: deleted
    } cases[] = {
        {"C:\\a\\F.BIN", 0},
        {"C:\\a\\f.bin", ERROR_FILE_NOT_FOUND},
        {"C:\\none\\f.bin", ERROR_PATH_NOT_FOUND},
        {"C:\\a\\ro.bin", ERROR_ACCESS_DENIED},
        {"C:\\a\\open.bin", ERROR_SHARING_VIOLATION},
        {"C:\\a\\folder", ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.error == 0, DeleteFileA(c.path) != FALSE);
        if (c.error) EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_FALSE(simwin::FileExists("C:\\a\\f.bin"));
    EXPECT_TRUE(simwin::FileExists("C:\\a\\ro.bin"));

    /* try a copy of the read-only file: read-only too, until the attribute goes */
    EXPECT_TRUE(CopyFileA("C:\\a\\ro.bin", "C:\\a\\ro2.bin", TRUE));
    EXPECT_FALSE(DeleteFileA("C:\\a\\ro2.bin"));
    EXPECT_TRUE(SetFileAttributesA("C:\\a\\ro2.bin", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(0u, GetFileAttributesA("C:\\a\\ro2.bin") & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFileA("C:\\a\\ro2.bin")) << GetLastError();
    EXPECT_TRUE(simwin::FileExists("C:\\a\\open.bin"));
    EXPECT_TRUE(simwin::FolderExists("C:\\a\\folder"));
}

// One process: another's hold is injected; a wait on it times out, an
// abandoned one is owned by the next wait.
TEST_F(SimFiles, NamedMutexes)
{
    HANDLE free = CreateMutexA(nullptr, FALSE, "free");
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(free, 10));
    EXPECT_TRUE(simwin::MutexOwnedHere("free"));
    EXPECT_TRUE(ReleaseMutex(free));
    EXPECT_LAST_ERROR(ERROR_NOT_OWNER, EXPECT_FALSE(ReleaseMutex(free)));

    simwin::MutexHeldElsewhere("held");
    simwin::MutexAbandonedElsewhere("abandoned");
    HANDLE held = CreateMutexA(nullptr, FALSE, "held");
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(held, 10));
    EXPECT_FALSE(ReleaseMutex(held));
    HANDLE abandoned = CreateMutexA(nullptr, FALSE, "abandoned");
    EXPECT_EQ(DWORD(WAIT_ABANDONED), WaitForSingleObject(abandoned, 10));
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(abandoned, 10)) << "owned now: recursive";
    EXPECT_EQ(3u, simwin::OpenFileHandles());
    for (HANDLE h : {free, held, abandoned}) EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(0u, simwin::OpenFileHandles());
}

TEST_F(SimFiles, GetFileAttributesTellsFilesFoldersAndMissingNames)
{
    simwin::AddFile("C:\\a\\f.txt", Text("x"));
    EXPECT_EQ(0u, GetFileAttributesA("C:\\a\\f.txt") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(0u, GetFileAttributesA("C:\\a") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\a"));

    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND,
                      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\a\\none")));
    EXPECT_LAST_ERROR(ERROR_PATH_NOT_FOUND,
                      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\none\\none")));
}

TEST_F(SimFiles, ReadFileReadsInChunksUntilZero)
{
    simwin::AddFile("C:\\a\\f.bin", Text("abcdefg"));
    HANDLE h = OpenExisting("C:\\a\\f.bin", GENERIC_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(1u, simwin::OpenFileHandles());
    char buf[4];
    DWORD n = 0xdeadbeef;
    EXPECT_TRUE(ReadFile(h, buf, 4, &n, nullptr));
    EXPECT_EQ(4u, n);
    EXPECT_TRUE(ReadFile(h, buf, 4, &n, nullptr));
    EXPECT_EQ(3u, n);
    EXPECT_EQ("efg", std::string(buf, 3));
    EXPECT_TRUE(ReadFile(h, buf, 4, &n, nullptr));
    EXPECT_EQ(0u, n);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(0u, simwin::OpenFileHandles());

    /* try the closed handle */
    EXPECT_LAST_ERROR(ERROR_INVALID_HANDLE, EXPECT_FALSE(CloseHandle(h)));

    /* try a folder */
    EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED,
                      EXPECT_EQ(INVALID_HANDLE_VALUE, OpenExisting("C:\\a", GENERIC_READ)));
}

// Share modes as Windows weighs them, measured the same under Wine 8 for a
// file and a folder: only between opens that read, write or delete data.
TEST_F(SimFiles, ShareModesHoldForFilesAndFolders)
{
    const DWORD kAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD kSecure = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES;
    struct {
        const char* what;
        DWORD heldAccess, heldShare;  // the other program's, opened first
        DWORD access, share;          // then this open
        DWORD error;                  // 0: it opens
    } cases[] = {
        {"writer sharing all, then a reader sharing reading", GENERIC_WRITE, kAll,
         kSecure | FILE_READ_DATA, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {"deleter sharing all, then a reader sharing reading", DELETE, kAll,
         kSecure | FILE_READ_DATA, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {"reader sharing all, then a reader sharing reading", GENERIC_READ, kAll,
         kSecure | FILE_READ_DATA, FILE_SHARE_READ, 0},
        {"writer, then an open of no data", GENERIC_WRITE, 0, kSecure, FILE_SHARE_READ, 0},
        {"reader sharing reading, then a writer", kSecure | FILE_READ_DATA, FILE_SHARE_READ,
         GENERIC_WRITE, kAll, ERROR_SHARING_VIOLATION},
        {"reader sharing reading, then a deleter", kSecure | FILE_READ_DATA, FILE_SHARE_READ, DELETE,
         kAll, ERROR_SHARING_VIOLATION},
        {"an open of no data sharing reading, then a writer", kSecure, FILE_SHARE_READ, GENERIC_WRITE,
         kAll, 0},
    };
    for (const auto& c : cases) {
        for (const char* path : {"C:\\a\\f.bin", "C:\\a"}) {
            SCOPED_TRACE(std::string(c.what) + " on " + path);
            UseExecutable(kExePath);
            simwin::AddFile("C:\\a\\f.bin", Text("f"));
            ASSERT_TRUE(simwin::HoldElsewhere(path, c.heldAccess, c.heldShare));
            SetLastError(0xdeadbeef);
            HANDLE h = CreateFileA(path, c.access, c.share, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            EXPECT_EQ(c.error == 0, h != INVALID_HANDLE_VALUE);
            if (c.error) EXPECT_EQ(c.error, GetLastError());
            if (h != INVALID_HANDLE_VALUE) EXPECT_TRUE(CloseHandle(h));
        }
    }
}

// ---------------------------------------------------------------------------

class SimInfStore : public SimTest
{
protected:
    BOOL Copy(const char* inf, DWORD style)
    {
        name[0] = 0;
        component = nullptr;
        SetLastError(0xdeadbeef);
        BOOL ok = SetupCopyOEMInfA(inf, nullptr, SPOST_PATH, style, name, sizeof(name), nullptr,
                                   &component);
        error = GetLastError();
        return ok;
    }
    char name[260];
    LPSTR component = nullptr;
    DWORD error = 0;
};

TEST_F(SimInfStore, StoresANewInfUnderAnOemName)
{
    simwin::AddFile("C:\\pkg\\my.inf", kNtInf);
    EXPECT_TRUE(Copy("C:\\pkg\\my.inf", SP_COPY_NOOVERWRITE)) << error;
    EXPECT_EQ(DWORD(ERROR_SUCCESS), error);
    EXPECT_EQ(std::string(simwin::kInfStoreFolder) + "\\oem0.inf", name);
    EXPECT_STREQ("oem0.inf", component);
    EXPECT_EQ(kNtInf, simwin::FileData(name));
}

TEST_F(SimInfStore, SameBytesAgainAnswerFileExistsWithTheStoredName)
{
    simwin::AddFile("C:\\pkg\\my.inf", kNtInf);
    simwin::AddFile("C:\\other\\copy.inf", kNtInf);
    ASSERT_TRUE(Copy("C:\\pkg\\my.inf", SP_COPY_NOOVERWRITE));
    const std::string stored = name;

    /* try the same bytes from another place */
    EXPECT_FALSE(Copy("C:\\other\\copy.inf", SP_COPY_NOOVERWRITE));
    EXPECT_EQ(DWORD(ERROR_FILE_EXISTS), error);
    EXPECT_EQ(stored, name);

    /* try replace-only */
    EXPECT_TRUE(Copy("C:\\other\\copy.inf", SP_COPY_REPLACEONLY)) << error;
    EXPECT_EQ(stored, name);
    EXPECT_EQ(1u, simwin::StoredInfs().size());
}

TEST_F(SimInfStore, Refusals)
{
    simwin::AddFile("C:\\pkg\\my.inf", kNtInf);
    simwin::AddFile("C:\\pkg\\w31.inf", Text("[Version]\r\nSignature=\"$Windows 3.1$\"\r\n"));
    simwin::AddFile("C:\\pkg\\empty.inf", {});

    /* try replace-only with nothing to replace */
    EXPECT_FALSE(Copy("C:\\pkg\\my.inf", SP_COPY_REPLACEONLY));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), error);

    /* try INFs that are not of the Windows NT style */
    for (const char* inf : {"C:\\pkg\\w31.inf", "C:\\pkg\\empty.inf"}) {
        SCOPED_TRACE(inf);
        EXPECT_FALSE(Copy(inf, SP_COPY_NOOVERWRITE));
        EXPECT_EQ(DWORD(ERROR_WRONG_INF_STYLE), error);
    }

    /* try a missing INF */
    EXPECT_FALSE(Copy("C:\\pkg\\none.inf", SP_COPY_NOOVERWRITE));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), error);

    /* try a store that refuses one copy style only */
    simwin::RefuseInfStore(ERROR_ACCESS_DENIED, SP_COPY_REPLACEONLY);
    EXPECT_TRUE(Copy("C:\\pkg\\my.inf", SP_COPY_NOOVERWRITE)) << error;
    EXPECT_FALSE(Copy("C:\\pkg\\my.inf", SP_COPY_REPLACEONLY));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), error);
    EXPECT_EQ(1u, simwin::StoredInfs().size());
}

// As measured under Wine: every 32-bit signature is taken, any case.
TEST_F(SimInfStore, AcceptsThe32BitSignatures)
{
    simwin::AddFile("C:\\pkg\\w95.inf", Text("[Version]\nSignature=\"$Windows 95$\"\n"));
    simwin::AddFile("C:\\pkg\\chicago.inf", Text("[version]\nsignature=$CHICAGO$\n"));
    for (const char* inf : {"C:\\pkg\\w95.inf", "C:\\pkg\\chicago.inf"}) {
        SCOPED_TRACE(inf);
        EXPECT_TRUE(Copy(inf, SP_COPY_NOOVERWRITE)) << error;
    }
}

TEST_F(SimInfStore, DifferentInfsGetTheirOwnNames)
{
    simwin::AddFile("C:\\pkg\\a.inf", kNtInf);
    std::vector<BYTE> other = kNtInf;
    other.push_back(';');
    simwin::AddFile("C:\\pkg\\b.inf", other);
    ASSERT_TRUE(Copy("C:\\pkg\\a.inf", SP_COPY_NOOVERWRITE));
    ASSERT_TRUE(Copy("C:\\pkg\\b.inf", SP_COPY_NOOVERWRITE)) << error;
    EXPECT_STREQ("oem1.inf", component);
    EXPECT_EQ(2u, simwin::StoredInfs().size());
}

// ---------------------------------------------------------------------------
// Volumes and security: what the folder protection relies on.

class SimSecurity : public SimTest
{
protected:
    static PSECURITY_DESCRIPTOR Descriptor(const char* sddl)
    {
        PSECURITY_DESCRIPTOR p = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &p,
                                                                         nullptr))
            << sddl << ": " << GetLastError();
        return p;
    }
};

TEST_F(SimSecurity, VolumeTellsWhetherItKeepsAcls)
{
    DWORD flags = 0;
    const auto volume = [&](const char* root) {
        return GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
    };
    /* try NTFS, then FAT32 */
    EXPECT_TRUE(volume("C:\\"));
    EXPECT_EQ(DWORD(FS_PERSISTENT_ACLS), flags & FS_PERSISTENT_ACLS) << flags;
    simwin::SetVolumeKeepsAcls(false);
    EXPECT_TRUE(volume("C:\\"));
    EXPECT_EQ(0u, flags & FS_PERSISTENT_ACLS) << flags;

    /* try the root without its backslash, then an injected failure */
    EXPECT_LAST_ERROR(ERROR_INVALID_NAME, EXPECT_FALSE(volume("C:")));
    simwin::FailVolumeInformation(ERROR_NOT_READY);
    EXPECT_LAST_ERROR(ERROR_NOT_READY, EXPECT_FALSE(volume("C:\\")));
}

TEST_F(SimSecurity, SetKernelObjectSecurityKeepsTheNamedParts)
{
    simwin::AddFolder("C:\\a");
    PSECURITY_DESCRIPTOR both = Descriptor("O:BAD:P(A;OICI;FA;;;SY)");
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    const DWORD ownerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    HANDLE h = OpenExisting("C:\\a", READ_CONTROL | WRITE_DAC | WRITE_OWNER, flags);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);

    /* try the DACL alone, then owner and DACL */
    EXPECT_TRUE(SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, both)) << GetLastError();
    EXPECT_EQ("D:P(A;OICI;FA;;;SY)", simwin::SecurityOf("C:\\A"));
    EXPECT_TRUE(SetKernelObjectSecurity(h, ownerAndDacl, both));
    EXPECT_EQ("O:BAD:P(A;OICI;FA;;;SY)", simwin::SecurityOf("C:\\a"));

    /* try a descriptor without a DACL: none is left */
    PSECURITY_DESCRIPTOR owner = Descriptor("O:SY");
    EXPECT_TRUE(SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, owner));
    EXPECT_EQ("O:BAD:NO_ACCESS_CONTROL", simwin::SecurityOf("C:\\a"));

    /* try a handle not opened to change the owner, an injected refusal, a closed handle */
    HANDLE dacOnly = OpenExisting("C:\\a", READ_CONTROL | WRITE_DAC, flags);
    HANDLE closed = OpenExisting("C:\\a", READ_CONTROL | WRITE_DAC, flags);
    EXPECT_TRUE(CloseHandle(closed));
    struct {
        HANDLE handle;
        DWORD error;
    } failures[] = {{dacOnly, ERROR_ACCESS_DENIED}, {h, ERROR_ACCESS_DENIED}, {closed, ERROR_INVALID_HANDLE}};
    EXPECT_TRUE(SetKernelObjectSecurity(dacOnly, DACL_SECURITY_INFORMATION, owner)) << GetLastError();
    simwin::FailSecurity("C:\\A", ERROR_ACCESS_DENIED);
    for (const auto& f : failures)
        EXPECT_LAST_ERROR(f.error, EXPECT_FALSE(SetKernelObjectSecurity(f.handle, ownerAndDacl, both)));
    EXPECT_EQ("O:BAD:NO_ACCESS_CONTROL", simwin::SecurityOf("C:\\a"));

    /* try a freed descriptor */
    EXPECT_EQ(2u, simwin::HeldSecurityDescriptors());
    EXPECT_EQ(nullptr, LocalFree(both));
    EXPECT_EQ(nullptr, LocalFree(owner));
    EXPECT_EQ(0u, simwin::HeldSecurityDescriptors());
    EXPECT_LAST_ERROR(ERROR_INVALID_SECURITY_DESCR,
                      EXPECT_FALSE(SetKernelObjectSecurity(dacOnly, DACL_SECURITY_INFORMATION, both)));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(dacOnly));
}

TEST_F(SimSecurity, ConversionRefusals)
{
    PSECURITY_DESCRIPTOR p = nullptr;
    const auto convert = [&](const char* sddl, DWORD revision) {
        return ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, revision, &p, nullptr);
    };
    /* try another revision, then strings that are not SDDL */
    EXPECT_LAST_ERROR(ERROR_UNKNOWN_REVISION, EXPECT_FALSE(convert("D:P(A;;FA;;;SY)", 2)));
    for (const char* sddl : {"", "P(A;;FA;;;SY)", "D:P(A;;FA;;;SY", "D:P(A;;FA;;;SY))"}) {
        SCOPED_TRACE(sddl);
        EXPECT_LAST_ERROR(ERROR_INVALID_PARAMETER, EXPECT_FALSE(convert(sddl, SDDL_REVISION_1)));
    }
    EXPECT_EQ(0u, simwin::HeldSecurityDescriptors());
}

}  // namespace
