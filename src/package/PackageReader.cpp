#include "package/PackageReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/Errors.h"

namespace oup {

const char kEntrySignature[4] = "EC2";  // with its zero byte
const char* const kVolumeSwitchPrefix = "NEXT:DISK";
const char* const kFileListName = "FILE:LIST";

namespace {
constexpr size_t kVolumeDigits = 3;

size_t PrefixLength() { return std::strlen(kVolumeSwitchPrefix); }
}  // namespace

bool IsVolumeSwitchName(const std::string& name) {
    return name.compare(0, PrefixLength(), kVolumeSwitchPrefix) == 0;
}

std::string VolumeSwitchName(int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", number);
    return kVolumeSwitchPrefix + std::string(digits);
}

namespace {
std::string VolumeExtension(int number) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".%03d", number);
    return ext;
}
}  // namespace

std::string VolumePath(const std::string& firstVolume, int number) {
    return ChangeFileExt(firstVolume, VolumeExtension(number));
}

std::string VolumePath(TPlatform& platform, const std::string& firstVolume, int number) {
    return platform.SiblingPath(firstVolume, VolumeExtension(number));
}

TInflatedBlock InflateBlock(const uint8_t* in, uint32_t length, uint8_t* out) {
    // A block is one complete zlib stream that fits the room. Anything short
    // of its end (a cut stream, one that would need more room, a preset
    // dictionary) is damage.
    TInflatedBlock result;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return result;
    result.Started = true;
    zs.next_in = const_cast<uint8_t*>(in);
    zs.avail_in = length;
    zs.next_out = out;
    zs.avail_out = kPackageBlockSize;
    const int status = inflate(&zs, Z_NO_FLUSH);
    result.Size = kPackageBlockSize - zs.avail_out;
    result.Complete = status == Z_STREAM_END;
    inflateEnd(&zs);
    return result;
}

TPackageReader::TPackageReader(TStream& input, TPlatform* platform, std::string path)
    : input_(&input), platform_(platform), path_(std::move(path)) {}

TPackageReader::TPackageReader(TPlatform& platform, std::string path)
    : input_(nullptr), platform_(&platform), path_(std::move(path)) {
    OpenVolume(path_);
}

TPackageReader::TPackageReader(const TOpenVolumes& volumes)
    : input_(nullptr), platform_(nullptr), volumes_(&volumes) {
    if (!SwitchToOpenVolume(1)) throw Exception("no first volume");
}

TPackageReader::~TPackageReader() = default;

bool TPackageReader::SwitchToOpenVolume(int number) {
    TStream* volume = volumes_ ? volumes_->Find(number) : nullptr;
    if (!volume) return false;
    volume->SetPosition(0);
    input_ = volume;
    haveNext_ = nextMissing_ = false;
    return true;
}

TPackageHeader TPackageReader::ReadHeader(bool withTitle) {
    TPackageHeader header;
    const int32_t titleLength = input_->ReadInt32();
    if (titleLength < 0) throw Exception("negative title length");
    if (!withTitle) {
        if (input_->Seek(titleLength, TSeekOrigin::soCurrent) < 0) throw EReadError(kReadErrorText);
    } else {
        // Read in pieces so that a lying length cannot claim memory it does not back.
        while (header.Title.size() < static_cast<size_t>(titleLength)) {
            const size_t piece =
                std::min<size_t>(static_cast<size_t>(titleLength) - header.Title.size(), 65536);
            std::string part(piece, '\0');
            input_->ReadBuffer(part.data(), piece);
            header.Title += part;
        }
    }
    header.TotalSize = input_->ReadInt32();
    header.FileCount = input_->ReadInt32();
    return header;
}

TPackageRecord TPackageReader::NextRecord() {
    TPackageRecord r;
    r.NameLength = input_->ReadInt32();
    if (r.NameLength == 0) return r;
    if (r.NameLength < 0) {
        r.Kind = TRecordKind::Empty;
        return r;
    }
    // A name past the limit is cut there and the rest passed over, so a
    // lying length never claims memory.
    const size_t wanted = static_cast<size_t>(r.NameLength);
    const size_t kept = std::min(wanted, kMaxEntryName);
    r.Name.assign(kept, '\0');
    input_->ReadBuffer(r.Name.data(), kept);
    r.Overlong = wanted > kept;
    if (r.Overlong && input_->Seek(static_cast<int64_t>(wanted - kept), TSeekOrigin::soCurrent) < 0)
        throw EReadError(kReadErrorText);

    if (IsVolumeSwitchName(r.Name)) {
        r.Kind = TRecordKind::VolumeSwitch;
        r.Digits = r.Name.substr(PrefixLength(), kVolumeDigits);
        if (r.Digits.size() == kVolumeDigits &&
            std::all_of(r.Digits.begin(), r.Digits.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
            r.Volume = std::stoi(r.Digits);
        return r;
    }
    r.Kind = TRecordKind::Entry;
    r.Date = input_->ReadInt32();
    return r;
}

bool TPackageReader::ReadEntrySignature() {
    haveNext_ = nextMissing_ = false;
    char signature[sizeof kEntrySignature];
    input_->ReadBuffer(signature, sizeof signature);
    return std::memcmp(signature, kEntrySignature, sizeof signature) == 0;
}

TPackageBlock TPackageReader::NextBlock() {
    TPackageBlock block;
    if (haveNext_) {
        block.Size = nextSize_;
        haveNext_ = false;
    } else {
        // Raised here, where reading the BlockSize alone would have raised it.
        if (nextMissing_) throw EReadError(kReadErrorText);
        block.Size = input_->ReadInt32();
    }
    block.Length =
        block.Size < 0 ? 0u - static_cast<uint32_t>(block.Size) : static_cast<uint32_t>(block.Size);
    return block;
}

void TPackageReader::ReadBlock(const TPackageBlock& block, uint8_t* buffer) {
    if (block.TooLong()) throw Exception("block longer than the buffer");
    // Every block is followed by another BlockSize (the closing 0 at the
    // latest), so it comes along in the same read.
    const size_t n = block.Length, wanted = n + 4;
    size_t got = 0;
    while (got < wanted) {
        const size_t part = input_->Read(buffer + got, wanted - got);
        if (part == 0) break;
        got += part;
    }
    if (got < n) throw EReadError(kReadErrorText);
    if (got == wanted) {
        const uint8_t* p = buffer + n;
        nextSize_ = static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                         uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        haveNext_ = true;
    } else {
        nextMissing_ = true;
    }
}

void TPackageReader::SkipBlock(const TPackageBlock& block) {
    if (input_->Seek(block.Length, TSeekOrigin::soCurrent) < 0) throw EReadError(kReadErrorText);
}

std::string TPackageReader::NextVolumePath(const TPackageRecord& volumeSwitch) const {
    if (!platform_) return ChangeFileExt(path_, "." + volumeSwitch.Digits);
    return platform_->SiblingPath(path_, "." + volumeSwitch.Digits);
}

void TPackageReader::CloseVolume() {
    file_.reset();
    input_ = nullptr;
}

void TPackageReader::OpenVolume(const std::string& path) {
    if (!platform_) throw Exception("a single-volume package has no further volumes");
    file_ = platform_->OpenFile(path, TOpenMode::ReadShared);
    input_ = file_.get();
    path_ = path;
    haveNext_ = nextMissing_ = false;
}

}  // namespace oup
