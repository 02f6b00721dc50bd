#include "package/PackageWriter.h"

#include <zlib.h>

#include <climits>

#include "common/Errors.h"
#include "common/Text.h"
#include "package/PackageReader.h"

namespace oup {

namespace {
constexpr int kMaxVolumes = 999;  // three digits name the next volume

// Fills buffer from the stream as far as it goes; returns the bytes read.
size_t ReadChunk(TStream& in, uint8_t* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const size_t got = in.Read(buffer + done, size - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// Room kept at the end of a volume: a closing BlockSize 0 and a switch
// record (NameLength and the name).
size_t CloseRoom() {
    static const size_t room = 4 + 4 + VolumeSwitchName(kMaxVolumes).size();
    return room;
}
}  // namespace

TPackageWriter::TPackageWriter(TPlatform& platform, const std::string& path,
                               TPackageWriterOptions options)
    : platform_(platform), path_(path), options_(std::move(options)) {
    if (options_.Title.size() > INT32_MAX) throw Exception("title too long");
    out_ = platform_.OpenFile(path_, TOpenMode::Create);
    volumes_.push_back(path_);
    PutInt32(static_cast<int32_t>(options_.Title.size()));
    Put(options_.Title.data(), options_.Title.size());
    PutInt32(0);  // TotalSize and FileCount: filled in by Finish
    PutInt32(0);
    if (options_.VolumeSize > 0 && used_ + static_cast<int64_t>(CloseRoom()) > options_.VolumeSize)
        throw Exception("volume size " + std::to_string(options_.VolumeSize) +
                        " is too small for the package header");
    block_.resize(compressBound(kPackageBlockSize));
}

TPackageWriter::~TPackageWriter() = default;

void TPackageWriter::Put(const void* data, size_t count) {
    out_->WriteBuffer(data, count);
    used_ += static_cast<int64_t>(count);
}

void TPackageWriter::PutInt32(int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Put(b, 4);
}

void TPackageWriter::Reserve(size_t count, bool insideEntry) {
    if (options_.VolumeSize <= 0) return;
    const auto fits = [&] {
        return used_ + static_cast<int64_t>(count + CloseRoom()) <= options_.VolumeSize;
    };
    if (fits()) return;
    NextVolume(insideEntry);
    if (!fits())
        throw Exception("volume size " + std::to_string(options_.VolumeSize) +
                        " is too small for a record of " + std::to_string(count) + " bytes");
}

void TPackageWriter::NextVolume(bool insideEntry) {
    const int number = static_cast<int>(volumes_.size()) + 1;
    if (number > kMaxVolumes) throw Exception("a package cannot have more than 999 volumes");
    // This volume's part of the entry data ends here; the switch record
    // names the next volume, which goes on with entry data.
    if (insideEntry) PutInt32(0);
    const std::string name = VolumeSwitchName(number);
    PutInt32(static_cast<int32_t>(name.size()));
    Put(name.data(), name.size());
    const std::string next = VolumePath(path_, number);
    // A first volume named like a continuation (x.002) would be its own
    // second volume, and creating that would wipe what is written so far.
    if (AsciiUpperCase(next) == AsciiUpperCase(path_))
        throw Exception("volume " + std::to_string(number) + " of " + path_ +
                        " would be the package itself: give a package that is split into "
                        "volumes another extension than three digits");
    out_.reset();
    out_ = platform_.OpenFile(next, TOpenMode::Create);
    volumes_.push_back(next);
    used_ = 0;
    Put(kEntrySignature, 4);
    if (!insideEntry) PutInt32(0);  // split between files: no data to continue
}

void TPackageWriter::AddFile(const std::string& path) {
    auto in = platform_.OpenFile(path, TOpenMode::ReadShared);
    const int32_t date = platform_.FileAge(path);
    if (date == -1) throw Exception("cannot read the last-write time of " + path);
    AddEntry(path, date, *in);
}

void TPackageWriter::AddEntry(const std::string& entryName, int32_t entryDate, TStream& content) {
    if (entryName.empty() || IsVolumeSwitchName(entryName) || entryName == kFileListName)
        throw Exception("\"" + entryName + "\" cannot name a file in a package");
    WriteEntry(entryName, entryDate, content, true);
}

void TPackageWriter::AddFileList(const std::string& content, int32_t entryDate) {
    TMemoryStream s(std::vector<uint8_t>(content.begin(), content.end()));
    // Never written out, so it does not count towards the progress total.
    WriteEntry(kFileListName, entryDate, s, false);
}

void TPackageWriter::AddEmptyRecord(int32_t nameLength) {
    if (nameLength >= 0) throw Exception("an empty record has a negative NameLength");
    Reserve(4, false);
    PutInt32(nameLength);
}

void TPackageWriter::WriteEntry(const std::string& entryName, int32_t entryDate, TStream& content,
                                bool countsInTotal) {
    if (finished_) throw Exception("package already finished");
    if (entryName.size() > kMaxEntryName)
        throw Exception("entry name longer than " + std::to_string(kMaxEntryName) + " bytes");
    Reserve(4 + entryName.size() + 4 + 4, false);
    PutInt32(static_cast<int32_t>(entryName.size()));
    Put(entryName.data(), entryName.size());
    PutInt32(entryDate);
    Put(kEntrySignature, 4);

    uint8_t chunk[kPackageBlockSize];
    for (;;) {
        const size_t n = ReadChunk(content, chunk, sizeof chunk);
        if (n == 0) break;
        uLongf packed = static_cast<uLongf>(block_.size());
        const int rc = compress2(block_.data(), &packed, chunk, static_cast<uLong>(n),
                                 options_.CompressionLevel);
        if (rc != Z_OK) throw Exception("compression failed");
        // A stream that would not fit the reader's block buffer is stored as it is.
        const bool stored = packed > kPackageBlockSize;
        const size_t length = stored ? n : packed;
        Reserve(4 + length, true);
        PutInt32(stored ? -static_cast<int32_t>(n) : static_cast<int32_t>(packed));
        Put(stored ? chunk : block_.data(), length);
        if (countsInTotal) totalSize_ += static_cast<int64_t>(n);
        if (n < sizeof chunk) break;
    }
    PutInt32(0);
    ++fileCount_;
}

std::vector<std::string> TPackageWriter::Finish() {
    if (finished_) return volumes_;
    PutInt32(0);  // end marker
    // The header's totals: the progress denominator saturates for packages
    // past what 32 bits can count.
    std::unique_ptr<TFileStream> first;
    if (volumes_.size() == 1) {
        first = std::move(out_);
    } else {
        out_.reset();
        first = platform_.OpenFile(volumes_.front(), TOpenMode::ReadWriteShared);
    }
    first->SetPosition(4 + static_cast<int64_t>(options_.Title.size()));
    first->WriteInt32(static_cast<int32_t>(std::min<int64_t>(totalSize_, INT32_MAX)));
    first->WriteInt32(fileCount_);
    first.reset();
    finished_ = true;
    return volumes_;
}

}  // namespace oup
