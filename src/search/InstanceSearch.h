// The instance search: a breadth-first walk over a list of roots (drives,
// shares, directories) that finds every directory holding the target
// program's executable. It knows nothing of any window: hits, the directory
// being reached and the chance to stop all go through callbacks.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"

namespace oup {

struct TInstanceSearchSetup {
    std::string ProgramFile;  // the name that marks an installation; may hold * and ?
    std::string WorkDir;      // never an installation; ends with a backslash
    std::string WindowsDir;   // walked first when "C:" is searched; no trailing backslash
};

class TInstanceSearch {
public:
    TInstanceSearch(TPlatform& platform, TInstanceSearchSetup setup);
    TInstanceSearch(const TInstanceSearch&) = delete;
    TInstanceSearch& operator=(const TInstanceSearch&) = delete;

    // Each installation found, in the order of discovery.
    std::function<void(const std::string& dir)> OnFound;
    // Each directory as it is reached (for a path display).
    std::function<void(const std::string& dir)> OnDirectory;
    // A root about to be searched.
    std::function<void(const std::string& root)> OnRoot;
    // Called once after each root is queued and once before each directory
    // is listed (where a window lets its messages through); true stops the
    // search.
    std::function<bool()> Poll;

    // Walks the roots in order, each breadth-first; a directory reached
    // twice (the Windows directory, nested or repeated roots) is tested and
    // walked once. Returns false when Poll stopped it.
    bool Run(const std::vector<std::string>& roots);

    // Whether path (no trailing backslash) holds ProgramFile as an entry
    // that is neither hidden nor a system entry; the work directory never
    // counts.
    bool IsInstanceDir(const std::string& path);

private:
    bool SearchRoot(const std::string& root);
    // Tests a directory as an instance and queues it for listing, each at
    // most once per search, whatever letter case the path comes in.
    void Reach(const std::string& path, bool test, bool queue);
    bool Stop() { return Poll && Poll(); }

    TPlatform& platform_;
    TInstanceSearchSetup setup_;
    std::string workDirKey_;  // the work directory upper-cased
    std::vector<std::string> queue_;
    size_t position_ = 0;  // carries over from root to root
    // Every directory reached, upper-cased: queued and/or tested.
    std::unordered_map<std::string, uint8_t> reached_;
};

}  // namespace oup
