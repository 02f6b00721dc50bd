// The restore engine. How a restore ends, by situation:
//
//   no package file                          false, nothing shown
//   package file unopenable / header short   EBackupFileError "Kan ikke lese arkiv"
//   entry being written: bad signature,
//     data ends early, output not creatable,
//     output write fails                     code 1, shown at the end, false
//   damaged block (inflate fails, block too
//     long or inflating past 16384 bytes),
//     entry name that leaves the target dir  code 6, shown at the end, false
//   output directory not creatable           entry skipped, restore goes on
//   output path without a directory          EInOutError "Unable to create directory"
//   skipped data / continuation volume with
//     a bad signature                        EBackupFileError "Feil arkivtype"
//   input ends inside a record or skipped
//     data, or in a continuation volume      EReadError from the stream layer
//   cancelled at the volume prompt or by a
//     handler                                false, nothing shown
#include "package/backup.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/Errors.h"
#include "package/PackageFormat.h"

namespace oup {

namespace {

// Longest entry name kept; no Windows path is longer. The rest of a longer
// name is passed over and the entry is treated as damaged.
constexpr size_t kMaxEntryName = 32767;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A name part that would not name a file of its own inside the target
// directory: empty, or only dots and spaces ("." and ".." above all, and the
// forms Windows trims down to them).
bool IsUnsafeName(const std::string& part) {
    return part.find_first_not_of(". ") == std::string::npos;
}

// The output path of an entry, or false when the entry's name would put the
// file anywhere but inside destDir (destDir ends with a backslash or is empty).
bool OutputPath(const std::string& entryName, const std::string& destDir, bool fullPath,
                std::string& out) {
    const size_t lastSep = entryName.find_last_of("\\/:");
    const std::string namePart =
        lastSep == std::string::npos ? entryName : entryName.substr(lastSep + 1);
    if (IsUnsafeName(namePart)) return false;
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

// Reads an entry name of the given length. A name past kMaxEntryName is cut
// there, the rest passed over, and overlong set.
std::string ReadEntryName(TStream& input, int32_t length, bool& overlong) {
    const size_t wanted = static_cast<size_t>(length);
    const size_t kept = std::min(wanted, kMaxEntryName);
    std::string name(kept, '\0');
    input.ReadBuffer(name.data(), kept);
    overlong = wanted > kept;
    if (overlong && input.Seek(static_cast<int64_t>(wanted - kept), TSeekOrigin::soCurrent) < 0)
        throw EReadError(kReadErrorText);
    return name;
}

}  // namespace

std::string BackupErrorText(int32_t code) {
    switch (code) {
        case kErrReadFile: return "Kan ikke lese fil";
        case kErrOverwrite: return "Overwriting file failed";
        case kErrReadArchive: return kCannotReadArchiveText;
        case kErrWriteArchive: return "Kan ikke skrive til arkiv";
        case kErrArchiveType: return kWrongArchiveTypeText;
        case kErrPackage: return "Feil i pakke";
        case kErrTempDir: return "Kan ikke lage temper\xE6r katalog";  // "temperær", ANSI
        default: return std::string();
    }
}

// The input of a restore: the caller's stream, or the package file of the
// volume being read (which a volume switch replaces).
struct TBackupFile::TVolumeInput {
    std::unique_ptr<TFileStream> File;
    TStream* Stream = nullptr;
    std::string Path;  // empty in stream mode
};

TBackupFile::TBackupFile(TPlatform& platform, TUserInterface& ui)
    : platform_(platform),
      ui_(ui),
      inBuffer_(new uint8_t[kPackageBlockSize + 4]),  // a block and the BlockSize behind it
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
    // The stream is borrowed for this one restore only.
    struct TForget {
        TStream*& s;
        ~TForget() { s = nullptr; }
    } forget{SourceStream};
    SourceStream = &stream;
    return Restore(kStreamPackageName, destDir);
}

bool TBackupFile::Restore(const std::string& packageName, const std::string& destDirIn) {
    std::string destDir = destDirIn;
    if (!destDir.empty() && destDir.back() != '\\') destDir += '\\';
    const bool streamMode = packageName == kStreamPackageName;
    ErrorCode = 0;
    Continue = true;

    TVolumeInput input;
    try {
        if (streamMode) {
            if (!SourceStream) throw EBackupFileError(kCannotReadArchiveText);
            input.Stream = SourceStream;
        } else {
            if (!platform_.FileExists(packageName)) return false;
            input.File = platform_.OpenFile(packageName, TOpenMode::ReadShared);
            input.Stream = input.File.get();
            input.Path = packageName;
        }
        const int32_t titleLength = input.Stream->ReadInt32();
        if (titleLength < 0) throw EReadError(kReadErrorText);
        // The title is of no use here; pass over it.
        if (input.Stream->Seek(titleLength, TSeekOrigin::soCurrent) < 0)
            throw EReadError(kReadErrorText);
        TotalSize = input.Stream->ReadInt32();
        input.Stream->ReadInt32();  // FileCount: nothing checks it
    } catch (const std::exception&) {
        throw EBackupFileError(kCannotReadArchiveText);
    }
    BytesDone = 0;
    DoRestore = true;
    CurrentFile.clear();
    entryDate_ = 0;

    bool haveEntry = false;  // a volume switch continues the entry in progress, if any
    int32_t nameLength;
    do {
        nameLength = input.Stream->ReadInt32();
        if (nameLength > 0) {
            bool overlong = false;
            const std::string entryName = ReadEntryName(*input.Stream, nameLength, overlong);
            if (StartsWith(entryName, kVolumeSwitchPrefix)) {
                SwitchVolume(input, entryName, haveEntry);
            } else {
                const int32_t entryDate = input.Stream->ReadInt32();
                HandleEntry(*input.Stream, overlong ? std::string() : entryName, entryDate,
                            destDir);
                haveEntry = true;
            }
        }
    } while (nameLength != 0 && Continue);
    input.File.reset();

    const bool result = ErrorCode == 0 && Continue;
    if (OnProgress) OnProgress(*this, std::string(), 100, Continue);
    if (ErrorCode != 0) ReportError(ErrorCode);
    return result;
}

void TBackupFile::HandleEntry(TStream& input, const std::string& entryName, int32_t entryDate,
                              const std::string& destDir) {
    entryDate_ = entryDate;
    const bool fileList = entryName == kFileListName;
    std::string path;
    if (fileList) {
        path = destDir.empty() ? entryName : destDir + ExtractFileName(entryName);
    } else if (!OutputPath(entryName, destDir, RestoreFullPath, path)) {
        // A name that would write outside the target: nothing is written,
        // the data is passed over and the package counts as damaged.
        DoRestore = false;
        DecompressEntry(input, nullptr, false);
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
        DecompressEntry(input, nullptr, false);
        return;
    }
    std::unique_ptr<TFileStream> output;
    try {
        output = platform_.OpenFile(CurrentFile, TOpenMode::Create);
        DecompressEntry(input, output.get(), true);
    } catch (...) {
        ErrorCode = kErrReadFile;
        Continue = false;
    }
    if (output) FinishOutput(output, entryDate);
}

void TBackupFile::SwitchVolume(TVolumeInput& input, const std::string& entryName, bool haveEntry) {
    const std::string digits = entryName.substr(std::strlen(kVolumeSwitchPrefix), 3);
    const bool wellFormed = digits.size() == 3 && std::all_of(digits.begin(), digits.end(), [](char c) {
                                return c >= '0' && c <= '9';
                            });
    // A stream holds one volume only, and a switch needs three digits to name
    // the next one; anything else is a damaged package.
    if (input.Path.empty() || !wellFormed) {
        ErrorCode = kErrPackage;
        Continue = false;
        return;
    }
    input.File.reset();
    input.Stream = nullptr;

    const size_t firstDigit = digits.find_first_not_of('0');
    const std::string number = firstDigit == std::string::npos ? std::string() : digits.substr(firstDigit);
    const auto diskId = static_cast<uint16_t>(std::stoi(digits));
    // Asked at least once, even when the next volume is already there.
    do {
        if (OnNeedDisk) {
            OnNeedDisk(*this, diskId, Continue);
        } else {
            Continue = ui_.MessageBox(FormatMessage(kInsertDiskText, {number}), "Information",
                                      TMsgKind::Information,
                                      TMsgButtons::OkCancel) == TMsgResult::Ok;
        }
        input.Path = ChangeFileExt(input.Path, "." + digits);
    } while (!platform_.FileExists(input.Path) && Continue);
    if (!Continue) return;

    input.File = platform_.OpenFile(input.Path, TOpenMode::ReadShared);
    input.Stream = input.File.get();
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
    DecompressEntry(*input.Stream, output.get(), extract);
    if (output) FinishOutput(output, entryDate_);
}

void TBackupFile::FinishOutput(std::unique_ptr<TFileStream>& output, int32_t entryDate) {
    if (OnFileRestored) OnFileRestored(*this, CurrentFile, output);
    if (output) output->SetLastWriteDos(entryDate);
    output.reset();
}

void TBackupFile::DecompressEntry(TStream& input, TFileStream* output, bool extract) {
    uint8_t signature[4];
    input.ReadBuffer(signature, sizeof signature);
    if (std::memcmp(signature, kEntrySignature, sizeof signature) != 0)
        throw EBackupFileError(kWrongArchiveTypeText);
    if (!output) extract = false;

    // Every block is followed by another BlockSize (the closing 0 at the
    // latest), so a block is read together with the next BlockSize: one read
    // instead of two. When those 4 bytes are missing the failure is raised
    // where reading them alone would have raised it.
    int32_t nextSize = 0;
    bool haveNext = false, nextMissing = false;
    int32_t blockSize = -1;
    while (blockSize != 0 && Continue) {
        if (haveNext) {
            blockSize = nextSize;
            haveNext = false;
        } else {
            if (nextMissing) throw EReadError(kReadErrorText);
            blockSize = input.ReadInt32();
        }
        size_t written = 0;
        if (blockSize != 0) {
            const uint32_t n =
                blockSize < 0 ? 0u - static_cast<uint32_t>(blockSize) : static_cast<uint32_t>(blockSize);
            if (n > kPackageBlockSize) {
                // Larger than the buffers: the package is damaged.
                ErrorCode = kErrPackage;
                Continue = false;
            } else if (!extract) {
                if (input.Seek(n, TSeekOrigin::soCurrent) < 0) throw EReadError(kReadErrorText);
            } else {
                uint8_t* in = inBuffer_.get();
                size_t got = 0;
                while (got < n + 4) {
                    const size_t part = input.Read(in + got, n + 4 - got);
                    if (part == 0) break;
                    got += part;
                }
                if (got < n) throw EReadError(kReadErrorText);
                if (got == n + 4) {
                    nextSize = static_cast<int32_t>(uint32_t(in[n]) | uint32_t(in[n + 1]) << 8 |
                                                    uint32_t(in[n + 2]) << 16 | uint32_t(in[n + 3]) << 24);
                    haveNext = true;
                } else {
                    nextMissing = true;
                }
                const uint8_t* data = in;
                written = n;
                if (blockSize > 0) {
                    data = outBuffer_.get();
                    written = InflateBlock(n);
                }
                // A short write would leave a cut file behind a success.
                output->WriteBuffer(data, written);
            }
        }
        ui_.ProcessMessages();
        if (output) {
            BytesDone += static_cast<int64_t>(written);
            ReportProgress();
        }
    }
}

size_t TBackupFile::InflateBlock(uint32_t n) {
    // A fresh inflater per block, one call, 16384 bytes of room: a block is
    // one complete zlib stream that fits. Anything short of its end (a cut
    // stream, one that would need more room, a preset dictionary) is damage.
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) {
        ErrorCode = kErrPackage;
        Continue = false;
        return 0;
    }
    zs.next_in = inBuffer_.get();
    zs.avail_in = n;
    zs.next_out = outBuffer_.get();
    zs.avail_out = kPackageBlockSize;
    const int result = inflate(&zs, Z_NO_FLUSH);
    const size_t produced = kPackageBlockSize - zs.avail_out;
    inflateEnd(&zs);
    if (result != Z_STREAM_END) {
        ErrorCode = kErrPackage;
        Continue = false;
    }
    return produced;
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
