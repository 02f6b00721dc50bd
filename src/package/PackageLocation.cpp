#include "package/PackageLocation.h"

#include <algorithm>
#include <cstring>

#include "common/Errors.h"
#include "package/RunningImage.h"

namespace oup {

namespace {

// Offsets in the PE headers.
constexpr int64_t kPeOffsetField = 0x3C;          // in the DOS header
constexpr int64_t kNumberOfSections = 6;          // past the PE signature
constexpr int64_t kSectionTable = 4 + 20 + 224;   // signature, file header, PE32 optional header
constexpr int64_t kSectionHeaderSize = 40;
constexpr int64_t kSizeOfRawData = 16;            // in a section header; PointerToRawData follows
// The PE32 optional header, 24 bytes past the PE signature.
constexpr int64_t kOptionalHeader = 4 + 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr int64_t kCheckSum = 64;
constexpr int64_t kNumberOfRvaAndSizes = 92;
constexpr int64_t kSecurityDirectory = 96 + 4 * 8;  // data directory 4
constexpr uint32_t kSecurityDirectoryIndex = 4;
// Signing tools align the certificate table to 8 bytes with zeros in front.
constexpr uint32_t kMaxCertificateAlignment = 7;
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

std::optional<TImageHeaders> ReadImageHeaders(TStream& headers) {
    uint8_t b[8];
    if (!ReadAt(headers, kPeOffsetField, b, 4)) return std::nullopt;
    const int64_t pe = Le32(b);
    if (!ReadAt(headers, pe + kNumberOfSections, b, 2)) return std::nullopt;
    const unsigned sections = unsigned(b[0]) | unsigned(b[1]) << 8;
    TImageHeaders h;
    for (unsigned i = 0; i < sections; ++i) {
        const int64_t header = pe + kSectionTable + i * kSectionHeaderSize;
        if (!ReadAt(headers, header + kSizeOfRawData, b, 8)) return std::nullopt;
        // 32-bit sums, compared unsigned, as the image's own fields are.
        const uint32_t sectionEnd = Le32(b + 4) + Le32(b);
        if (sectionEnd > h.ImageEnd) h.ImageEnd = sectionEnd;
    }
    // The security directory, only where a PE32 optional header has it. Its
    // address is a file offset, not an RVA: the table is never mapped.
    // Headers without it (or cut before it) simply carry no signature.
    const int64_t optional = pe + kOptionalHeader;
    if (!ReadAt(headers, optional, b, 2) || (unsigned(b[0]) | unsigned(b[1]) << 8) != kPe32Magic)
        return h;
    if (!ReadAt(headers, optional + kNumberOfRvaAndSizes, b, 4) ||
        Le32(b) <= kSecurityDirectoryIndex || !ReadAt(headers, optional + kSecurityDirectory, b, 8))
        return h;
    // Offsets into a file's first 4 GiB: where the entry cannot be written
    // back, it is not there.
    const int64_t entryAt = optional + kSecurityDirectory;
    if (entryAt + 8 > int64_t(UINT32_MAX)) return h;
    h.CertificateOffset = Le32(b);
    h.CertificateSize = Le32(b + 4);
    h.SecurityEntryAt = static_cast<uint32_t>(entryAt);
    h.CheckSumAt = static_cast<uint32_t>(optional + kCheckSum);
    return h;
}

std::optional<uint32_t> ReadImageEnd(TStream& headers) {
    const auto h = ReadImageHeaders(headers);
    if (!h) return std::nullopt;
    return h->ImageEnd;
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

TImageTrail ReadImageTrail(const TImageHeaders& headers, int64_t fileSize, TStream& file,
                           const std::string& name) {
    TImageTrail trail;
    if (fileSize < 0) return trail;
    const uint64_t imageEnd = headers.ImageEnd;
    const uint64_t tableStart = headers.CertificateOffset;
    const uint64_t tableEnd = tableStart + headers.CertificateSize;
    // A table inside the image, or one that runs past the end of the file,
    // is no signature: the plain rule decides.
    const bool isSignature = tableStart != 0 && headers.CertificateSize != 0 &&
                             tableStart >= imageEnd && tableEnd <= uint64_t(fileSize);
    if (!isSignature) {
        trail.PackageStart = AppendedPackageStart(headers.ImageEnd, fileSize);
        return trail;
    }
    // The signature covers everything in front of the table and nothing
    // behind it: bytes there came later, and the package cannot be trusted
    // to be the signed one.
    if (tableEnd < uint64_t(fileSize)) {
        const uint64_t behind = uint64_t(fileSize) - tableEnd;
        throw EChangedAfterSigning(
            FormatMessage(kChangedAfterSigningText,
                          {name, std::to_string(behind) + (behind == 1 ? " byte" : " bytes")}));
    }
    trail.Signed = true;
    trail.CertificateOffset = headers.CertificateOffset;
    const uint64_t gap = tableStart - imageEnd;
    if (gap == 0) return trail;
    if (gap <= kMaxCertificateAlignment) {
        uint8_t alignment[kMaxCertificateAlignment];
        if (ReadAt(file, int64_t(imageEnd), alignment, size_t(gap)) &&
            std::all_of(alignment, alignment + gap, [](uint8_t c) { return c == 0; }))
            return trail;
    }
    // Appended first, then signed: the package's end marker ends it well
    // before the alignment and the table.
    trail.PackageStart = headers.ImageEnd;
    return trail;
}

TImageHeaders GetImageHeaders(TPlatform& platform) {
    if (const uint8_t* base = platform.ModuleBase()) {
        TSpanStream mapped(base, kMappedHeaderBytes);
        if (const auto h = ReadImageHeaders(mapped)) return *h;
    }
    try {
        auto file = platform.OpenFile(platform.ModulePath(), TOpenMode::ReadShared);
        return ReadImageHeaders(*file).value_or(TImageHeaders());
    } catch (const Exception&) {
        return TImageHeaders();
    }
}

uint32_t GetImageEnd(TPlatform& platform) { return GetImageHeaders(platform).ImageEnd; }

std::optional<uint32_t> AppendedPackageStart(uint32_t imageEnd, int64_t fileSize) {
    if (fileSize < 0) return std::nullopt;
    if (static_cast<int32_t>(fileSize) == static_cast<int32_t>(imageEnd)) return std::nullopt;
    return imageEnd;
}

std::optional<uint32_t> FindAppendedPackage(TPlatform& platform, const std::string& exePath) {
    return TRunningImage(platform, exePath).PackageStart();
}

}  // namespace oup
