// The restore engine. How a restore ends, by situation:
//
//   no package file                          false, nothing shown
//   package file unopenable / header short   EBackupFileError "Kan ikke lese arkiv"
//   entry being written: bad signature,
//     data ends early, output not creatable,
//     output write fails                     code 1, shown at the end, false
//   damaged block (inflate fails, block too
//     long or inflating past 16384 bytes),
//     entry name that leaves the target dir,
//     a switch to a volume the caller did
//     not open (RestoreVolumes)              code 6, shown at the end, false
//   output directory not creatable           entry skipped, restore goes on
//   output path without a directory          EInOutError "Unable to create directory"
//   skipped data / continuation volume with
//     a bad signature                        EBackupFileError "Feil arkivtype"
//   input ends inside a record or skipped
//     data, or in a continuation volume      EReadError from the stream layer
//   cancelled at the volume prompt or by a
//     handler (OnPackageSize too)            false, nothing shown
//   LimitToTotalSize, and a block would take
//     the bytes written past TotalSize       code 8, shown at the end, false
//     (the block is not written)
#include "package/backup.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/Errors.h"
#include "common/Paths.h"
#include "package/PackageReader.h"

namespace oup {

namespace {

// A name part that would not name a file of its own inside the target
// directory: empty, only dots and spaces ("." and ".." above all, and the
// forms Windows trims down to them), a device (NUL, COM1, which a write
// would reach instead of a file, or wait on), or characters no file name has.
bool IsUnsafeName(const std::string& part) { return !IsPlainFileName(part); }

// The output path of an entry, or false when the entry's name would put the
// file anywhere but inside destDir (destDir ends with a backslash or is empty).
bool OutputPath(const std::string& entryName, const std::string& destDir, bool fullPath,
                std::string& out) {
    const std::string namePart = RestoredName(entryName);
    if (namePart.empty()) return false;
    if (destDir.empty()) {
        out = entryName;
        return true;
    }
    if (!fullPath) {
        out = destDir + namePart;
        return true;
    }
    // Drop the drive part ("c:\"), whatever the three characters are, and
    // keep the rest below destDir: no part may climb out or name a drive.
    std::string rel = entryName.size() > 3 ? entryName.substr(3) : std::string();
    std::replace(rel.begin(), rel.end(), '/', '\\');
    rel.erase(0, rel.find_first_not_of('\\') == std::string::npos ? rel.size()
                                                                   : rel.find_first_not_of('\\'));
    if (rel.empty()) return false;
    size_t start = 0;
    for (;;) {
        const size_t end = rel.find('\\', start);
        const std::string part = rel.substr(start, end == std::string::npos ? end : end - start);
        const bool last = end == std::string::npos;
        if (part.find(':') != std::string::npos) return false;
        if (!part.empty() && IsUnsafeName(part)) return false;
        if (last) {
            if (part.empty()) return false;
            break;
        }
        start = end + 1;
    }
    out = destDir + rel;
    return true;
}

}  // namespace

std::string RestoredName(const std::string& entryName) {
    const size_t lastSep = entryName.find_last_of("\\/:");
    std::string namePart = lastSep == std::string::npos ? entryName : entryName.substr(lastSep + 1);
    return IsUnsafeName(namePart) ? std::string() : namePart;
}

std::string BackupErrorText(int32_t code) {
    switch (code) {
        case kErrReadFile: return "Kan ikke lese fil";
        case kErrOverwrite: return "Overwriting file failed";
        case kErrReadArchive: return kCannotReadArchiveText;
        case kErrWriteArchive: return "Kan ikke skrive til arkiv";
        case kErrArchiveType: return kWrongArchiveTypeText;
        case kErrPackage: return "Feil i pakke";
        case kErrTempDir: return "Kan ikke lage temper\xE6r katalog";  // "temperær", ANSI
        case kErrPastTotalSize:
            return "The package holds more data than its header announces";
        default: return std::string();
    }
}

TBackupFile::TBackupFile(TPlatform& platform, TUserInterface& ui)
    : platform_(platform),
      ui_(ui),
      inBuffer_(new uint8_t[kBlockBufferSize]),
      outBuffer_(new uint8_t[kPackageBlockSize]) {}

void TBackupFile::SetBackupMode(TBackupMode mode) {
    if (mode == backupMode_) return;
    if (mode == bmIncremental) SetArchiveFlag = true;
    backupMode_ = mode;
}

void ApplyFormSettings(TBackupFile& b) {
    b.SetVersion("5.10");
    b.BackupTitle.clear();
    b.SetBackupMode(bmAll);
    b.CompressionLevel = clMax;
    b.RestoreMode = rmAll;
    b.MaxSize = 0;
    b.SetArchiveFlag = false;
    b.RestoreFullPath = false;
    b.SaveFileID = false;
}

bool TBackupFile::RestoreFromStream(TStream* stream, const std::string& destDir) {
    if (!stream) return false;
    try {
        return RestoreStream(*stream, destDir);
    } catch (...) {
        return false;
    }
}

bool TBackupFile::RestoreStream(TStream& stream, const std::string& destDir) {
    return RestoreFrom(&stream, std::string(), destDir);
}

bool TBackupFile::Restore(const std::string& packageName, const std::string& destDir) {
    return RestoreFrom(nullptr, packageName, destDir);
}

bool TBackupFile::RestoreVolumes(const TOpenVolumes& volumes, const std::string& destDir) {
    return RestoreFrom(nullptr, std::string(), destDir, &volumes);
}

bool TBackupFile::RestoreFrom(TStream* stream, const std::string& packageName,
                              const std::string& destDirIn, const TOpenVolumes* volumes) {
    std::string destDir = destDirIn;
    if (!destDir.empty() && destDir.back() != '\\') destDir += '\\';
    ErrorCode = 0;
    Continue = true;

    std::optional<TPackageReader> reader;
    try {
        if (stream) {
            reader.emplace(*stream);  // one volume, the caller's
        } else if (volumes) {
            reader.emplace(*volumes);
        } else {
            if (!platform_.FileExists(packageName)) return false;
            reader.emplace(platform_, packageName);
        }
        TotalSize = reader->ReadHeader(false).TotalSize;  // the title is of no use here
    } catch (const std::exception&) {
        throw EBackupFileError(kCannotReadArchiveText);
    }
    BytesDone = 0;
    DoRestore = true;
    CurrentFile.clear();
    entryDate_ = 0;
    if (OnPackageSize) {
        OnPackageSize(*this, TotalSize, Continue);
        if (!Continue) return false;
    }

    bool haveEntry = false;  // a volume switch continues the entry in progress, if any
    TPackageRecord record;
    do {
        record = reader->NextRecord();
        if (record.Kind == TRecordKind::VolumeSwitch) {
            SwitchVolume(*reader, record, haveEntry);
        } else if (record.Kind == TRecordKind::Entry) {
            // A name cut at the limit is damage; without a name the entry is passed over.
            HandleEntry(*reader, record.Overlong ? std::string() : record.Name, record.Date,
                        destDir);
            haveEntry = true;
        }
    } while (record.Kind != TRecordKind::End && Continue);
    reader.reset();  // the package file is closed before the closing events

    const bool result = ErrorCode == 0 && Continue;
    if (OnProgress) OnProgress(*this, std::string(), 100, Continue);
    if (ErrorCode != 0) ReportError(ErrorCode);
    return result;
}

void TBackupFile::HandleEntry(TPackageReader& reader, const std::string& entryName,
                              int32_t entryDate, const std::string& destDir) {
    entryDate_ = entryDate;
    const bool fileList = entryName == kFileListName;
    std::string path;
    if (fileList) {
        path = destDir.empty() ? entryName : destDir + ExtractFileName(entryName);
    } else if (!OutputPath(entryName, destDir, RestoreFullPath, path)) {
        // A name that would write outside the target: nothing is written,
        // the data is passed over and the package counts as damaged.
        DoRestore = false;
        DecompressEntry(reader, nullptr, false);
        ErrorCode = kErrPackage;
        Continue = false;
        return;
    }
    CurrentFile = path;

    const int32_t age = platform_.FileAge(CurrentFile);
    const bool exists = age != -1;
    switch (RestoreMode) {
        case rmAll: DoRestore = true; break;
        case rmNoOverwrite: DoRestore = !exists; break;
        case rmNewer: DoRestore = !exists || age < entryDate; break;
        case rmExisting: DoRestore = exists; break;
        case rmExistingNewer: DoRestore = exists && age < entryDate; break;
    }

    if (fileList) DoRestore = false;
    else if (OnRestoreFile) OnRestoreFile(*this, CurrentFile, entryDate, DoRestore);

    // A directory that cannot be made skips the entry quietly; a path with
    // no directory at all raises.
    if (DoRestore) DoRestore = platform_.ForceDirectories(ExtractFilePath(CurrentFile));

    if (!DoRestore) {
        DecompressEntry(reader, nullptr, false);
        return;
    }
    std::unique_ptr<TFileStream> output;
    try {
        output = platform_.OpenFile(CurrentFile, TOpenMode::Create);
        DecompressEntry(reader, output.get(), true);
    } catch (...) {
        ErrorCode = kErrReadFile;
        Continue = false;
    }
    if (output) FinishOutput(output, entryDate);
}

void TBackupFile::SwitchVolume(TPackageReader& reader, const TPackageRecord& record,
                               bool haveEntry) {
    // A stream holds one volume only, and a switch needs three digits to name
    // the next one; anything else is a damaged package.
    if (!reader.CanSwitchVolume() || !record.Volume) {
        ErrorCode = kErrPackage;
        Continue = false;
        return;
    }
    if (reader.HasOpenVolumes()) {
        // Opened and checked before the restore began: there is nothing to
        // ask for, and a volume outside them was never checked.
        if (!reader.SwitchToOpenVolume(*record.Volume)) {
            ErrorCode = kErrPackage;
            Continue = false;
            return;
        }
    } else {
        reader.CloseVolume();

        const size_t firstDigit = record.Digits.find_first_not_of('0');
        const std::string number =
            firstDigit == std::string::npos ? std::string() : record.Digits.substr(firstDigit);
        const auto diskId = static_cast<uint16_t>(*record.Volume);
        std::string next;
        // Asked at least once, even when the next volume is already there.
        // The path is formed after each answer: a volume reached by its short
        // name has one only once it is there.
        do {
            if (OnNeedDisk) {
                OnNeedDisk(*this, diskId, Continue);
            } else {
                Continue = ui_.MessageBox(FormatMessage(kInsertDiskText, {number}), "Information",
                                          TMsgKind::Information,
                                          TMsgButtons::OkCancel) == TMsgResult::Ok;
            }
            next = reader.NextVolumePath(record);
        } while (!platform_.FileExists(next) && Continue);
        if (!Continue) return;

        reader.OpenVolume(next);
    }
    // Before any entry there is nothing to continue: the data is passed over.
    const bool extract = DoRestore && haveEntry;
    std::unique_ptr<TFileStream> output;
    if (extract) {
        output = platform_.OpenFile(CurrentFile, TOpenMode::ReadWriteShared);
        // Anywhere but the end, the rest would overwrite the entry's start.
        if (output->Seek(0, TSeekOrigin::soEnd) < 0) {
            ErrorCode = kErrReadFile;
            Continue = false;
            FinishOutput(output, entryDate_);
            return;
        }
    }
    DecompressEntry(reader, output.get(), extract);
    if (output) FinishOutput(output, entryDate_);
}

void TBackupFile::FinishOutput(std::unique_ptr<TFileStream>& output, int32_t entryDate) {
    if (OnFileRestored) OnFileRestored(*this, CurrentFile, output);
    if (output) output->SetLastWriteDos(entryDate);
    output.reset();
}

void TBackupFile::DecompressEntry(TPackageReader& reader, TFileStream* output, bool extract) {
    if (!reader.ReadEntrySignature()) throw EBackupFileError(kWrongArchiveTypeText);
    if (!output) extract = false;

    TPackageBlock block;
    block.Size = -1;  // before the first block only Continue is asked
    while (!block.End() && Continue) {
        block = reader.NextBlock();
        size_t written = 0;
        if (!block.End()) {
            if (block.TooLong()) {
                // Larger than the buffers: the package is damaged.
                ErrorCode = kErrPackage;
                Continue = false;
            } else if (!extract) {
                reader.SkipBlock(block);
            } else {
                reader.ReadBlock(block, inBuffer_.get());
                const uint8_t* data = inBuffer_.get();
                written = block.Length;
                if (block.Compressed()) {
                    const TInflatedBlock inflated =
                        InflateBlock(inBuffer_.get(), block.Length, outBuffer_.get());
                    if (!inflated.Complete) {
                        ErrorCode = kErrPackage;
                        Continue = false;
                    }
                    data = outBuffer_.get();
                    written = inflated.Size;
                }
                if (LimitToTotalSize &&
                    BytesDone + static_cast<int64_t>(written) > std::max<int64_t>(TotalSize, 0)) {
                    ErrorCode = kErrPastTotalSize;
                    Continue = false;
                    written = 0;
                } else {
                    // A short write would leave a cut file behind a success.
                    output->WriteBuffer(data, written);
                }
            }
        }
        ui_.ProcessMessages();
        if (output) {
            BytesDone += static_cast<int64_t>(written);
            ReportProgress();
        }
    }
}

void TBackupFile::ReportProgress() {
    if (!OnProgress) return;
    // A package whose entries are all empty has nothing to divide by: it is
    // done. A header that understates the total never reports past 100.
    double percent = 100.0;
    if (TotalSize > 0) {
        percent = std::nearbyint(static_cast<double>(BytesDone) / TotalSize * 100.0);
        percent = std::clamp(percent, 0.0, 100.0);
    }
    OnProgress(*this, CurrentFile, static_cast<TPercentage>(percent), Continue);
}

void TBackupFile::ReportError(int32_t code) {
    const std::string text = BackupErrorText(code);
    if (OnError) OnError(*this, code, text);
    else ui_.MessageBox(text, "Error", TMsgKind::Error, TMsgButtons::Ok);
}

}  // namespace oup
