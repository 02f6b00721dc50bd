// The update script ("oupdate.inf") and the notes file ("oupdate.mem") that
// every package carries, read from the work directory after extraction.
//
// Script layout: seven header lines, then five lines per file entry up to the
// end of the file. Lines are taken whole (no trimming), so a mode text with a
// stray blank is kept as written and simply matches no mode later on.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/Stream.h"
#include "platform/Platform.h"

namespace oup {

// Fixed names of the steering files inside a package.
inline constexpr const char* kScriptFileName = "oupdate.inf";
inline constexpr const char* kNotesFileName = "oupdate.mem";
inline constexpr const char* kSecFileName = "oupdate.sec";  // carried along, never read
inline constexpr const char* kSetFileName = "oupdate.set";  // carried along, never read

// The four mode texts of a file entry, compared exactly by the update run.
inline constexpr const char* kModeUpdateIfPresent = "Update if present";
inline constexpr const char* kModeUpdateIfOlder = "Update if older or missing";
inline constexpr const char* kModeAlwaysUpdate = "Always update";
inline constexpr const char* kModeAlwaysCopy = "Always copy";

// Macros a target directory may hold.
inline constexpr const char* kMacroInstallDir = "<installdir>";
inline constexpr const char* kMacroWinDir = "<windir>";
inline constexpr const char* kMacroWinSysDir = "<winsysdir>";

struct TFileEntry {
    std::string SourceName;  // name in the package, and so in the work directory
    std::string TargetName;  // name of the installed copy, no directory
    TDateTime FileDate = 0;  // last-write time given to the installed copy
    std::string TargetDir;   // macros still unexpanded
    std::string Mode;        // one of the mode texts, or anything else
    bool Installed = false;  // set by the update run
    int Line = 0;            // script line of SourceName (1-based); the others follow it
};

struct TUpdateScript {
    std::string ProgramName;
    std::string ProgramVersion;
    std::string Company;
    std::string ProgramFile;  // executable name that marks an installation
    TDateTime ReservedDateTime = 0;
    std::string ReservedDateText;
    std::string ReservedFlagText;
    std::vector<TFileEntry> FileEntries;  // in script order
};

// Reads the script at path into script. FileEntries is emptied first, then
// grown one record per entry. A script that cannot be opened reads as empty
// lines, so it fails on its fifth line. An invalid date-time raises
// EConvertError ("'%s' is not a valid date and time" with the line's text);
// whatever was read before it, including the first three fields of the
// failing entry, stays in script so that closing can still clean up.
void ReadUpdateScript(TPlatform& platform, const std::string& path, TUpdateScript& script);

// Called for a date-time line that does not read: its line number (1-based)
// and the error's message.
using TBadDateEvent = std::function<void(int line, const std::string& message)>;

// Reads a script from the stream's current position, as above. Without
// onBadDate an invalid date-time raises EConvertError; with it, the line is
// reported, the date reads as 0 and reading goes on, so that a tool that
// checks a script can name every such line at once.
void ReadUpdateScript(TStream& stream, TUpdateScript& script, const TBadDateEvent& onBadDate = {});

// Loads the notes file as the memo will show it: reading stops at a zero
// byte, and CR LF, a lone LF and a lone CR each become one CR LF. Returns
// false, leaving text alone, when no such file exists. A file that exists but
// cannot be opened raises EFOpenError ("Cannot open file "%s". %s").
bool LoadNotes(TPlatform& platform, const std::string& path, std::string& text);

// The memo's line-break rules on their own, for text from anywhere.
std::string AdjustLineBreaks(const std::string& text);

}  // namespace oup
