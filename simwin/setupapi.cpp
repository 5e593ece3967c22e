// The Setup API's INF store: SetupCopyOEMInfA answers as Windows does.
// An INF whose bytes are already stored is found by content; with
// SP_COPY_NOOVERWRITE that fails with ERROR_FILE_EXISTS and names the stored
// copy, with SP_COPY_REPLACEONLY it succeeds and changes nothing. A new INF
// must carry a 32-bit Windows INF signature and is stored as oemN.inf.
#include "simwin/state.h"

#include <cstring>
#include <sstream>

namespace simwin {

const char* const kInfStoreFolder = "C:\\WINDOWS\\inf";

void RefuseInfStore(DWORD error, DWORD copyStyle)
{
    W().refuseError = error;
    W().refuseStyle = copyStyle;
}

static bool IsStoredInf(const std::string& lowerPath, const FileEntry& e)
{
    const std::string prefix = Lower(kInfStoreFolder) + "\\";
    return !e.folder && lowerPath.compare(0, prefix.size(), prefix) == 0 &&
           lowerPath.find('\\', prefix.size()) == std::string::npos && lowerPath.size() > 4 &&
           lowerPath.compare(lowerPath.size() - 4, 4, ".inf") == 0;
}

std::vector<std::string> StoredInfs()
{
    std::vector<std::string> v;
    for (const auto& f : W().files)
        if (IsStoredInf(f.first, f.second)) v.push_back(f.second.name);
    return v;
}

// [Version] must carry Signature = "$Windows NT$", "$Windows 95$" or "$Chicago$".
static bool IsWin4Inf(const std::vector<BYTE>& data)
{
    std::istringstream text(std::string(data.begin(), data.end()));
    bool inVersion = false;
    for (std::string raw, line; std::getline(text, raw); line.clear()) {
        for (char c : Lower(raw))
            if (c != ' ' && c != '\t' && c != '\r' && c != '"') line += c;
        if (!line.empty() && line[0] == '[')
            inVersion = line == "[version]";
        else if (inVersion && line.compare(0, 10, "signature=") == 0)
            return line == "signature=$windowsnt$" || line == "signature=$windows95$" || line == "signature=$chicago$";
    }
    return false;
}

// Names the stored INF to the caller, if the caller's buffer holds it.
static BOOL Answer(const std::string& stored, LPSTR dest, DWORD destSize, LPDWORD required,
                   LPSTR* component)
{
    if (required) *required = DWORD(stored.size() + 1);
    if (dest) {
        if (destSize < stored.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
        memcpy(dest, stored.c_str(), stored.size() + 1);
        if (component) *component = dest + stored.find_last_of('\\') + 1;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace simwin

using namespace simwin;

BOOL SetupCopyOEMInfA(LPCSTR SourceInfFileName, LPCSTR OEMSourceMediaLocation,
                      DWORD OEMSourceMediaType, DWORD CopyStyle, LPSTR DestinationInfFileName,
                      DWORD DestinationInfFileNameSize, LPDWORD RequiredSize,
                      LPSTR* DestinationInfFileNameComponent)
{
    Log(std::string("SetupCopyOEMInfA ") + (SourceInfFileName ? SourceInfFileName : "(null)") +
        " location=" + (OEMSourceMediaLocation ? OEMSourceMediaLocation : "(null)") +
        " media=" + std::to_string(OEMSourceMediaType) + " style=" + Hex(CopyStyle) +
        " size=" + std::to_string(DestinationInfFileNameSize) +
        " required=" + (RequiredSize ? "given" : "(null)"));

    const World& w = W();
    if (w.refuseError && (w.refuseStyle == 0 || w.refuseStyle == CopyStyle)) return Fail(w.refuseError);
    if (!SourceInfFileName) return Fail(ERROR_INVALID_PARAMETER);
    if (DWORD e = Injected(w.failOpen, Lower(SourceInfFileName))) return Fail(e);
    if (!FileExists(SourceInfFileName)) return Fail(ERROR_FILE_NOT_FOUND);
    const std::vector<BYTE> data = FileData(SourceInfFileName);
    const auto answer = [&](const std::string& stored) {
        return Answer(stored, DestinationInfFileName, DestinationInfFileNameSize, RequiredSize,
                      DestinationInfFileNameComponent);
    };

    for (const auto& f : W().files) {
        if (!IsStoredInf(f.first, f.second) || f.second.data != data) continue;
        if (CopyStyle & SP_COPY_NOOVERWRITE) {
            answer(f.second.name);
            return Fail(ERROR_FILE_EXISTS);
        }
        return answer(f.second.name);  // replace-only refreshes where it came from; files stay
    }
    if (CopyStyle & SP_COPY_REPLACEONLY) return Fail(ERROR_FILE_NOT_FOUND);
    if (!IsWin4Inf(data)) return Fail(ERROR_WRONG_INF_STYLE);

    std::string stored;
    for (int n = 0;; ++n) {
        stored = std::string(kInfStoreFolder) + "\\oem" + std::to_string(n) + ".inf";
        if (!W().files.count(Lower(stored))) break;
    }
    if (!answer(stored)) return FALSE;  // stored only where the caller can be told its name
    AddFile(stored, data);              // makes the store's folders on first use
    return TRUE;
}
