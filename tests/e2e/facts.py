"""What Wirenest is and shows, as the Wine suite, the benchmark and the
release checks expect it: names, keys, ids, styles, texts.  Each fact is
written here once; the checks import it."""

import struct

EXE_NAME = "Wirenest.exe"
MODULES = ENGLISH, CHS, CHT, SPANISH, THAI = (
    "DravikEngRes.dll", "DravikChsRes.dll", "DravikChtRes.dll", "DravikSpnRes.dll", "DravikThaiRes.dll")
NOT_ENGLISH = MODULES[1:]
PACKAGE = "Ombrel_K58_USB_Driver-Win2kXp_Modem"
PACKAGE_FILES = ("OMK58CDC.INF", "OMK58CDC.sys", "OMK58_un.exe")
SETTINGS_ROOT = r"HKCU\SOFTWARE\Ombrel"
SETTINGS_KEY = SETTINGS_ROOT + r"\Pelmora\Settings"
TARGET_ROOT = "RuruRIZIrizuViz"
TARGET_ROOT_PATH = "C:\\" + TARGET_ROOT
TARGET_FOLDER_PATH = TARGET_ROOT_PATH + "\\" + PACKAGE

# The dialogs' buttons and controls, the language modules' strings.
IDOK, IDCANCEL = 1, 2
IDC_STEP1_TEXT, IDC_STEP2_TEXT = 1001, 1002
IDS_STEP1, IDS_STEP2, IDS_INSTALL_OK, IDS_INSTALL_FAILED = 1, 2, 3, 4
# The executable's resources: types, and the ids of the dialogs and the icon.
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
IDD_ABOUT, IDD_INSTALLER, IDI_APP = 100, 102, 128


def load_error(kit, module=ENGLISH):
    """The "Error" box's text when the module beside C:\\kits\\<kit>\\ cannot be loaded."""
    return "Couldn't load file with path: C:\\kits\\%s\\%s." % (kit, module)


# The installer dialog's template (WS_POPUP | WS_VISIBLE | WS_CAPTION |
# DS_MODALFRAME | DS_SETFONT, WS_EX_APPWINDOW) and texts, never shown running.
INSTALLER_STYLE, INSTALLER_EXSTYLE = 0x90C000C0, 0x00040000
TEMPLATE_STEP1 = "1. Please remove your USB data cable first."
TEMPLATE_STEP2 = "2. Click [OK] to install, [Cancel] to abort."
# The About box's: WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
# DS_SETFONT, and its texts.
ABOUT_STYLE = 0x80C800C0
ABOUT_VERSION, COPYRIGHT = "Wirenest version 1.0", "Copyright (C) Ombrel Mobile"
# Windows adds these to every top-level dialog it creates (measured the
# same under Wine): WS_CLIPSIBLINGS | DS_3DLOOK.
SYSTEM_ADDED_STYLE = 0x04000000 | 0x00000004

# The manifest names the processor twice (itself and the common controls);
# the x86_64 build names amd64: a 64-bit process activates nothing x86.
SHIPPED_ARCH, X64_ARCH = b'processorArchitecture="X86"', b'processorArchitecture="amd64"'

# Code page 932: U+8868 is 0x95 0x5C there, its second byte the backslash
# code; a program that cuts a path at the last 0x5C byte cuts it wrongly.
CP932_LANG, CP932_CHAR = "ja_JP.UTF-8", "\u8868"

# Registry values for a run's settings: {name: (type, bytes)}.
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4


def dword(n):
    return (REG_DWORD, struct.pack("<I", n))


def sz(text):
    return (REG_SZ, text.encode("ascii") + b"\0")
