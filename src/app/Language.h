// The wizard's texts come from the package's language file, one text per
// line, addressed by line number. Some carry placeholders that are filled from
// the script's header and the number of installations found.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "common/Stream.h"
#include "controls/Controls.h"
#include "platform/Platform.h"

namespace oup {

// The texts in file order; text n is line n (zero-based). Asking for a text
// the file did not have raises EListError "List index out of bounds (%d)",
// which is how a short language file shows itself.
class TLanguageTexts {
public:
    void Add(std::string text) { texts_.push_back(std::move(text)); }
    void Clear() { texts_.clear(); }
    int Count() const { return static_cast<int>(texts_.size()); }
    bool Has(int index) const { return index >= 0 && index < Count(); }
    const std::string& Get(int index) const;
    const std::string& operator[](int index) const { return Get(index); }
    const std::vector<std::string>& Texts() const { return texts_; }

private:
    std::vector<std::string> texts_;
};

// Indexes of the texts the program uses.
enum TLanguageText : int {
    ltNext = 0,
    ltPrevious = 1,
    ltClose = 2,
    ltHeaderTitle = 3,
    ltPage1 = 4,
    ltPage2 = 6,
    ltStart = 7,
    ltSearchPath = 8,
    ltPage3 = 10,
    ltInstanceColumn = 11,
    ltPage5 = 15,
    ltUpdate = 19,
    ltPage4 = 20,
    ltSearchDone = 21,
    ltDriveColumn = 22,  // optional
    ltCancel = 23,       // optional
    ltNoNotes = 25,
    ltFinished = 26,
    ltRestart = 27,  // optional; page 5, when a file waits for Windows to restart
};
inline constexpr int kLanguageTextCount = 27;  // the texts a language file must have
inline constexpr const char* kRestartDefaultText =
    "Windows must be restarted to finish the update.";

inline constexpr const char* kLanguageFilePattern = "*.ln_";

// What the placeholders stand for at the moment of expansion.
struct TPlaceholderValues {
    std::string ProgramName;     // "<programname>"
    std::string Company;         // "<company>"
    std::string ProgramVersion;  // "<version>"
    long Count = 0;              // "<count>": items in the instance list
};

// Fills "<programname>", "<company>", "<version>" and "<count>", in that
// order, then trims blanks and control characters from both ends. Every
// occurrence is replaced once and the scan goes on after the inserted value,
// so a value holding its own placeholder is inserted as it stands (and the
// expansion always ends), while a value inserted for an earlier placeholder
// is still filled by the later ones. Matching is exact and case-sensitive.
std::string ExpandPlaceholders(const std::string& text, const TPlaceholderValues& values);

// The controls whose captions come from the language file. A null pointer is
// passed over, but its text must still exist.
struct TLanguageControls {
    TControl* NesteKnapp = nullptr;
    TControl* ForrigeKnapp = nullptr;
    TControl* Button2 = nullptr;
    TControl* bane = nullptr;
    TControl* StartKnapp = nullptr;
    TListView* Liste = nullptr;
    TControl* OXPPanel1 = nullptr;
    TListView* driveliste = nullptr;
    TControl* AvbrytKnapp = nullptr;
};

using TExpandFunction = std::function<std::string(const std::string&)>;

// Reads every line of a language file from the stream's current position
// into texts (emptied first), one text per line.
void ReadLanguageTexts(TStream& stream, TLanguageTexts& texts);

// Finds the first ordinary file matching "*.ln_" in workDir (which ends with
// a backslash), reads every line of it into texts, deletes it, and sets the
// captions. Returns the language file's name, empty when none was found.
//
// Raises the platform's EInOutError when the file cannot be opened (with no
// language file the path is workDir itself), and EListError when a text up to
// index 11 is missing; captions set before that stay. Texts 22 and 23 are
// optional: without them the drive list's column and the Cancel button keep
// what they had. Text 3 goes through expand.
std::string LoadLanguage(TPlatform& platform, const std::string& workDir, TLanguageTexts& texts,
                         const TLanguageControls& controls, const TExpandFunction& expand);
// The same with fixed placeholder values (start-up knows none yet).
std::string LoadLanguage(TPlatform& platform, const std::string& workDir, TLanguageTexts& texts,
                         const TLanguageControls& controls, const TPlaceholderValues& values);

}  // namespace oup
