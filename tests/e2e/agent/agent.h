/* The commands of wnagent, one handler each; the table is in agent.c. */
#ifndef AGENT_H
#define AGENT_H

#include "wnlib.h"
#include "resource.h"  /* the product's own control and resource ids */

void PutChildRect(HWND parent, HWND h);

/* windows.c: finding, reading and driving another program's windows */
int CmdWait(int argc, char **argv);
int CmdGone(int argc, char **argv);
int CmdWindow(int argc, char **argv);
int CmdWindows(int argc, char **argv);
int CmdText(int argc, char **argv);
int CmdChildren(int argc, char **argv);
int CmdMsgBox(int argc, char **argv);
int CmdFocus(int argc, char **argv);
int CmdThreadState(int argc, char **argv);
int CmdClick(int argc, char **argv);
int CmdKey(int argc, char **argv);
int CmdActivate(int argc, char **argv);
int CmdSysCommand(int argc, char **argv);
int CmdScreenshot(int argc, char **argv);
int CmdFont(int argc, char **argv);

/* probe.c: what a file carries and what a process loaded */
int CmdVersion(int argc, char **argv);
int CmdResources(int argc, char **argv);
int CmdResource(int argc, char **argv);
int CmdIconGroup(int argc, char **argv);
int CmdDialog(int argc, char **argv);
int CmdLoadString(int argc, char **argv);
int CmdModules(int argc, char **argv);
int CmdNoDependency(int argc, char **argv);

/* sweep.c: the program run many times from a case file */
int CmdSweep(int argc, char **argv);

#endif
