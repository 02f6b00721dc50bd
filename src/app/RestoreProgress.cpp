#include "app/RestoreProgress.h"

#include "app/Update.h"

namespace oup {

TRestoreProgress::TRestoreProgress(TBackupFile& backupFile, TFormServices& services, bool quiet)
    : backupFile_(backupFile), services_(services), quiet_(quiet) {
    backupFile_.OnProgress = [this](TBackupFile&, const std::string&, TPercentage percent,
                                    bool& goOn) { Progress(percent, goOn); };
}

TRestoreProgress::~TRestoreProgress() {
    backupFile_.OnProgress = nullptr;
    if (shown_) services_.EndRestoreWindow();
}

void TRestoreProgress::Start(const std::string& packageFileName) {
    fileName_ = packageFileName;
    started_ = services_.TickCount();
    running_ = true;
}

void TRestoreProgress::Progress(TPercentage percent, bool& goOn) {
    // After a Cancel the engine's closing call would still report 100.
    if (quiet_ || !running_ || cancelled_) return;
    if (!shown_) {
        if (services_.TickCount() - started_ < kRestoreWindowDelayMs) return;
        shown_ = true;
        services_.ShowRestoreWindow(fileName_);
    }
    services_.SetRestorePercent(percent);
    // Also honoured on the engine's closing call: the user said stop, and the
    // wizard must not appear after that.
    if (services_.RestoreCancelRequested()) {
        cancelled_ = true;
        goOn = false;
    }
}

}  // namespace oup
