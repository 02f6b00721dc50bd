#include "package/PackageFormat.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Errors.h"
#include "package/backup.h"

namespace oup {

namespace {

// Offsets in the PE headers.
constexpr int64_t kPeOffsetField = 0x3C;          // in the DOS header
constexpr int64_t kNumberOfSections = 6;          // past the PE signature
constexpr int64_t kSectionTable = 4 + 20 + 224;   // signature, file header, PE32 optional header
constexpr int64_t kSectionHeaderSize = 40;
constexpr int64_t kSizeOfRawData = 16;            // in a section header; PointerToRawData follows
// The loader always maps at least the first page of an image, headers and all.
constexpr size_t kMappedHeaderBytes = 4096;

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads count bytes at an absolute offset; false when they are not all there.
bool ReadAt(TStream& s, int64_t offset, void* buffer, size_t count) {
    if (s.Seek(offset, TSeekOrigin::soBeginning) != offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t got = s.Read(out + done, count - done);
        if (got == 0) return false;
        done += got;
    }
    return true;
}

}  // namespace

std::optional<uint32_t> ReadImageEnd(TStream& headers) {
    uint8_t b[8];
    if (!ReadAt(headers, kPeOffsetField, b, 4)) return std::nullopt;
    const int64_t pe = Le32(b);
    if (!ReadAt(headers, pe + kNumberOfSections, b, 2)) return std::nullopt;
    const unsigned sections = unsigned(b[0]) | unsigned(b[1]) << 8;
    uint32_t end = 0;
    for (unsigned i = 0; i < sections; ++i) {
        const int64_t header = pe + kSectionTable + i * kSectionHeaderSize;
        if (!ReadAt(headers, header + kSizeOfRawData, b, 8)) return std::nullopt;
        // 32-bit sums, compared unsigned, as the image's own fields are.
        const uint32_t sectionEnd = Le32(b + 4) + Le32(b);
        if (sectionEnd > end) end = sectionEnd;
    }
    return end;
}

bool IsPortableExecutable(TStream& headers) {
    uint8_t b[4];
    if (!ReadAt(headers, 0, b, 2) || b[0] != 'M' || b[1] != 'Z') return false;
    if (!ReadAt(headers, kPeOffsetField, b, 4)) return false;
    const int64_t pe = Le32(b);
    return ReadAt(headers, pe, b, 4) && std::memcmp(b, "PE\0\0", 4) == 0;
}

std::optional<uint32_t> ImageEndOfFile(TPlatform& platform, const std::string& path) {
    try {
        auto file = platform.OpenFile(path, TOpenMode::ReadShared);
        return ReadImageEnd(*file);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

uint32_t GetImageEnd(TPlatform& platform) {
    if (const uint8_t* base = platform.ModuleBase()) {
        TSpanStream mapped(base, kMappedHeaderBytes);
        if (const auto end = ReadImageEnd(mapped)) return *end;
    }
    return ImageEndOfFile(platform, platform.ModulePath()).value_or(0);
}

bool ExtractAppendedPackage(TPlatform& platform, TBackupFile& backupFile, const std::string& exePath,
                            const std::string& workDir) {
    auto file = platform.OpenFile(exePath, TOpenMode::ReadShared);
    try {
        file->SetPosition(GetImageEnd(platform));
        return backupFile.RestoreFromStream(file.get(), workDir);
    } catch (...) {
        // Reported to the caller as a failed restore, like any other.
        return false;
    }
}

namespace {

// Walks entry data (signature, blocks, closing zero) and adds what it holds
// to the entry, or only checks it when entry is null.
void WalkEntryData(TStream& input, TPackageListEntry* entry, uint8_t* in, uint8_t* out) {
    uint8_t signature[4];
    input.ReadBuffer(signature, 4);
    if (std::memcmp(signature, kEntrySignature, 4) != 0)
        throw Exception("entry data does not start with the signature EC2");
    const std::string where = entry ? " in entry " + entry->Name : "";
    for (;;) {
        const int32_t blockSize = input.ReadInt32();
        if (blockSize == 0) return;
        const uint32_t n =
            blockSize < 0 ? 0u - static_cast<uint32_t>(blockSize) : static_cast<uint32_t>(blockSize);
        if (n > kPackageBlockSize)
            throw Exception("block of " + std::to_string(n) + " bytes" + where +
                            " is longer than 16384 bytes");
        input.ReadBuffer(in, n);
        size_t size = n;
        if (blockSize > 0) {
            z_stream zs{};
            if (inflateInit(&zs) != Z_OK) throw Exception("cannot start the inflater");
            zs.next_in = in;
            zs.avail_in = n;
            zs.next_out = out;
            zs.avail_out = kPackageBlockSize;
            const int result = inflate(&zs, Z_NO_FLUSH);
            size = kPackageBlockSize - zs.avail_out;
            inflateEnd(&zs);
            if (result != Z_STREAM_END) throw Exception("damaged compressed block" + where);
        }
        if (entry) {
            entry->Size += static_cast<int64_t>(size);
            ++entry->Blocks;
            if (blockSize < 0) ++entry->StoredBlocks;
        }
    }
}

}  // namespace

TPackageSummary ListPackage(TPlatform& platform, TStream& input, const std::string& path) {
    TPackageSummary summary;
    auto in = std::make_unique<uint8_t[]>(kPackageBlockSize);
    auto out = std::make_unique<uint8_t[]>(kPackageBlockSize);

    const int32_t titleLength = input.ReadInt32();
    if (titleLength < 0) throw Exception("negative title length");
    if (titleLength > 0) {
        // Read in pieces so that a lying length cannot claim memory it does not back.
        while (summary.Title.size() < static_cast<size_t>(titleLength)) {
            const size_t piece = std::min<size_t>(static_cast<size_t>(titleLength) - summary.Title.size(), 65536);
            std::string part(piece, '\0');
            input.ReadBuffer(part.data(), piece);
            summary.Title += part;
        }
    }
    summary.TotalSize = input.ReadInt32();
    summary.FileCount = input.ReadInt32();

    std::unique_ptr<TFileStream> volume;  // the open continuation volume, if any
    TStream* current = &input;
    for (;;) {
        const int32_t nameLength = current->ReadInt32();
        if (nameLength == 0) break;
        if (nameLength < 0) {
            ++summary.EmptyRecords;
            continue;
        }
        if (nameLength > 32767) throw Exception("entry name of " + std::to_string(nameLength) + " bytes");
        std::string name(static_cast<size_t>(nameLength), '\0');
        current->ReadBuffer(name.data(), name.size());
        if (name.compare(0, 9, kVolumeSwitchPrefix) == 0) {
            const std::string digits = name.substr(9, 3);
            if (digits.size() != 3 || digits.find_first_not_of("0123456789") != std::string::npos)
                throw Exception("malformed volume switch \"" + name + "\"");
            if (path.empty()) throw Exception("the package continues in another volume (multi-volume)");
            const std::string next = ChangeFileExt(path, "." + digits);
            if (!platform.FileExists(next)) throw Exception("missing volume " + next);
            volume = platform.OpenFile(next, TOpenMode::ReadShared);
            current = volume.get();
            ++summary.Volumes;
            TPackageListEntry* last = summary.Entries.empty() ? nullptr : &summary.Entries.back();
            if (last) last->LastVolume = summary.Volumes;
            WalkEntryData(*current, last, in.get(), out.get());
            continue;
        }
        TPackageListEntry entry;
        entry.Name = name;
        entry.Date = current->ReadInt32();
        entry.FirstVolume = entry.LastVolume = summary.Volumes;
        summary.Entries.push_back(entry);
        WalkEntryData(*current, &summary.Entries.back(), in.get(), out.get());
    }
    return summary;
}

}  // namespace oup
