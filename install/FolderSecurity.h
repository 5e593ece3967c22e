// The driver's folders on drive C: only administrators may change them.
#pragma once

#include "platform/winapi.h"

// Makes Administrators the owner of the target root, of the package folder
// in it and of any target file already there, and gives each a protected
// DACL: full control for SYSTEM and Administrators, read and execute for
// Users. Each is opened once and set through that handle, which shares
// only reading. TRUE when that is done, or when drive C keeps no ACLs (FAT)
// and there is nothing to set. FALSE when either folder is missing, is a
// file or a reparse point, when a target file is a reparse point or has
// more than one name, when another handle that may write to one of them or
// delete it is open, or when any of them refuses the change: then nothing
// may be copied into the folder or registered from it.
BOOL ProtectDriverFolders();
