// The installer dialog's system commands and the About box they open.
#include "fixture.h"

#include "res/resource.h"
#include "ui/AboutBox.h"
#include "ui/InstallerDlg.h"

#include <cstdio>

namespace {

const char* const kCopyright = "Copyright (C) Ombrel Mobile";

// What a user sees of the installer dialog; equal before and after an About box.
struct DialogState {
    std::string caption;
    std::string step1, step2;
    DWORD style;
    RECT rect;
    bool enabled;

    static DialogState Of(HWND dlg)
    {
        return {simwin::WindowText(dlg), simwin::ControlText(dlg, IDC_STEP1_TEXT),
                simwin::ControlText(dlg, IDC_STEP2_TEXT), simwin::StyleOf(dlg),
                simwin::WindowRect(dlg), simwin::IsEnabled(dlg)};
    }
};

std::string RectText(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

void ExpectSameState(const DialogState& before, const DialogState& after)
{
    EXPECT_EQ(before.caption, after.caption);
    EXPECT_EQ(before.step1, after.step1);
    EXPECT_EQ(before.step2, after.step2);
    EXPECT_EQ(before.style, after.style);
    EXPECT_EQ(RectText(before.rect), RectText(after.rect));
    EXPECT_TRUE(after.enabled) << "the installer dialog stays disabled after the About box";
}

class AboutBox : public SimTest
{
protected:
    void SetUp() override { UseEnglishKit(); }

    // Runs the program through the given actions; the installer dialog must
    // then still be up, and Cancel ends it.
    void Run(std::initializer_list<simwin::Action> actions)
    {
        simwin::Script(actions);
        simwin::Script({simwin::PressCancel()});
        RunProgram();
        EXPECT_EQ(0, simwin::ScriptErrors()) << "a dialog was left running";
        EXPECT_EQ(0u, simwin::ScriptLeft()) << "the program ended before the script did";
        ASSERT_FALSE(simwin::Dialogs().empty());
        EXPECT_EQ(IDCANCEL, simwin::EndResult(simwin::Dialogs()[0]));
    }

    static size_t CountCalls(const std::string& call) { return CallsStartingWith(call).size(); }

    // Checks the About box while it runs: built from IDD_ABOUT, owned by the
    // installer dialog, centred over it, and the installer disabled meanwhile.
    static simwin::Action InspectAbout()
    {
        return simwin::Inspect([](HWND about) {
            ASSERT_EQ(2u, simwin::Dialogs().size());
            HWND installer = simwin::Dialogs()[0];
            EXPECT_EQ(about, simwin::Dialogs()[1]);
            EXPECT_EQ("About Wirenest", simwin::WindowText(about));
            EXPECT_EQ(installer, simwin::OwnerOf(about));
            EXPECT_FALSE(simwin::IsEnabled(installer)) << "the About box runs modally";
            const RECT a = simwin::WindowRect(about), o = simwin::WindowRect(installer);
            EXPECT_NEAR((o.left + o.right) / 2, (a.left + a.right) / 2, 1)
                << "About " << RectText(a) << " over " << RectText(o);
            EXPECT_NEAR((o.top + o.bottom) / 2, (a.top + a.bottom) / 2, 1)
                << "About " << RectText(a) << " over " << RectText(o);
        });
    }
};

TEST_F(AboutBox, AboutCommandOpensTheAboutBox)
{
    Run({simwin::SysCommand(ID_SYSMENU_ABOUT), InspectAbout(), simwin::PressOK()});
    ASSERT_EQ(2u, simwin::Dialogs().size());
    EXPECT_EQ(1u, CountCalls("DialogBoxParamA 100"));
    EXPECT_EQ(IDOK, simwin::EndResult(simwin::Dialogs()[1]));
    EXPECT_FALSE(simwin::Called("default WM_SYSCOMMAND")) << "the About command went on to the default";

    // Dragged mostly off the screen, the installer's About box stays on it.
    const RECT work = simwin::WorkArea();
    UseEnglishKit();
    Run({simwin::Inspect([&](HWND dlg) {
             SetWindowPos(dlg, nullptr, work.right - 20, work.bottom - 20, 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER);
         }),
         simwin::SysCommand(ID_SYSMENU_ABOUT), simwin::Inspect([&](HWND about) {
             const RECT a = simwin::WindowRect(about);
             EXPECT_LE(a.right, work.right) << RectText(a);
             EXPECT_LE(a.bottom, work.bottom) << RectText(a);
         }),
         simwin::PressOK()});
}

TEST_F(AboutBox, LowFourBitsAreIgnored)
{
    for (UINT nID : {0x0011u, 0x0017u, 0x001Fu}) {
        SCOPED_TRACE(nID);
        UseEnglishKit();
        Run({simwin::SysCommand(nID), InspectAbout(), simwin::PressOK()});
        EXPECT_EQ(2u, simwin::Dialogs().size());
        EXPECT_FALSE(simwin::Called("default WM_SYSCOMMAND"));
    }
}

TEST_F(AboutBox, TwiceInARowLeavesTheInstallerDialogAsItWas)
{
    DialogState before{}, after{};
    Run({simwin::Inspect([&](HWND dlg) { before = DialogState::Of(dlg); }),
         simwin::SysCommand(ID_SYSMENU_ABOUT), InspectAbout(), simwin::PressOK(),
         simwin::SysCommand(0x001F),
         simwin::Inspect([](HWND about) {
             ASSERT_EQ(3u, simwin::Dialogs().size()) << "the second About box is a new one";
             EXPECT_EQ(about, simwin::Dialogs()[2]);
             EXPECT_EQ(simwin::Dialogs()[0], simwin::OwnerOf(about));
         }),
         simwin::PressOK(),
         simwin::Inspect([&](HWND dlg) { after = DialogState::Of(dlg); })});
    ASSERT_EQ(3u, simwin::Dialogs().size());
    EXPECT_EQ(IDOK, simwin::EndResult(simwin::Dialogs()[1]));
    EXPECT_EQ(IDOK, simwin::EndResult(simwin::Dialogs()[2]));
    EXPECT_EQ(2u, CountCalls("DialogBoxParamA 100"));
    ExpectSameState(before, after);
}

TEST_F(AboutBox, CaptionCloseAndEscapeEndItWithCancel)
{
    // The caption's close button is SC_CLOSE on the About box; Escape is IDCANCEL.
    Run({simwin::SysCommand(ID_SYSMENU_ABOUT), simwin::SysCommand(SC_CLOSE),
         simwin::SysCommand(ID_SYSMENU_ABOUT), simwin::PressCancel()});
    ASSERT_EQ(3u, simwin::Dialogs().size());
    EXPECT_EQ(IDCANCEL, simwin::EndResult(simwin::Dialogs()[1]));
    EXPECT_EQ(IDCANCEL, simwin::EndResult(simwin::Dialogs()[2]));
    EXPECT_TRUE(simwin::IsEnabled(simwin::Dialogs()[0]));
}

TEST_F(AboutBox, AboutBoxHandlesNoSystemCommandOfItsOwn)
{
    // Only the installer dialog opens About boxes: the same command sent to
    // the About box itself goes to the default processing.
    Run({simwin::SysCommand(ID_SYSMENU_ABOUT), simwin::SysCommand(ID_SYSMENU_ABOUT),
         simwin::PressOK()});
    EXPECT_EQ(2u, simwin::Dialogs().size());
    EXPECT_TRUE(simwin::Called("default WM_SYSCOMMAND 0x0010"));
}

TEST_F(AboutBox, OtherSystemCommandsReachTheDefaultUnchanged)
{
    // Moving (menu and drag forms), sizing, the neighbours of the About range
    // and a minimize: each logged once by the default processing, as sent.
    const UINT commands[] = {SC_MOVE, 0xF012, SC_SIZE, 0x000F, 0x0020, 0x0100, SC_MINIMIZE};
    for (UINT nID : commands) simwin::Script({simwin::SysCommand(nID)});
    Run({});
    for (UINT nID : commands) {
        char expected[64];
        snprintf(expected, sizeof expected, "default WM_SYSCOMMAND 0x%04X", nID);
        EXPECT_EQ(1u, CountCalls(expected)) << expected;
    }
    EXPECT_EQ(1u, simwin::Dialogs().size()) << "no About box for commands outside 0x0010-0x001F";
}

TEST_F(AboutBox, CloseCommandStillEndsTheInstallerDialog)
{
    simwin::Script({simwin::SysCommand(SC_CLOSE)});
    RunProgram();
    ASSERT_EQ(1u, simwin::Dialogs().size());
    EXPECT_TRUE(simwin::Called("default WM_SYSCOMMAND 0xF060"));
    EXPECT_EQ(IDCANCEL, simwin::EndResult(simwin::Dialogs()[0]));
    EXPECT_EQ(0, simwin::ScriptErrors());
}

TEST_F(AboutBox, TemplateAsCompiled)
{
    const simwin::Resource* res = simwin::FindExecutableResource(5, IDD_ABOUT);
    ASSERT_NE(nullptr, res);
    EXPECT_EQ(1033, res->language);
    ASSERT_GE(res->data.size(), 4u);
    EXPECT_FALSE(res->data[2] == 0xFF && res->data[3] == 0xFF) << "not the classic template format";

    Run({simwin::SysCommand(ID_SYSMENU_ABOUT), simwin::PressOK()});
    ASSERT_EQ(2u, simwin::Dialogs().size());
    HWND about = simwin::Dialogs()[1];
    EXPECT_EQ("About Wirenest", simwin::WindowText(about));
    EXPECT_EQ(0x80C800C0u, simwin::StyleOf(about));

    struct Control {
        const char* cls;
        int id;
        const char* text;
        DWORD style;
    } expected[] = {
        {"Static", IDC_STATIC, "#128", 0x50000003},  // the icon IDI_APP
        {"Static", IDC_STATIC, "Wirenest version 1.0", 0x50020080},
        {"Static", IDC_STATIC, kCopyright, 0x50020000},
        {"Button", IDOK, "OK", 0x50030001},
    };
    std::vector<HWND> controls = simwin::Controls(about);
    ASSERT_EQ(4u, controls.size());
    for (size_t i = 0; i < controls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].cls, simwin::ClassOf(controls[i]));
        EXPECT_EQ(expected[i].id, simwin::ControlId(controls[i]));
        EXPECT_EQ(expected[i].text, simwin::WindowText(controls[i]));
        EXPECT_EQ(expected[i].style, simwin::StyleOf(controls[i]));
    }
    EXPECT_EQ(controls[3], simwin::Focus(about)) << "OK, the only tab stop, takes the focus";
}

}  // namespace
