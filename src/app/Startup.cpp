// Start-up: everything that happens before the user sees page 1.
#include <algorithm>
#include <chrono>

#include "app/RestoreProgress.h"
#include "app/RunReport.h"
#include "app/SeparatePackage.h"
#include "app/Update.h"
#include "app/UpdateLog.h"
#include "common/Errors.h"
#include "package/PackageLocation.h"
#include "package/PackageReader.h"
#include "package/RunningImage.h"
#include "search/DriveList.h"

namespace oup {

namespace {

inline constexpr const char* kNoPackageText = "No update package was given.";
inline constexpr const char* kPackageNotFoundText = "The update package \"%s\" was not found.";
inline constexpr const char* kPackageBrokenText =
    "The update package \"%s\" could not be read: %s";
inline constexpr const char* kRestoreCancelledText = "the restore was cancelled.";
inline constexpr const char* kRestoreErrorText = "%s (error %d)";
inline constexpr const char* kPackageRefusedText = "The update package \"%s\" was refused: %s.";
inline constexpr const char* kNoWorkDirText = "Could not create a work directory in \"%s\".";
inline constexpr const char* kNoTempDirText =
    "The system names no temporary directory to unpack the update package into.";
inline constexpr const char* kNoRoomText =
    "There is no room to unpack the update package \"%s\": it holds %s bytes, which with room "
    "to spare need %s, and %s bytes are free on the drive of \"%s\".";
inline constexpr const char* kVolumeAgainText = "volume %s comes round again";
inline constexpr const char* kNoUserText =
    "No one can see a window here (SYSTEM, or session 0): running unattended, as with /S";

// Beyond the package itself, the work directory's drive keeps 64 MiB or a
// tenth of the package free, whichever is more. The package's total counts
// bytes, not the clusters its files take (a tenth covers that for many small
// files), and the same drive (the system drive, as a rule) still has to take
// the update's copies into the installations and Windows' own writes: run
// as SYSTEM, a package that filled it to the last byte would stop the
// machine, not just the update.
constexpr int64_t kRoomMargin = int64_t(64) << 20;

// A directory of our own under the temporary directory, so that two updaters
// at once, or files another program left there, never mix into this run.
// Creating it fails on an existing name, which makes the claim safe, and no
// other user can add a file to it afterwards.
std::string CreatePrivateDir(TPlatform& platform, const std::string& parent) {
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "oupdate-%08llx",
                      (seed + attempt * 0x9E3779B97F4A7C15ull) & 0xFFFFFFFFull);
        const std::string dir = parent + name;
        if (platform.CreatePrivateDir(dir)) return dir + "\\";
    }
    return std::string();
}

// The signature state the report gives a package: an appended one is
// covered by the program's own signature, if any; a separate one is what
// its check found (null: no check, or a refused package).
TPackageSignature SignatureOfPackage(bool appended, const TPackageSignatureCheck* check) {
    if (appended) return TPackageSignature::Appended;
    if (!check) return TPackageSignature::Unknown;
    if (!check->Signed) return TPackageSignature::Unsigned;
    return check->IntegrityOnly ? TPackageSignature::IntegrityOnly : TPackageSignature::Signed;
}

std::string Truncated(std::string dir) {
    // The form keeps these in buffers of 260 characters.
    if (dir.size() > 260) dir.resize(260);
    return dir;
}

}  // namespace

void TUpdate::FillDriveList() {
    // Roots named on the command line take the place of the drives.
    const std::vector<std::string> items =
        CommandLine.Dirs.empty() ? DriveList(Platform) : UniqueRoots(Platform, CommandLine.Dirs);
    for (const std::string& item : items) {
        // A root that is no directory (a typo, or /DIR="D:\Apps\", whose \"
        // the command line takes for a quote inside the value, swallowing
        // what follows) is searched all the same and finds nothing: the
        // log says why.
        if (!CommandLine.Dirs.empty() && !Platform.DirectoryExists(item + "\\"))
            Log("/DIR root is not an existing directory: " + item);
        Controls.driveliste->AddItem(item, true);
    }
}

