// The driver's folders on drive C: only administrators may change them.
#pragma once

#include "platform/winapi.h"

// Creates the target root where it is absent and makes Administrators the
// owner of it, then creates the package folder in it and does the same for
// that and for any target file already there, giving each a protected
// DACL: full control for SYSTEM and Administrators, read and execute for
// Users. Each is opened once and set through that handle, which shares
// only reading. TRUE when that is done, or when drive C keeps no ACLs (FAT)
// and there is nothing to set beyond the two folders. FALSE when either
// folder is missing, is a file or a reparse point (the package folder is
// then not created), when a target file is a reparse point or has more
// than one name, when another handle that may write to one of them or
// delete it is open, or when any of them refuses the change: then nothing
// may be copied into the folder or registered from it.
BOOL ProtectDriverFolders();
