// The framework pieces the program leans on: CString, message maps and the
// module path reader.
#include "fixture.h"

namespace {

TEST(CStringTest, BuildsAndJoins)
{
    CString s;
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STREQ("", s);
    s = "C:\\Kit";
    CString path = s + "\\DravikEngRes.dll";
    EXPECT_STREQ("C:\\Kit\\DravikEngRes.dll", path);
    EXPECT_STREQ("C:\\Kit", s) << "operator+ changed its operand";
    CString copy(path);
    copy += "!";
    EXPECT_STREQ("C:\\Kit\\DravikEngRes.dll", path);
    EXPECT_EQ(path.GetLength() + 1, copy.GetLength());
    EXPECT_STREQ("x-C:\\Kit", "x-" + s);
}

TEST(CStringTest, AppendsItself)
{
    // 32 characters: doubled, they fill the first allocation to its last
    // byte, 64 characters and the terminator after them.
    for (const std::string start : {"abc", "0123456789abcdef0123456789ABCDEF"}) {
        CString s(start.c_str());
        s += s;
        EXPECT_EQ(start + start, std::string(s));
        for (int i = 0; i < 6; ++i) s += s;  // grows through several reallocations
        EXPECT_EQ(int(start.size()) * 128, s.GetLength());
    }
}

TEST(CStringTest, FormatsLongTexts)
{
    const std::string longPath = "C:\\" + std::string(1000, 'p');
    CString s;
    s.Format("Couldn't load file with path: %s.", longPath.c_str());
    EXPECT_EQ("Couldn't load file with path: " + longPath + ".", std::string(s));
    s.Format("%d-%s", 7, "");
    EXPECT_STREQ("7-", s);
}

TEST(CStringTest, BufferRoundTrip)
{
    CString s("abc");
    char* p = s.GetBuffer(10);
    strcpy(p, "abcdefghij");
    s.ReleaseBuffer();
    EXPECT_EQ(10, s.GetLength());
    s.GetBuffer(10);
    s.ReleaseBuffer(4);
    EXPECT_STREQ("abcd", s);
    s = "";
    EXPECT_STREQ("", s) << "the old text outlived an empty assignment";
}

class CStringLoad : public SimTest {};

TEST_F(CStringLoad, LoadsFromTheCurrentResourceHandle)
{
    CString s("old");
    EXPECT_TRUE(s.LoadString(101));
    EXPECT_STREQ("&About Wirenest...", s);
    EXPECT_FALSE(s.LoadString(4711));
    EXPECT_STREQ("", s) << "an absent ID must leave the string empty";
}

TEST_F(CStringLoad, LongStringsAreNotCut)
{
    const std::string w254(254, 'w'), w44(44, 'w');
    std::string longest, longestAnsi;  // the most a table entry holds: 65535 units, 131070 bytes
    for (int i = 0; i < 65535; ++i) longest += "\xE3\x81\x82", longestAnsi += "\x82\xA0";
    const struct {
        UINT codePage;
        std::string text, ansi;  // as the module holds it (UTF-8), as read
    } rows[] = {
        {1252, std::string(700, 'w'), std::string(700, 'w')},
        // 300 bytes whose double-byte character straddles byte 255: the
        // first read stops one byte short of full.
        {932, w254 + "\xE3\x81\x82" + w44, w254 + "\x82\xA0" + w44},
        {932, longest, longestAnsi},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.codePage);
        UseExecutable(kExePath);
        simwin::SetAnsiCodePage(r.codePage);
        simwin::AddLanguageModule("C:\\Kit\\L.dll", {{1, r.text}});
        HMODULE m = LoadLibraryA("C:\\Kit\\L.dll");
        AfxGetModuleState()->m_hCurrentResourceHandle = m;
        CString s;
        EXPECT_TRUE(s.LoadString(1));
        EXPECT_EQ(int(r.ansi.size()), s.GetLength());
        EXPECT_TRUE(r.ansi == std::string(s));
        FreeLibrary(m);
    }
}

// ---------------------------------------------------------------------------
// Message maps: derived entries first, base entries behind them.