void TUpdate::LoadLanguage() {
    TLanguageControls c;
    c.NesteKnapp = Controls.NesteKnapp;
    c.ForrigeKnapp = Controls.ForrigeKnapp;
    c.Button2 = Controls.Button2;
    c.bane = Controls.bane;
    c.StartKnapp = Controls.StartKnapp;
    c.Liste = Controls.Liste;
    c.OXPPanel1 = Controls.OXPPanel1;
    c.driveliste = Controls.driveliste;
    c.AvbrytKnapp = Controls.AvbrytKnapp;
    LanguageFileName = oup::LoadLanguage(Platform, WorkDir, LanguageTexts, c,
                                         [this](const std::string& t) { return ExpandPlaceholders(t); });
}

void TUpdate::FormShow() {
    // A close that comes while start-up lets messages through (the restore
    // does, block by block) waits until start-up has returned: the work
    // directory must not go while the restore still writes into it.
    TBusy busy(*this, TBusyKind::Starting);
    try {
        StartupSequence();
    } catch (const std::exception& e) {
        // Nothing may be offered from a start-up that stopped halfway (a
        // script read up to a bad date would install its last entry into
        // the root of the current drive): the message, then the wizard closes.
        startupFailed_ = true;
        exitCode_ = ecNoPackage;
        ShowError(e.what());
        closePending_ = true;
    }
}

void TUpdate::StartupSequence() {
    Services.ProcessMessages();
    if (closePending_) return;  // closed before anything began
    const std::vector<std::string>& unusable = CommandLine.UnusablePaths;
    if (!CommandLine.LogFile.empty() &&
        std::find(unusable.begin(), unusable.end(), CommandLine.LogFile) == unusable.end())
        log_ = std::make_unique<TUpdateLog>(Platform, CommandLine.LogFile);
    if (!unusable.empty()) throw ENameNotRepresentable(unusable.front());
    if (CommandLine.NoUser) Log(kNoUserText);
    // The program's own file, held from now on: everything read from it
    // later comes through this one handle.
    image_ = std::make_unique<TRunningImage>(Platform, CommandLine.ExePath);

    FillDriveList();
    Script.FileEntries.clear();

    // No stand-in for a temporary directory the system does not name: a
    // folder such as C:\temp is one any user may make first, and own.
    std::string temp = Platform.GetTempDir();
    if (temp.empty()) throw EInOutError(kNoTempDirText);
    temp = IncludeTrailingBackslash(temp);
    SystemDir = Truncated(Platform.GetSystemDir());
    WindowsDir = Truncated(Platform.GetWindowsDir());
    try {
        Platform.ForceDirectories(temp);
    } catch (const Exception&) {
        // A temporary directory that cannot be made shows up just below.
    }
    WorkDir = CreatePrivateDir(Platform, temp);
    if (WorkDir.empty()) throw EInOutError(FormatMessage(kNoWorkDirText, {temp}));
    ownsWorkDir_ = true;
    Log("Work directory " + WorkDir);

    if (!FindAndRestorePackage()) return;
    if (closePending_) return;  // closed while the restore ran

    LoadLanguage();

    // Notes: without notes, or with blank ones, page 1 points at the
    // instructions instead.
    std::string notes;
    const bool haveNotes = LoadNotes(Platform, WorkDir + kNotesFileName, notes);
    if (haveNotes) Controls.Memo1->SetCaption(notes);
    if (haveNotes && !Trim(notes).empty()) {
        Controls.Memo1->SetVisible(true);
        Controls.Label1->SetVisible(false);
    } else {
        Controls.Label1->SetCaption(Text(ltNoNotes));
        Controls.Label1->SetVisible(true);
    }

    ReadUpdateScript(Platform, WorkDir + kScriptFileName, Script);
    Log("Program " + Script.ProgramName + " " + Script.ProgramVersion + " (" + Script.ProgramFile +
        ")");
    report_->SetProgram(Script.ProgramName, Script.ProgramVersion, Script.Company);
    // The package is read; nothing outside the work directory is written yet.
    if (!TakeRunLock()) return;

    Controls.OXPPanel1->SetCaption(ExpandPlaceholders(Text(ltHeaderTitle)));
    ShowPage();
}

