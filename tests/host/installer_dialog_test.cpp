// The installer dialog: its template, what it does while it opens, how it
// paints when minimized, and how it ends.
#include "fixture.h"

#include "res/resource.h"
#include "ui/InstallerDlg.h"

namespace {

class InstallerDialog : public SimTest
{
protected:
    void SetUp() override { UseEnglishKit(); }

    // Runs the program with the given user actions; returns the dialog.
    HWND Run(std::initializer_list<simwin::Action> actions)
    {
        simwin::Script(actions);
        RunProgram();
        EXPECT_EQ(0, simwin::ScriptErrors()) << "the dialog did not end";
        EXPECT_EQ(1u, simwin::Dialogs().size());
        return simwin::Dialogs().empty() ? nullptr : simwin::Dialogs()[0];
    }
};

TEST_F(InstallerDialog, TemplateAsCompiled)
{
    HWND dlg = Run({simwin::PressCancel()});
    ASSERT_NE(nullptr, dlg);
    EXPECT_EQ("Wirenest", simwin::WindowText(dlg));
    EXPECT_EQ(0x90C000C0u, simwin::StyleOf(dlg));
    EXPECT_EQ(0u, simwin::StyleOf(dlg) & WS_SYSMENU) << "the caption must carry no system menu";

    const simwin::Resource* res = simwin::FindExecutableResource(5, IDD_INSTALLER);
    ASSERT_NE(nullptr, res);
    EXPECT_EQ(1033, res->language);

    struct Control {
        int id;
        DWORD style;
    } expected[] = {{IDOK, 0x50010001}, {IDCANCEL, 0x50010000},
                    {IDC_STEP1_TEXT, 0x50020000}, {IDC_STEP2_TEXT, 0x50020000}};
    for (const Control& c : expected) {
        SCOPED_TRACE(c.id);
        HWND ctl = GetDlgItem(dlg, c.id);
        ASSERT_NE(nullptr, ctl);
        EXPECT_EQ(c.style, simwin::StyleOf(ctl));
    }
    EXPECT_EQ("OK", simwin::ControlText(dlg, IDOK));
    EXPECT_EQ("Cancel", simwin::ControlText(dlg, IDCANCEL));
}

TEST_F(InstallerDialog, LinesComeFromTheModule)
{
    HWND dlg = Run({simwin::PressCancel()});
    EXPECT_EQ("eng step 1", simwin::ControlText(dlg, IDC_STEP1_TEXT));
    EXPECT_EQ("eng step 2", simwin::ControlText(dlg, IDC_STEP2_TEXT));
}

TEST_F(InstallerDialog, EmptyLinesReplaceThePlaceholders)
{
    simwin::AddLanguageModule("C:\\Kit\\DravikEngRes.dll", {{3, "ok"}, {4, "failed"}});
    HWND dlg = Run({simwin::PressCancel()});
    EXPECT_EQ("", simwin::ControlText(dlg, IDC_STEP1_TEXT));
    EXPECT_EQ("", simwin::ControlText(dlg, IDC_STEP2_TEXT));
}

TEST_F(InstallerDialog, FocusStartsOnOK)
{
    HWND dlg = Run({simwin::PressCancel()});
    EXPECT_EQ(IDOK, simwin::ControlId(simwin::Focus(dlg)));
}

TEST_F(InstallerDialog, SystemMenuGainsTheAboutEntry)
{
    HWND dlg = Run({simwin::PressCancel()});
    std::vector<simwin::MenuItem> items = simwin::MenuItems(simwin::SystemMenuOf(dlg));
    ASSERT_GE(items.size(), 2u);
    const simwin::MenuItem& sep = items[items.size() - 2];
    const simwin::MenuItem& about = items.back();
    EXPECT_EQ(UINT(MF_SEPARATOR), sep.flags);
    EXPECT_EQ(UINT(MF_STRING), about.flags);
    EXPECT_EQ(UINT_PTR(ID_SYSMENU_ABOUT), about.id);
    EXPECT_EQ("&About Wirenest...", about.text);
}

TEST_F(InstallerDialog, NoSystemMenuAddsNothing)
{
    simwin::SetSystemMenuAvailable(false);
    Run({simwin::PressCancel()});
    EXPECT_FALSE(simwin::Called("AppendMenuA"));
    EXPECT_FALSE(simwin::Called("LoadStringA 101"));
}

TEST_F(InstallerDialog, EmptyMenuStringAddsNothing)
{
    simwin::RemoveExecutableString(IDS_ABOUT_MENU);
    HWND dlg = Run({simwin::PressCancel()});
    EXPECT_FALSE(simwin::Called("AppendMenuA"));
    EXPECT_EQ(7u, simwin::MenuItems(simwin::SystemMenuOf(dlg)).size())
        << "only the standard items should remain";
}

TEST_F(InstallerDialog, BothIconsAreTheApplicationIcon)
{
    HWND dlg = Run({simwin::PressCancel()});
    const std::string appIcon = std::string(kExePath) + "#128";
    EXPECT_EQ(appIcon, simwin::IconName(simwin::IconOf(dlg, ICON_BIG)));
    EXPECT_EQ(appIcon, simwin::IconName(simwin::IconOf(dlg, ICON_SMALL)));
}

// On a work area too small for it, its caption and top-left corner show.
TEST_F(InstallerDialog, CentredOnTheScreen)
{
    const RECT areas[] = {{0, 0, 1024, 768}, {200, 100, 1024, 768}, {200, 100, 300, 180}};
    for (const RECT& work : areas) {
        SCOPED_TRACE(testing::Message() << "work area " << work.left << "," << work.top << " to "
                                        << work.right << "," << work.bottom);
        UseEnglishKit();
        simwin::SetWorkArea(work);
        HWND dlg = Run({simwin::PressCancel()});
        RECT r = simwin::WindowRect(dlg);
        if (r.right - r.left > work.right - work.left) {
            EXPECT_EQ(work.left, r.left);
            EXPECT_EQ(work.top, r.top);
            continue;
        }
        EXPECT_LE(std::abs((r.left - work.left) - (work.right - r.right)), 1)
            << "left " << r.left << " right " << r.right;
        EXPECT_LE(std::abs((r.top - work.top) - (work.bottom - r.bottom)), 1)
            << "top " << r.top << " bottom " << r.bottom;
    }
}

TEST_F(InstallerDialog, ModuleFolderIsFilledWhileOpening)
{
    CInstallerApp app;
    CInstallerDlg dlg;
    EXPECT_TRUE(dlg.m_strModuleDir.IsEmpty());
    std::string during;
    simwin::Script({simwin::Inspect([&](HWND) { during = dlg.m_strModuleDir; }),
                    simwin::PressCancel()});
    dlg.DoModal();
    EXPECT_EQ("C:\\Kit", during);
}

TEST_F(InstallerDialog, OkAndCancelEndTheDialog)
{
    EXPECT_EQ(IDOK, simwin::EndResult(Run({simwin::PressOK()})));
    UseEnglishKit();
    EXPECT_EQ(IDCANCEL, simwin::EndResult(Run({simwin::PressCancel()})));
}

TEST_F(InstallerDialog, CloseCommandEndsLikeCancel)
{
    HWND dlg = Run({simwin::SysCommand(SC_CLOSE)});
    EXPECT_EQ(IDCANCEL, simwin::EndResult(dlg));
    EXPECT_TRUE(simwin::Called("default WM_SYSCOMMAND 0xF060"));
}

// ---------------------------------------------------------------------------

TEST_F(InstallerDialog, MinimizedPaintCentresTheIcon)
{
    struct Case {
        int cx, cy, x, y;
    } cases[] = {{36, 36, 2, 2}, {20, 20, -5, -5}, {32, 32, 0, 0}, {41, 30, 5, 0}, {41, 29, 5, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cx) + " x " + std::to_string(c.cy));
        UseEnglishKit();
        HWND dlg = Run({simwin::Paint(true, c.cx, c.cy), simwin::PressCancel()});
        ASSERT_EQ(1u, simwin::DrawnIcons().size());
        const simwin::DrawIconRecord& drawn = simwin::DrawnIcons()[0];
        EXPECT_EQ(c.x, drawn.x);
        EXPECT_EQ(c.y, drawn.y);
        EXPECT_EQ(simwin::IconOf(dlg, ICON_BIG), drawn.icon);
    }
}

