// The updater's command line:
//   oupdate.exe [PACKAGE] [/S] [/LOG=FILE] [/DIR=DIR[;DIR...]]
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
    std::vector<std::string> Unknown;  // options not understood
    // Paths among the arguments (argument 0 too) that have no name in the
    // ANSI code page, as far as it can show them. The program's entry, which
    // converts the arguments, fills it; start-up names the first and stops.
    std::vector<std::string> UnusablePaths;
};

// args[0] is the executable's own path.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace oup
