#include "package/PackageLocation.h"

#include <cstring>

#include "common/Errors.h"

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

std::optional<uint32_t> AppendedPackageStart(uint32_t imageEnd, int64_t fileSize) {
    if (static_cast<int32_t>(fileSize) == static_cast<int32_t>(imageEnd)) return std::nullopt;
    return imageEnd;
}

std::optional<uint32_t> FindAppendedPackage(TPlatform& platform, const std::string& exePath) {
    const int64_t fileSize = platform.QueryFileSize(exePath);
    return AppendedPackageStart(GetImageEnd(platform), fileSize);
}

}  // namespace oup
