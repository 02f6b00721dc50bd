// The file this process's image was mapped from, as the system names it. A
// running image's file cannot be written, but it can be renamed away and
// another put at its path; the name the system gives for the mapping follows
// the rename (on Windows; Wine keeps the old one), so a name asked before
// and after an open that denies renaming tells whether the handle holds the
// mapped file (package/RunningImage.h does that).
#pragma once
#include <string>

#include "platform/Platform.h"
#include "platform/win32/Handle.h"
#include "platform/win32/WinApi.h"

namespace oup::win32 {

// The NT name of the mapped file ("\Device\HarddiskVolume3\...", or
// "\??\C:\..." under Wine) in UTF-8, so that no character is lost; empty
// when the system gives none.
std::string MappedModuleName();

struct TOpenedModule {
    TFileHandle Handle;  // invalid on failure
    DWORD Error = NO_ERROR;
    std::wstring Shown;  // the name, for a message
};
// Opens a name from MappedModuleName for reading, with writing and deletion
// (renaming) denied to everyone else while the handle is open.
TOpenedModule OpenMappedModule(const std::string& mappedName);

// The image as the loader mapped it: its base, its SizeOfImage, and that
// base as the address its relocations were applied for.
TMappedImage MappedModuleImage();

}  // namespace oup::win32
