// The window over the start-up restore. A package of a few hundred megabytes,
// or one on a slow share, takes seconds to unpack before the wizard can
// appear; without a sign of life users start the update a second time. Once
// a restore has run kRestoreWindowDelayMs, the form services show a small
// window with the package's file name, the restore's progress and Cancel; a
// shorter restore shows nothing, and an unattended run never does.
#pragma once
#include <cstdint>
#include <string>

#include "package/backup.h"

namespace oup {

class TFormServices;

inline constexpr int64_t kRestoreWindowDelayMs = 300;

// Hooks the restore engine's OnProgress for the length of its scope; the
// engine calls it after every block, right after letting window messages
// through, so a Cancel pressed in between stops the restore before the next
// block is read.
class TRestoreProgress {
public:
    // quiet: unattended; nothing is shown and nothing can cancel.
    TRestoreProgress(TBackupFile& backupFile, TFormServices& services, bool quiet);
    // Unhooks, and hands the window (if one was shown) back to the services.
    ~TRestoreProgress();
    TRestoreProgress(const TRestoreProgress&) = delete;
    TRestoreProgress& operator=(const TRestoreProgress&) = delete;

    // A restore of the package with this file name starts now; the delay
    // counts from here.
    void Start(const std::string& packageFileName);
    // The user stopped the restore.
    bool Cancelled() const { return cancelled_; }

private:
    void Progress(TPercentage percent, bool& goOn);

    TBackupFile& backupFile_;
    TFormServices& services_;
    bool quiet_;
    std::string fileName_;
    int64_t started_ = 0;
    bool running_ = false;
    bool shown_ = false;
    bool cancelled_ = false;
};

}  // namespace oup