// Returns false when start-up ends here; the wizard then closes as soon as
// start-up has returned (closePending_, see FormShow).
bool TUpdate::FindAndRestorePackage() {
    // The restore engine's own error goes into the one message below, not
    // into a box of its own.
    restoreError_.clear();
    BackupFile1.OnError = [this](TBackupFile&, int32_t code, const std::string& text) {
        restoreError_ = FormatMessage(kRestoreErrorText, {text, std::to_string(code)});
    };
    volumesTaken_.clear();
    BackupFile1.OnNeedDisk = [this](TBackupFile&, uint16_t diskId, bool& goOn) {
        NeedVolume(diskId, goOn);
    };
    // The package's total is its own word: checked against the room
    // before anything is written, and held to while it is written.
    roomError_.clear();
    BackupFile1.OnPackageSize = [this](TBackupFile&, int32_t totalSize, bool& goOn) {
        goOn = EnoughRoom(totalSize);
    };
    BackupFile1.LimitToTotalSize = true;
    // A long restore gets a window with Cancel before the wizard can appear.
    TRestoreProgress progress(BackupFile1, Services, CommandLine.Silent);

    const std::optional<uint32_t> appendedAt = image_->PackageStart();
    bool restored = false;
    if (appendedAt) {
        packageName_ = CommandLine.ExePath;
        Log("Package appended to " + packageName_);
        report_->SetPackage(packageName_, SignatureOfPackage(true, nullptr));
        // Everything from here on is the restore's, and its message is kept
        // for the sentence below.
        progress.Start(ExtractFileName(packageName_));
        try {
            image_->File().SetPosition(*appendedAt);
            restored = BackupFile1.RestoreStream(image_->File(), WorkDir);
        } catch (const std::exception& e) {
            restoreError_ = e.what();
        }
    } else {
        packageName_ = CommandLine.PackagePath;
        if (packageName_.empty()) {
            if (CommandLine.Silent) {
                exitCode_ = ecNoPackage;
                startupFailed_ = true;
                ShowError(kNoPackageText);
                Platform.WriteStandardError(UsageLine() + "\r\n");
                closePending_ = true;
                return false;
            }
            if (!Services.ExecuteOpenDialog(ExtractFilePath(CommandLine.ExePath), packageName_)) {
                Log("No package chosen");
                closePending_ = true;
                return false;
            }
        }
        Log("Package " + packageName_);
        report_->SetPackage(packageName_, SignatureOfPackage(false, nullptr));
        if (!Platform.FileExists(packageName_)) {
            exitCode_ = ecNoPackage;
            startupFailed_ = true;
            ShowError(FormatMessage(kPackageNotFoundText, {packageName_}));
            closePending_ = true;
            return false;
        }
        // Not a byte of a separate package is used before its signature
        // says it may be; a signed one is then read through the handles
        // that were checked.
        TPackageSignatureCheck signature;
        try {
            signature = CheckSeparatePackage(Platform, *image_, packageName_,
                                             [this](const std::string& line) { Log(line); });
        } catch (const EPackageSignature& e) {
            exitCode_ = ecNoPackage;
            startupFailed_ = true;
            ShowError(FormatMessage(kPackageRefusedText, {packageName_, e.what()}));
            closePending_ = true;
            return false;
        }
        report_->SetPackage(packageName_, SignatureOfPackage(false, &signature));
        progress.Start(ExtractFileName(packageName_));
        try {
            restored = signature.Signed
                           ? BackupFile1.RestoreVolumes(signature.OpenVolumes(), WorkDir)
                           : BackupFile1.Restore(packageName_, WorkDir);
        } catch (const std::exception& e) {
            restoreError_ = e.what();
        }
    }
    BackupFile1.OnError = nullptr;
    BackupFile1.OnNeedDisk = nullptr;
    BackupFile1.OnPackageSize = nullptr;
    if (!roomError_.empty()) {
        // Nothing was written; closing takes the work directory away.
        exitCode_ = ecNoPackage;
        startupFailed_ = true;
        ShowError(roomError_);
        closePending_ = true;
        return false;
    }
    if (progress.Cancelled()) {
        // The user's choice, not a failure: no message. Closing takes the
        // work directory away with all the restore wrote, the cut file too.
        Log("Restore cancelled");
        exitCode_ = ecClosedEarly;
        closePending_ = true;
        return false;
    }
    if (!restored) {
        // Never offer an update built from a partly extracted package.
        exitCode_ = ecNoPackage;
        startupFailed_ = true;
        if (restoreError_.empty()) restoreError_ = kRestoreCancelledText;
        ShowError(FormatMessage(kPackageBrokenText, {packageName_, restoreError_}));
        closePending_ = true;
        return false;
    }
    return true;
}

