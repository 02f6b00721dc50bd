// TBackupFile: the restore component. It reads an update package (from a
// package file and its volumes, or from a stream such as the data behind the
// updater's own image) and writes every package entry into a directory with
// its stored date.
//
// All contact with the machine goes through TPlatform, and message boxes, the
// volume prompt and the message pump through TUserInterface, so the engine
// runs the same on Windows, in the tools on Linux and on the fake machine of
// the unit tests.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Errors.h"
#include "common/Stream.h"
#include "common/UserInterface.h"
#include "platform/Platform.h"

namespace oup {

enum TBackupMode { bmAll, bmIncremental };
enum TRestoreMode { rmAll, rmNoOverwrite, rmNewer, rmExisting, rmExistingNewer };
enum TCompressionLevel { clFastest, clNone, clDefault, clMax };
using TPercentage = uint8_t;  // 0..100

class TBackupFile;
class TOpenVolumes;
class TPackageReader;
struct TPackageRecord;

// The events. Every handler gets the component first; a parameter taken by
// non-const reference may be changed by the handler and the restore goes on
// with the changed value.
using TProgressEvent = std::function<void(TBackupFile& Sender, const std::string& Filename,
                                          TPercentage Percent, bool& Continue)>;
using TNeedDiskEvent = std::function<void(TBackupFile& Sender, uint16_t DiskID, bool& Continue)>;
using TRestoreFileEvent = std::function<void(TBackupFile& Sender, std::string& Filename, int32_t FA,
                                             bool& DoRestore)>;
// Stream is the open output file; a handler may even replace it, and the
// restore then dates and closes whatever it holds afterwards.
using TFileRestoredEvent = std::function<void(TBackupFile& Sender, std::string& Filename,
                                              std::unique_ptr<TFileStream>& Stream)>;
using TBackupErrorEvent =
    std::function<void(TBackupFile& Sender, const int32_t Error, const std::string& ErrString)>;
// The package's header has been read and nothing is written yet: TotalSize
// is what the package says its entries hold. A handler that clears Continue
// ends the restore there (false, nothing shown).
using TPackageSizeEvent =
    std::function<void(TBackupFile& Sender, int32_t TotalSize, bool& Continue)>;

// Raised for a package that cannot be read at all ("Kan ikke lese arkiv") and
// for entry data with a wrong signature ("Feil arkivtype").
class EBackupFileError : public Exception { using Exception::Exception; };

// The error codes a restore ends with, and their texts.
enum : int32_t {
    kErrReadFile = 1,        // writing a package entry out failed
    kErrOverwrite = 2,
    kErrReadArchive = 3,
    kErrWriteArchive = 4,
    kErrArchiveType = 5,
    kErrPackage = 6,         // the package's data is damaged
    kErrTempDir = 7,
    kErrPastTotalSize = 8,   // the entries hold more than the header's TotalSize
};
inline constexpr const char* kCannotReadArchiveText = "Kan ikke lese arkiv";
inline constexpr const char* kWrongArchiveTypeText = "Feil arkivtype";
inline constexpr const char* kInsertDiskText = "Please insert disk %s and click OK to continue.";
// The text of an error code; empty for a code that has none.
std::string BackupErrorText(int32_t code);

class TBackupFile {
public:
    TBackupFile(TPlatform& platform, TUserInterface& ui);
    TBackupFile(const TBackupFile&) = delete;
    TBackupFile& operator=(const TBackupFile&) = delete;

    // --- published properties, in their declaration order ---
    // Always "5.10"; a written value is ignored.
    std::string Version() const { return "5.10"; }
    void SetVersion(const std::string&) {}
    std::string BackupTitle;
    // Switching to bmIncremental from the other mode also sets SetArchiveFlag.
    TBackupMode BackupMode() const { return backupMode_; }
    void SetBackupMode(TBackupMode mode);
    TCompressionLevel CompressionLevel = clFastest;
    TRestoreMode RestoreMode = rmAll;
    int32_t MaxSize = 0;
    bool SetArchiveFlag = false;
    TProgressEvent OnProgress;
    TNeedDiskEvent OnNeedDisk;
    TRestoreFileEvent OnRestoreFile;
    TFileRestoredEvent OnFileRestored;
    TBackupErrorEvent OnError;
    bool RestoreFullPath = false;
    bool SaveFileID = false;
    // BackupTitle, BackupMode, CompressionLevel, MaxSize, SetArchiveFlag and
    // SaveFileID configure writing, which this component does not do; they
    // are kept so that a form can set them.

    TPackageSizeEvent OnPackageSize;
    // Stops a restore before it writes more than the header's TotalSize
    // (code kErrPastTotalSize): the total is the package's word only, and a
    // caller that checked the room for it must not find the drive full.
    bool LimitToTotalSize = false;

    // Restores every package entry of the package file packageName (and its
    // volumes) into destDir. Returns true when the end marker was reached
    // with no error and no cancellation; false, without a word, when no
    // package file exists. Raises EBackupFileError for an unreadable header
    // or a wrong signature of skipped data, and the stream layer's errors for
    // input that ends early (see the error table in backup.cpp).
    bool Restore(const std::string& packageName, const std::string& destDir);
    // Restores the package that starts at the stream's current position, a
    // single volume. The stream stays the caller's. Never raises: any
    // failure gives false.
    bool RestoreFromStream(TStream* stream, const std::string& destDir);
    // As RestoreFromStream, but raises as Restore does, for callers that
    // report the message (the package tool, start-up).
    bool RestoreStream(TStream& stream, const std::string& destDir);
    // As Restore, from volumes the caller has opened and checked (see
    // TOpenVolumes): nothing is opened by name and nobody is asked for a
    // volume; a switch to a volume the caller did not open is damage.
    bool RestoreVolumes(const TOpenVolumes& volumes, const std::string& destDir);
    // Shows the text of an error code, through OnError when assigned.
    void ReportError(int32_t code);

private:
    // The one restore: from the caller's stream, or else from the package file.
    bool RestoreFrom(TStream* stream, const std::string& packageName, const std::string& destDir,
                     const TOpenVolumes* volumes = nullptr);
    void HandleEntry(TPackageReader& reader, const std::string& entryName, int32_t entryDate,
                     const std::string& destDir);
    void SwitchVolume(TPackageReader& reader, const TPackageRecord& record, bool haveEntry);
    void DecompressEntry(TPackageReader& reader, TFileStream* output, bool extract);
    void ReportProgress();
    void FinishOutput(std::unique_ptr<TFileStream>& output, int32_t entryDate);

    TPlatform& platform_;
    TUserInterface& ui_;
    TBackupMode backupMode_ = bmAll;

    // Restore state, kept between the steps of one restore.
    std::string CurrentFile;
    int32_t ErrorCode = 0;
    bool Continue = true;
    int32_t TotalSize = 0;
    int64_t BytesDone = 0;  // wider than TotalSize so a huge package cannot overflow it
    bool DoRestore = true;       // the decision for the entry in progress
    int32_t entryDate_ = 0;      // EntryDate of the entry in progress

    // The two block buffers serve every block of every entry.
    std::unique_ptr<uint8_t[]> inBuffer_;
    std::unique_ptr<uint8_t[]> outBuffer_;
};

// The name under which a restore (without full paths) writes an entry into
// its directory: the part of the stored name after the last \, / or :.
// Empty when that part names no file of its own (empty, or only dots and
// blanks); a restore takes such an entry for damage.
std::string RestoredName(const std::string& entryName);

// Sets the values the wizard form gives its BackupFile1.
void ApplyFormSettings(TBackupFile& backupFile);

}  // namespace oup
