// The real program from the framework's entry on a fresh simulated machine,
// up to the dialog's lines and the result box. Input: a 17-byte head, then
// the language module. head[0]: bit 0 presses OK (else Cancel), bit 1 puts the
// module at every language's path (else the English one), bit 2 the driver
// package beside the program, bit 3 code page 932. head[1..8], head[9..16]:
// PrimLangID, SubLangID as type (0xFF: absent), size (at most 6) and data.
#include "app/InstallerApp.h"
#include "simwin/simwin.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

static void SetNumber(const char* name, const uint8_t* v)
{
    if (v[0] != 0xFF)
        simwin::SetUserValue("SOFTWARE\\Ombrel\\Pelmora\\Settings", name, v[0], {v + 2, v + 2 + std::min(v[1] % 8, 6)});
}

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    fprintf(stderr, "startup_fuzz: replay a crash-<sha1> it leaves with `%s <file>`, keep it in tests/fuzz/crashes/\n", **argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t head[17] = {};  // what a short input lacks reads as zeros
    memcpy(head, data, std::min(size, sizeof(head)));
    const std::vector<BYTE> module(data + std::min(size, sizeof(head)), data + size);
    simwin::Reset();
    HINSTANCE exe = simwin::SetExecutable("C:\\Kit\\Wirenest.exe", WIRENEST_RES);
    AfxGetModuleState()->m_hCurrentInstanceHandle = AfxGetModuleState()->m_hCurrentResourceHandle = exe;
    simwin::SetAnsiCodePage(head[0] & 8 ? 932 : 1252);
    SetNumber("PrimLangID", head + 1);
    SetNumber("SubLangID", head + 9);
    for (const char* name : {"Eng", "Chs", "Cht", "Spn", "Thai"})
        if (head[0] & 2 || !strcmp(name, "Eng")) simwin::AddFile(std::string("C:\\Kit\\Dravik") + name + "Res.dll", module);
    for (const char* file : {"OMK58CDC.INF", "OMK58CDC.sys", "OMK58_un.exe"})
        if (head[0] & 4) simwin::AddFile(std::string("C:\\Kit\\Ombrel_K58_USB_Driver-Win2kXp_Modem\\") + file, {'M', 'Z'});
    simwin::Script({head[0] & 1 ? simwin::PressOK() : simwin::PressCancel()});
    { CInstallerApp app; AfxWinMain(exe); }  // the application object ends here
    // Whatever it read, the program ends its dialog and keeps no module or handle.
    if (simwin::ScriptErrors() || simwin::LoadedModuleCount() || simwin::OpenFileHandles() || simwin::OpenKeyCount())
        abort();
    return 0;
}

#ifndef WIRENEST_LIBFUZZER
// g++ has no libFuzzer: the same target once on each file named.
int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    for (int i = 1; i < argc; ++i) {
        printf("Running: %s\n", argv[i]);
        std::ifstream in(argv[i], std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}
#endif