void TUpdate::NeedVolume(uint16_t diskId, bool& goOn) {
    std::string volume = VolumePath(Platform, packageName_, diskId);
    // A volume that is not there and whose name does not fit the code page
    // has no path to show.
    const std::string shown =
        volume.empty() ? std::to_string(diskId) + " of " + packageName_ : volume;
    if (volumesTaken_.count(diskId)) {
        goOn = false;
        restoreError_ = FormatMessage(kVolumeAgainText, {shown});
        Log("Volume " + shown + " comes round again");
        return;
    }
    if (CommandLine.Silent) {
        // Nobody can insert a disk: the volume lies beside the first or not at all.
        goOn = !volume.empty() && Platform.FileExists(volume);
        Log((goOn ? "Volume " : "Missing volume ") + shown);
    } else {
        goOn = Services.MessageBox(FormatMessage(kInsertDiskText, {std::to_string(diskId)}),
                                   "Information", TMsgKind::Information,
                                   TMsgButtons::OkCancel) == TMsgResult::Ok;
        // Reached by a short name, a volume has one only once it is there.
        volume = VolumePath(Platform, packageName_, diskId);
        if (goOn) Log("Volume " + (volume.empty() ? shown : volume));
    }
    // Asked for again while it is missing is no circle; once there, it is taken.
    if (goOn && !volume.empty() && Platform.FileExists(volume)) volumesTaken_.insert(diskId);
}

bool TUpdate::EnoughRoom(int32_t totalSize) {
    const int64_t free = Platform.FreeDiskSpace(WorkDir);
    if (free < 0) return true;  // the system cannot tell: the limit on writing still holds
    const int64_t total = std::max<int64_t>(totalSize, 0);
    const int64_t needed = total + std::max(kRoomMargin, total / 10);
    if (needed <= free) return true;
    roomError_ =
        FormatMessage(kNoRoomText, {packageName_, std::to_string(total), std::to_string(needed),
                                    std::to_string(free), WorkDir});
    return false;
}

bool TUpdate::TakeRunLock() {
    // Two updaters at once would write the same installations; a preview
    // writes nothing and may run beside an update.
    if (CommandLine.Preview) return true;
    TRunLockResult taken = Platform.TakeRunLock();
    if (!taken.Note.empty()) Log("One update at a time: " + taken.Note);
    if (!taken.HeldElsewhere) {
        // A lock that cannot be had at all does not keep the update away.
        runLock_ = std::move(taken.Lock);
        return true;
    }
    startupFailed_ = true;
    exitCode_ = ecAnotherRun;
    ShowError(kAnotherRunText);
    closePending_ = true;
    return false;
}

}  // namespace oup
