#include "package/ImageCode.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace oup {

namespace {

// Offsets in the PE headers.
constexpr int64_t kPeOffsetField = 0x3C;  // in the DOS header
constexpr int64_t kFileHeader = 4;        // past the PE signature
constexpr size_t kFileHeaderSize = 20;
constexpr int64_t kOptionalHeader = 4 + 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr size_t kImageBase = 28;  // in the PE32 optional header
constexpr size_t kNumberOfRvaAndSizes = 92;
constexpr size_t kRelocDirectory = 96 + 5 * 8;  // data directory 5
constexpr size_t kOptionalHeaderRead = kRelocDirectory + 8;
constexpr size_t kSectionHeaderSize = 40;
constexpr unsigned kMaxSections = 96;                     // the loader's own limit
constexpr uint32_t kCodeFlags = 0x00000020 | 0x20000000;  // contains code, executable
// Base relocation entries: 0 pads a block, 3 adds the delta to 32 bits.
constexpr unsigned kRelAbsolute = 0, kRelHighLow = 3;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads count bytes at an absolute offset; false when they are not all there.
bool ReadAt(TStream& s, int64_t offset, void* buffer, size_t count) {
    if (offset < 0 || s.Seek(offset, TSeekOrigin::soBeginning) != offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    for (size_t done = 0; done < count;) {
        const size_t got = s.Read(out + done, count - done);
        if (got == 0) return false;
        done += got;
    }
    return true;
}

struct TSection {
    uint8_t Raw[kSectionHeaderSize];
    uint32_t VirtualSize() const { return Le32(Raw + 8); }
    uint32_t VirtualAddress() const { return Le32(Raw + 12); }
    uint32_t SizeOfRawData() const { return Le32(Raw + 16); }
    uint32_t PointerToRawData() const { return Le32(Raw + 20); }
    bool IsCode() const { return (Le32(Raw + 36) & kCodeFlags) != 0; }
    // The bytes that come from the file: the section's data up to its
    // size in memory (the rest of its raw data is alignment).
    uint32_t MappedFromFile() const {
        return VirtualSize() == 0 ? SizeOfRawData() : std::min(VirtualSize(), SizeOfRawData());
    }
};

struct TLayout {
    bool Pe32 = false;
    uint32_t ImageBase = 0;
    uint32_t RelocRva = 0, RelocSize = 0;
    std::vector<TSection> Sections;
};

// The section table (as the loader finds it, behind SizeOfOptionalHeader)
// and, from a PE32 optional header, the preferred base and the relocation
// directory; nothing when any of it is cut short.
std::optional<TLayout> ReadLayout(TStream& s) {
    uint8_t b[kFileHeaderSize];
    if (!ReadAt(s, kPeOffsetField, b, 4)) return std::nullopt;
    const int64_t pe = Le32(b);
    if (!ReadAt(s, pe, b, 4) || std::memcmp(b, "PE\0\0", 4) != 0) return std::nullopt;
    if (!ReadAt(s, pe + kFileHeader, b, kFileHeaderSize)) return std::nullopt;
    const unsigned sections = Le16(b + 2);
    const size_t optionalSize = Le16(b + 16);
    if (sections > kMaxSections) return std::nullopt;

    TLayout layout;
    uint8_t optional[kOptionalHeaderRead] = {};
    const size_t have = std::min(optionalSize, kOptionalHeaderRead);
    if (!ReadAt(s, pe + kOptionalHeader, optional, have)) return std::nullopt;
    layout.Pe32 = have >= 2 && Le16(optional) == kPe32Magic;
    if (layout.Pe32 && have >= kImageBase + 4) layout.ImageBase = Le32(optional + kImageBase);
    if (layout.Pe32 && have >= kOptionalHeaderRead && Le32(optional + kNumberOfRvaAndSizes) > 5) {
        layout.RelocRva = Le32(optional + kRelocDirectory);
        layout.RelocSize = Le32(optional + kRelocDirectory + 4);
    }
    layout.Sections.resize(sections);
    const int64_t table = pe + kOptionalHeader + static_cast<int64_t>(optionalSize);
    for (unsigned i = 0; i < sections; ++i)
        if (!ReadAt(s, table + i * kSectionHeaderSize, layout.Sections[i].Raw, kSectionHeaderSize))
            return std::nullopt;
    return layout;
}

bool SameSectionTable(const TLayout& a, const TLayout& b) {
    return a.Sections.size() == b.Sections.size() &&
           std::equal(a.Sections.begin(), a.Sections.end(), b.Sections.begin(),
                      [](const TSection& x, const TSection& y) {
                          return std::memcmp(x.Raw, y.Raw, kSectionHeaderSize) == 0;
                      });
}

// Where the bytes [rva, rva + size) lie in the file; nothing when they do
// not lie within one section's raw data.
std::optional<int64_t> FileOffset(const TLayout& layout, uint32_t rva, uint32_t size) {
    for (const TSection& s : layout.Sections) {
        const uint64_t start = s.VirtualAddress(), end = start + s.SizeOfRawData();
        if (rva >= start && uint64_t(rva) + size <= end)
            return int64_t(s.PointerToRawData()) + (rva - start);
    }
    return std::nullopt;
}

// Adds delta at every 32-bit relocation that falls into code, the bytes of
// the image at codeRva. A relocation outside the image (imageSize bytes) or
// across an edge of the code, or of a kind no 32-bit image has, is damage:
// reason says which.
bool ApplyRelocations(const std::vector<uint8_t>& relocs, uint32_t codeRva,
                      std::vector<uint8_t>& code, uint32_t delta, uint64_t imageSize,
                      std::string& reason) {
    const uint64_t codeEnd = uint64_t(codeRva) + code.size();
    size_t at = 0;
    // A block: the page's address, the block's size, then 16-bit entries.
    while (relocs.size() - at >= 8) {
        const uint32_t page = Le32(&relocs[at]);
        const uint32_t blockSize = Le32(&relocs[at + 4]);
        if (blockSize < 8 || blockSize % 2 != 0 || blockSize > relocs.size() - at) {
            reason = "a block of its relocations is damaged";
            return false;
        }
        for (size_t e = at + 8; e < at + blockSize; e += 2) {
            const uint16_t entry = Le16(&relocs[e]);
            const unsigned type = entry >> 12;
            if (type == kRelAbsolute) continue;
            if (type != kRelHighLow) {
                reason = "a relocation is of a kind no 32-bit program has";
                return false;
            }
            const uint64_t rva = uint64_t(page) + (entry & 0xFFF);
            if (rva + 4 > imageSize) {
                reason = "a relocation points outside the image";
                return false;
            }
            if (rva + 4 <= codeRva || rva >= codeEnd) continue;  // data, not code
            if (rva < codeRva || rva + 4 > codeEnd) {
                reason = "a relocation crosses the edge of the code";
                return false;
            }
            uint8_t* p = &code[static_cast<size_t>(rva - codeRva)];
            const uint32_t value = Le32(p) + delta;
            for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
        }
        at += blockSize;
    }
    return true;
}

TCodeComparison Result(TCodeMatch match, std::string reason) { return {match, std::move(reason)}; }

}  // namespace

TCodeComparison CompareImageCode(TStream& file, const TMappedImage& image) {
    if (!image.Bytes) return Result(TCodeMatch::Damaged, "the running image cannot be read");
    TSpanStream mapped(image.Bytes, image.Size);
    const std::optional<TLayout> running = ReadLayout(mapped);
    if (!running) return Result(TCodeMatch::Damaged, "the running image's headers cannot be read");
    const std::optional<TLayout> onDisk = ReadLayout(file);
    if (!onDisk) return Result(TCodeMatch::Different, "its headers are cut short or damaged");
    if (!SameSectionTable(*running, *onDisk))
        return Result(TCodeMatch::Different, "its section table is not the running program's");

    const bool anyCode = std::any_of(running->Sections.begin(), running->Sections.end(),
                                     [](const TSection& s) { return s.IsCode(); });
    if (!anyCode) return Result(TCodeMatch::Same, std::string());  // nothing runs from it
    if (!onDisk->Pe32) return Result(TCodeMatch::Different, "it is no 32-bit program");

    std::vector<uint8_t> relocs;
    if (onDisk->RelocRva != 0 && onDisk->RelocSize != 0) {
        const std::optional<int64_t> at = FileOffset(*onDisk, onDisk->RelocRva, onDisk->RelocSize);
        if (!at || uint64_t(onDisk->RelocRva) + onDisk->RelocSize > image.Size)
            return Result(TCodeMatch::Damaged, "its relocations lie outside its sections");
        relocs.resize(onDisk->RelocSize);
        if (!ReadAt(file, *at, relocs.data(), relocs.size()))
            return Result(TCodeMatch::Different, "its relocations are cut short");
    }
    const uint32_t delta = image.Address - onDisk->ImageBase;  // modulo 2^32, as the loader adds
    for (const TSection& s : onDisk->Sections) {
        const uint32_t size = s.MappedFromFile();
        if (!s.IsCode() || size == 0) continue;
        // The table is the running image's: these bounds are the loader's.
        if (uint64_t(s.VirtualAddress()) + size > image.Size)
            return Result(TCodeMatch::Damaged, "its code lies outside the running image");
        std::vector<uint8_t> code(size);
        if (!ReadAt(file, s.PointerToRawData(), code.data(), code.size()))
            return Result(TCodeMatch::Different, "its code is cut short");
        std::string reason;
        if (!ApplyRelocations(relocs, s.VirtualAddress(), code, delta, image.Size, reason))
            return Result(TCodeMatch::Damaged, reason);
        if (std::memcmp(code.data(), image.Bytes + s.VirtualAddress(), code.size()) != 0)
            return Result(TCodeMatch::Different, "its code is not the code that runs");
    }
    return Result(TCodeMatch::Same, std::string());
}

}  // namespace oup
