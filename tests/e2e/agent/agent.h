/* The commands of wnagent, in the order its usage lists them.  Each is
   "name <required> [optional]": main() gives Cmd<Name> the arguments after
   the name (argv-style, ending with NULL), at least one per <...>. */
#ifndef AGENT_H
#define AGENT_H

#include "wnlib.h"
#include "resource.h"  /* the product's own control and resource ids */

#define AGENT_COMMANDS(X) \
    /* windows.c: finding, reading and driving another program's windows */ \
    X(Wait, "wait <caption> [timeout_ms] [pid|exe name]") \
    X(Gone, "gone <hwnd> [timeout_ms]") \
    X(Window, "window <hwnd>") \
    X(Windows, "windows <pid|exe name>") \
    X(Text, "text <hwnd> <control id>") \
    X(Children, "children <hwnd>") \
    X(MsgBox, "msgbox <hwnd>") \
    X(Focus, "focus <hwnd>") \
    X(ThreadState, "threadstate <hwnd>") \
    X(Click, "click <hwnd> <control id> [up to 7 more hwnds]") \
    X(Key, "key <hwnd> <enter|escape|tab|space|vk>") \
    X(SysCommand, "syscommand <hwnd> <SC_ value>") \
    X(Activate, "activate <hwnd>") \
    X(Screenshot, "screenshot <file.bmp>") \
    X(Font, "font <face> [charset] [text]") \
    /* probe.c: what a file carries and what a process loaded */ \
    X(Version, "version <file>") \
    X(Resources, "resources <file>") \
    X(Resource, "resource <file> <type> <name> <lang>") \
    X(IconGroup, "icongroup <file> <id> <lang>") \
    X(Dialog, "dialog <file> <id>") \
    X(LoadString, "loadstring <module> <id>") \
    X(Modules, "modules <pid|exe name>") \
    /* agent.c: the machine */ \
    X(RegSet, "regset <HKCU\\key> <value> <type> <hex bytes|->") \
    X(RegDel, "regdel <HKCU\\key>") \
    X(InfCopy, "infcopy <inf path> [copy style]") \
    X(Hold, "hold <file or folder> <timeout_ms> <release file> [access sharing]") \
    /* sweep.c: the program run many times from a case file */ \
    X(Sweep, "sweep <case file> [timeout_ms]")

#define DECLARE_COMMAND(name, usage) int Cmd##name(char **argv);
AGENT_COMMANDS(DECLARE_COMMAND)

int Usage(const char *usage);  /* {"ok":false,"error":"usage",...}; 2 */

#endif
