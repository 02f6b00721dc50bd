// The updater's command line:
//   oupdate.exe [PACKAGE] [/S] [/LOG=FILE] [/DIR=DIR[;DIR...]] [/NORESTARTREPLACE] [/PREVIEW]
//               [/ATOMIC] [/REPORT=FILE] [/?]
// Options in any order and letter case; an argument that does not begin
// with "/" is the package path. Every option is a row of one table
// (CommandLine.cpp); an unknown option, an option without its value, a
// value for an option that takes none, or a second package is a usage
// error, which ends the program before anything else happens.
#pragma once
#include <string>
#include <vector>

namespace oup {

struct TCommandLine {
    std::string ExePath;      // argument 0
    std::string PackagePath;  // the argument that is no option; may be empty
    bool Silent = false;      // /S
    // Silent without /S: nobody could see a window (RunWithoutWindowsWhereNobodySees).
    bool NoUser = false;
    std::string LogFile;      // /LOG=FILE
    std::vector<std::string> Dirs;  // /DIR=..., each without a trailing backslash
    bool NoRestartReplace = false;  // /NORESTARTREPLACE: a file in use fails
    bool Preview = false;           // /PREVIEW: say what the update would do, change nothing
    bool Atomic = false;            // /ATOMIC: each installation gets every file or none
    std::string ReportFile;         // /REPORT=FILE: the run's report, as JSON
    bool ShowUsage = false;         // /?
    // The first thing wrong with the arguments, naming the argument; empty
    // when they are fine. The options after it are still read, so that /S
    // and /LOG know how to report it.
    std::string UsageError;
    // Paths among the arguments (argument 0 too) that have no name in the
    // ANSI code page, as far as it can show them. The program's entry, which
    // converts the arguments, fills it; start-up names the first and stops.
    std::vector<std::string> UnusablePaths;
};

// args[0] is the executable's own path.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// "Usage: oupdate.exe [PACKAGE] [/S] ...", from the table of options.
std::string UsageLine();

}  // namespace oup
