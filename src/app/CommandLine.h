// The updater's command line:
//   oupdate.exe [PACKAGE] [/S] [/LOG=FILE] [/DIR=DIR[;DIR...]] [/NORESTARTREPLACE]
// Options in any order and letter case; the first argument that does not
// begin with "/" is the package path.
#pragma once
#include <string>
#include <vector>

namespace oup {

struct TCommandLine {
    std::string ExePath;      // argument 0
    std::string PackagePath;  // first argument that is no option; may be empty
    bool Silent = false;      // /S
    std::string LogFile;      // /LOG=FILE
    std::vector<std::string> Dirs;  // /DIR=..., each without a trailing backslash
    bool NoRestartReplace = false;  // /NORESTARTREPLACE: a file in use fails
    std::vector<std::string> Unknown;  // options not understood
};

// args[0] is the executable's own path.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace oup