TEST_F(InstallerDialog, MinimizedPaintErasesWithThePaintContext)
{
    Run({simwin::Paint(true, 36, 36), simwin::PressCancel()});
    size_t begin = simwin::CallIndex("BeginPaint");
    size_t erase = simwin::CallIndex("SendMessageA WM_ICONERASEBKGND");
    size_t draw = simwin::CallIndex("DrawIcon");
    size_t end = simwin::CallIndex("EndPaint");
    ASSERT_NE(std::string::npos, end);
    EXPECT_LT(begin, erase);
    EXPECT_LT(erase, draw);
    EXPECT_LT(draw, end);
    EXPECT_FALSE(simwin::Called("default WM_PAINT"));
}

TEST_F(InstallerDialog, NormalPaintIsTheDefault)
{
    Run({simwin::Paint(false, 400, 100), simwin::PressCancel()});
    EXPECT_TRUE(simwin::Called("default WM_PAINT"));
    EXPECT_FALSE(simwin::Called("BeginPaint"));
    EXPECT_TRUE(simwin::DrawnIcons().empty());
}

TEST_F(InstallerDialog, DragIconIsTheApplicationIcon)
{
    LRESULT dragIcon = 0;
    HWND dlg = Run({simwin::Inspect([&](HWND d) { dragIcon = SendMessageA(d, WM_QUERYDRAGICON, 0, 0); }),
                    simwin::PressCancel()});
    EXPECT_EQ(reinterpret_cast<LRESULT>(simwin::IconOf(dlg, ICON_BIG)), dragIcon);
    EXPECT_NE(0, dragIcon);
}

TEST_F(InstallerDialog, HelpCommandReachesTheApplication)
{
    HWND dlg = Run({simwin::Inspect([](HWND d) {
                        SendMessageA(d, WM_COMMAND, MAKEWPARAM(ID_HELP, BN_CLICKED), 0);
                    }),
                    simwin::PressCancel()});
    EXPECT_TRUE(simwin::Called("WinHelpA C:\\Kit\\Wirenest.HLP"));
    EXPECT_EQ(IDCANCEL, simwin::EndResult(dlg)) << "help must not end the dialog";
}

TEST_F(InstallerDialog, UnknownCommandsAreIgnored)
{
    HWND dlg = Run({simwin::Inspect([](HWND d) {
                        SendMessageA(d, WM_COMMAND, MAKEWPARAM(4321, BN_CLICKED), 0);
                    }),
                    simwin::PressCancel()});
    EXPECT_EQ(IDCANCEL, simwin::EndResult(dlg));
    EXPECT_FALSE(simwin::Called("WinHelpA"));
}

}  // namespace
