// The one reader of the package byte format: the header, the records (entry,
// empty record, volume switch, end), the entry data's blocks within their
// bounds, and the files of further volumes. It decides nothing: the restore
// engine (backup.h) and the tools' listing put their own policy on top, and
// the writer takes the format's names and limits from here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/Stream.h"
#include "platform/Platform.h"

namespace oup {

// --- the format's limits and names ---
inline constexpr size_t kPackageBlockSize = 16384;  // the most a block holds, either way
// A block buffer also takes the BlockSize behind the block (see ReadBlock).
inline constexpr size_t kBlockBufferSize = kPackageBlockSize + 4;
// Longest entry name kept; no Windows path is longer.
inline constexpr size_t kMaxEntryName = 32767;
extern const char kEntrySignature[4];          // the four bytes that open entry data
extern const char* const kVolumeSwitchPrefix;  // a record name that names the next volume
extern const char* const kFileListName;        // an entry carried along, never written out

// Whether a record name is a volume switch.
bool IsVolumeSwitchName(const std::string& name);
// The switch record's name for volume number (2..999).
std::string VolumeSwitchName(int number);
// The file of volume number (2..999) of the package whose first volume is
// firstVolume: update.oup -> update.002.
std::string VolumePath(const std::string& firstVolume, int number);
// The same on the platform's disks, where a first volume reached by its short
// name has a next volume of another short name (TPlatform::SiblingPath).
std::string VolumePath(TPlatform& platform, const std::string& firstVolume, int number);

struct TPackageHeader {
    std::string Title;      // only when asked for
    int32_t TotalSize = 0;  // the progress denominator
    int32_t FileCount = 0;  // nothing checks it
};

enum class TRecordKind { End, Empty, Entry, VolumeSwitch };

struct TPackageRecord {
    TRecordKind Kind = TRecordKind::End;
    int32_t NameLength = 0;
    // The name as stored, cut at kMaxEntryName; Overlong tells that the rest
    // was passed over.
    std::string Name;
    bool Overlong = false;
    int32_t Date = 0;  // EntryDate of an entry
    // A volume switch: the three characters after the prefix, and their
    // number when they are three decimal digits.
    std::string Digits;
    std::optional<int> Volume;
};

struct TPackageBlock {
    int32_t Size = 0;                       // BlockSize as stored
    uint32_t Length = 0;                    // its absolute value
    bool End() const { return Size == 0; }  // the closing BlockSize of the entry data
    bool Compressed() const { return Size > 0; }
    bool TooLong() const { return Length > kPackageBlockSize; }
};

struct TInflatedBlock {
    size_t Size = 0;        // bytes produced, also when the block is damaged
    bool Started = false;   // the inflater could be started
    bool Complete = false;  // the block was one whole zlib stream that fit
};
// Inflates one compressed block of length bytes (at most kPackageBlockSize)
// with a fresh inflater, in one call, into out (kPackageBlockSize bytes).
TInflatedBlock InflateBlock(const uint8_t* in, uint32_t length, uint8_t* out);

// The volumes of a package that a caller has opened (and checked) before the
// restore, by number: 1 the first, then as the volume switches name them.
// Each is read from its start; the streams stay the caller's.
class TOpenVolumes {
public:
    void Add(int number, TStream& stream) { volumes_[number] = &stream; }
    TStream* Find(int number) const {
        const auto it = volumes_.find(number);
        return it == volumes_.end() ? nullptr : it->second;
    }

private:
    std::map<int, TStream*> volumes_;
};

class TPackageReader {
public:
    // Reads input from its current position; input stays the caller's. With
    // a platform and the path of input's file, a volume switch can go on in
    // the next volume's file; without, the package is a single volume.
    explicit TPackageReader(TStream& input, TPlatform* platform = nullptr, std::string path = {});
    // Opens the package file at path (reading, others may read and write)
    // and reads it from the start. Raises EFOpenError.
    TPackageReader(TPlatform& platform, std::string path);
    // Reads the first of the caller's open volumes from its start; a volume
    // switch goes on in another of them and never opens a file. Raises
    // Exception when there is no first volume.
    explicit TPackageReader(const TOpenVolumes& volumes);
    TPackageReader(const TPackageReader&) = delete;
    TPackageReader& operator=(const TPackageReader&) = delete;
    ~TPackageReader();

    // The header. The title is read only when asked for, else passed over.
    // Raises Exception for a negative title length, EReadError when the
    // header ends early.
    TPackageHeader ReadHeader(bool withTitle);
    // The next record. Raises EReadError when it ends early.
    TPackageRecord NextRecord();
    // Reads the four bytes that open entry data; whether they are the
    // signature.
    bool ReadEntrySignature();
    // The next BlockSize of the entry data.
    TPackageBlock NextBlock();
    // Reads the block's bytes into buffer (kBlockBufferSize bytes) together
    // with the BlockSize behind them, so a block costs one read. Raises
    // EReadError when the block ends early, and when the BlockSize behind it
    // is missing, at the NextBlock that wants it. The block must not be too long.
    void ReadBlock(const TPackageBlock& block, uint8_t* buffer);
    // Passes over the block's bytes by moving the position.
    void SkipBlock(const TPackageBlock& block);

    // Whether a volume switch can be followed: the reader knows its files.
    bool CanSwitchVolume() const {
        return volumes_ != nullptr || (platform_ != nullptr && !path_.empty());
    }
    // Whether the volumes were opened by the caller (see TOpenVolumes).
    bool HasOpenVolumes() const { return volumes_ != nullptr; }
    // Goes on reading, from its start, in the caller's volume of this number;
    // false when the caller opened none of that number.
    bool SwitchToOpenVolume(int number);
    // The file of the volume a switch record names, beside the current one.
    std::string NextVolumePath(const TPackageRecord& volumeSwitch) const;
    // Closes the volume file the reader opened; a caller's stream stays open.
    // Nothing can be read until OpenVolume.
    void CloseVolume();
    // Goes on reading in the volume file at path. Raises EFOpenError.
    void OpenVolume(const std::string& path);

private:
    TStream* input_;
    std::unique_ptr<TFileStream> file_;  // the volume file the reader opened
    TPlatform* platform_;
    std::string path_;  // the current volume's file; empty for a lone stream
    const TOpenVolumes* volumes_ = nullptr;  // the caller's, when it opened them
    // The BlockSize read along with the last block.
    int32_t nextSize_ = 0;
    bool haveNext_ = false;
    bool nextMissing_ = false;
};

}  // namespace oup
