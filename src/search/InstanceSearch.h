// The instance search: a breadth-first walk over a list of roots (drives,
// shares, directories) that finds every directory holding the target
// program's executable. It knows nothing of any window: hits, the directory
// being reached and the chance to stop all go through callbacks, and all of
// them run on the thread that called Run.
//
// Each directory is listed once, and that listing also answers whether it
// is an installation. Listings run on a small pool of threads, several at
// once (a network share answers each call after a round trip), while the
// calling thread takes their results in queue order: the hits come out in
// the order of a plain one-directory-at-a-time walk.
#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace oup {

struct TInstanceSearchSetup {
    std::string ProgramFile;  // the name that marks an installation; may hold * and ?
    std::string WorkDir;      // never an installation; ends with a backslash
    std::string WindowsDir;   // walked first when "C:" is searched; no trailing backslash
    // Listings in flight at once; 0 lists on the calling thread.
    int Workers = 8;
};

class TInstanceSearch {
public:
    using TClock = std::chrono::steady_clock;

    TInstanceSearch(TPlatform& platform, TInstanceSearchSetup setup);
    ~TInstanceSearch();
    TInstanceSearch(const TInstanceSearch&) = delete;
    TInstanceSearch& operator=(const TInstanceSearch&) = delete;

    // Each installation found, in the order of discovery.
    std::function<void(const std::string& dir)> OnFound;
    // The directory being reached, for a path display: at most about 30
    // times a second (nobody reads faster), and the last one at the end.
    std::function<void(const std::string& dir)> OnDirectory;
    // A root about to be searched.
    std::function<void(const std::string& root)> OnRoot;
    // A directory passed over because its name has no form in the ANSI code
    // page, not even a short one (dir shows the name with '?' for that).
    std::function<void(const std::string& dir)> OnNameNotRepresentable;
    // Called once after each root is queued, once before each queued
    // directory is taken, and about every 20 ms while a listing is awaited
    // (where a window lets its messages through); true stops the search.
    // After a stop it goes on being called while the listings still in
    // flight finish; its answer then no longer matters.
    std::function<bool()> Poll;
    // The clock of the path display.
    std::function<TClock::time_point()> Now = [] { return TClock::now(); };

    // Walks the roots in order, each breadth-first; a directory reached
    // twice (the Windows directory, nested or repeated roots) is tested and
    // walked once. Returns false when Poll stopped it. No listing is in
    // flight when it returns, however it returns.
    bool Run(const std::vector<std::string>& roots);

    // Whether path (no trailing backslash) holds ProgramFile as an entry
    // that is neither hidden nor a system entry; the work directory never
    // counts. This is the presence search, one directory search for the
    // name; safe to call from the pool's threads.
    bool IsInstanceDir(const std::string& path);

private:
    class TWalk;

    TPlatform& platform_;
    TInstanceSearchSetup setup_;
    std::string workDirKey_;      // the work directory upper-cased
    std::string programFileKey_;  // ProgramFile upper-cased
    // ProgramFile is a plain name that a listing can answer for; otherwise
    // (wildcards, short-name aliases, a path) each directory gets the
    // presence search.
    bool listingAnswers_ = false;
};

}  // namespace oup