class CBaseTarget : public CCmdTarget
{
public:
    std::string log;
    void OnOne() { log += "base-one "; }
    void OnTwo() { log += "base-two "; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseTarget, CCmdTarget)
    ON_COMMAND(1, &CBaseTarget::OnOne)
    ON_COMMAND(2, &CBaseTarget::OnTwo)
END_MESSAGE_MAP()

class CDerivedTarget : public CBaseTarget
{
public:
    void OnTwoDerived() { log += "derived-two "; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedTarget, CBaseTarget)
    ON_COMMAND(2, &CDerivedTarget::OnTwoDerived)
END_MESSAGE_MAP()

TEST(MessageMap, DerivedEntriesComeFirstAndBaseEntriesStillWork)
{
    CDerivedTarget t;
    EXPECT_TRUE(t.OnCmdMsg(2));
    EXPECT_TRUE(t.OnCmdMsg(1));
    EXPECT_FALSE(t.OnCmdMsg(3));
    EXPECT_EQ("derived-two base-one ", t.log);
}

class CPaintingWnd : public CWnd
{
public:
    int painted = 0;
    bool wantDefault = false;
    bool nested = false;  // another paint comes in meanwhile, as under a modal box
    void OnPaint()
    {
        ++painted;
        if (wantDefault) Default();
        if (!nested) return;
        nested = false;
        wantDefault = !wantDefault;  // the nested one does the opposite
        LRESULT r;
        EXPECT_EQ(wantDefault, !OnWndMsg(WM_PAINT, 0, 0, &r)) << "the nested message";
        wantDefault = !wantDefault;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPaintingWnd, CWnd)
    ON_WM_PAINT()
END_MESSAGE_MAP()

TEST(MessageMap, DefaultMarksTheMessageUnhandled)
{
    CPaintingWnd w;
    LRESULT r;
    EXPECT_TRUE(w.OnWndMsg(WM_PAINT, 0, 0, &r));
    w.wantDefault = true;
    EXPECT_FALSE(w.OnWndMsg(WM_PAINT, 0, 0, &r));
    w.wantDefault = false;
    EXPECT_TRUE(w.OnWndMsg(WM_PAINT, 0, 0, &r)) << "a Default() call must not stick";
    EXPECT_FALSE(w.OnWndMsg(WM_SYSCOMMAND, SC_MOVE, 0, &r)) << "no entry, no handling";
    EXPECT_EQ(3, w.painted);
    for (bool outer : {false, true}) {
        w.wantDefault = outer;
        w.nested = true;
        EXPECT_EQ(!outer, bool(w.OnWndMsg(WM_PAINT, 0, 0, &r)))
            << "Default() " << (outer ? "before" : "in") << " a nested message";
    }
    EXPECT_EQ(7, w.painted);
}

// ---------------------------------------------------------------------------

class ModulePath : public SimTest {};

TEST_F(ModulePath, ShortAndLongPaths)
{
    EXPECT_STREQ(kExePath, AfxGetModuleFileName(nullptr));
    for (size_t n : {259u, 260u, 261u, 519u, 520u, 1500u}) {
        SCOPED_TRACE(n);
        std::string path = "C:\\" + std::string(n - 3 - 4, 'x') + ".exe";
        ASSERT_EQ(n, path.size());
        UseExecutable(path);
        EXPECT_EQ(path, std::string(AfxGetModuleFileName(nullptr)));
    }
}

class MessageBoxes : public SimTest {};

TEST_F(MessageBoxes, AfxMessageBoxIsOwnedByTheMainWindowAndNamedAfterTheApp)
{
    UseExecutable("C:\\Kit\\K58Setup.exe");
    CInstallerApp app;
    AfxWinMain(simwin::Executable());  // no module: the Error box, then the end
    CWnd main;
    main.m_hWnd = reinterpret_cast<HWND>(0x1234);
    app.m_pMainWnd = &main;
    AfxMessageBox("text", MB_ICONINFORMATION);
    app.m_pMainWnd = nullptr;
    ASSERT_EQ(2u, simwin::MessageBoxes().size());
    const simwin::MessageBoxRecord& box = simwin::MessageBoxes()[1];
    EXPECT_EQ("K58Setup", box.caption);
    EXPECT_EQ(main.m_hWnd, box.owner);
    EXPECT_EQ(UINT(MB_ICONINFORMATION), box.flags);
}

}  // namespace
