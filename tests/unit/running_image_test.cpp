// The program's own file is the one its image was mapped from: its name before and after
// the open, then its code with relocations applied; on a made-up image and the fake machine.
#include <gtest/gtest.h>

#include "package/ImageCode.h"
#include "package/RunningImage.h"
#include "support/FakeMachine.h"

namespace oup {
namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

// A 32-bit program, preferred base 0x400000: .text (code) at 0x1000, .data
// at 0x2000, .reloc at 0x3000, each 0x100 bytes in memory and 0x200 in the
// file from 0x400 on. The code holds two addresses, the data one.
constexpr uint32_t kBase = 0x400000, kElsewhere = 0x10000000;
const uint32_t kFlags[] = {0x60000020, 0xC0000040, 0x42000040},
               kAddressesAt[] = {0x1010, 0x1040, 0x2008};
uint32_t RawAt(uint32_t rva) { return rva % 0x1000 + 0x200 * (rva / 0x1000) + 0x200; }
// Relocation blocks: the page, then entries (type << 12 | offset).
using TRelocs = std::vector<std::vector<uint16_t>>;
const TRelocs kRelocs = {{0x1000, 0x3010, 0x3040, 0}, {0x2000, 0x3008, 0}};

std::vector<uint8_t> ImageFile(const TRelocs& relocs = kRelocs) {
    std::vector<uint8_t> f(0xA00, 0);
    f[0] = 'M', f[1] = 'Z', f[0x80] = 'P', f[0x81] = 'E';
    size_t at = 0x800;  // the relocation blocks
    for (const auto& block : relocs) {
        Put32(f, at, block[0]);
        Put32(f, at + 4, static_cast<uint32_t>(6 + 2 * block.size()));
        for (size_t e = 1; e < block.size(); ++e)
            f[at + 6 + 2 * e] = block[e] & 0xFF, f[at + 7 + 2 * e] = block[e] >> 8;
        at += 6 + 2 * block.size();
    }
    // Machine and sections, optional header size, Magic, ImageBase,
    // SizeOfImage, data directories, the relocation directory.
    const uint32_t fields[][2] = {
        {0x3C, 0x80},  {0x84, 0x3014C}, {0x94, 224},
        {0x98, 0x10B}, {0xB4, kBase},   {0xD0, 0x4000},
        {0xF4, 16},    {0x120, 0x3000}, {0x124, static_cast<uint32_t>(at - 0x800)}};
    for (const auto& field : fields) Put32(f, field[0], field[1]);
    for (uint32_t i = 0, rva = 0x1000; i < 3; ++i, rva += 0x1000) {
        const uint32_t header[][2] = {
            {8, 0x100}, {12, rva}, {16, 0x200}, {20, RawAt(rva)}, {36, kFlags[i]}};
        for (const auto& field : header) Put32(f, 0x178 + 40 * i + field[0], field[1]);
    }
    for (size_t i = 0; i < 0x100; ++i) f[0x400 + i] = static_cast<uint8_t>(i * 7 + 1);
    for (const uint32_t rva : kAddressesAt) Put32(f, RawAt(rva), kBase + 0x2010);
    return f;
}

// What the loader makes of the genuine file at an address.
std::vector<uint8_t> Mapped(uint32_t address) {
    const std::vector<uint8_t> f = ImageFile();
    std::vector<uint8_t> m(0x4000, 0);
    std::copy(f.begin(), f.begin() + 0x400, m.begin());
    for (uint32_t rva = 0x1000; rva < 0x4000; rva += 0x1000)
        std::copy_n(&f[RawAt(rva)], 0x100, &m[rva]);
    for (const uint32_t rva : kAddressesAt) Put32(m, rva, kBase + 0x2010 + (address - kBase));
    return m;
}

TEST(ImageCode, TheFileMustHoldTheCodeThatRunsWithItsRelocationsApplied) {
    const TRelocs leftOut = {{0x1000, 0x3010}, {0x2000, 0x3008}}, outside = {{0x4000, 0x3000}};
    const struct {
        const char* what;
        uint32_t address;
        TRelocs relocs;
        size_t flip, cut;  // a byte changed, the length cut to (0: none)
        TCodeMatch match;
    } cases[] = {
        {"the code that runs", kBase, kRelocs, 0, 0, TCodeMatch::Same},
        {"the same code loaded elsewhere", kElsewhere, kRelocs, 0, 0, TCodeMatch::Same},
        {"other code", kBase, kRelocs, 0x480, 0, TCodeMatch::Different},
        {"a relocation left out", kElsewhere, leftOut, 0, 0, TCodeMatch::Different},
        {"cut short in its code", kBase, kRelocs, 0, 0x480, TCodeMatch::Different},
        {"a relocation outside the image", kElsewhere, outside, 0, 0, TCodeMatch::Damaged},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> file = ImageFile(c.relocs);
        if (c.flip) file[c.flip] ^= 1;
        if (c.cut) file.resize(c.cut);
        const std::vector<uint8_t> mapped = Mapped(c.address);
        TMemoryStream stream(file);
        const TCodeComparison result =
            CompareImageCode(stream, {mapped.data(), mapped.size(), c.address});
        EXPECT_EQ(c.match, result.Match) << c.what << ": " << result.Reason;
    }
}

TEST(RunningImage, OnlyTheMappedFileIsReadAndASwapIsRefused) {
    test::TFakeMachine m;
    m.AddDrive('C');
    m.ModuleHeaders = Mapped(kBase);
    const std::vector<uint8_t> bytes = ImageFile();
    const std::string genuine = std::string(bytes.begin(), bytes.end()) + "package",
                      other = std::string(genuine).replace(0x480, 1, "?"),
                      moved = "C:\\oupdate.old";
    const struct {
        const char* what;
        int swaps;          // between the look at the name and the open, at this many opens
        const char* error;  // empty: opened, the genuine file
    } cases[] = {
        {"swapped once", 1, ""},
        {"swapped at every open", 99, "it was renamed or replaced"},
    };
    for (const auto& c : cases) {
        m.AddFile(m.ModuleFile, genuine);
        m.MappedFile.clear();
        int opens = 0;
        // The genuine file moves away and another takes its place; the
        // system's name for the mapping follows the genuine one.
        m.BeforeModuleOpen = [&] {
            if (++opens > c.swaps) return;
            const std::string from = m.MappedModuleName(),
                              to = from == moved ? m.ModuleFile : moved;
            m.AddFile(to, m.Content(from));
            m.AddFile(from, other);
            m.MappedFile = to;
        };
        try {
            TRunningImage running(m, m.ModuleFile);
            EXPECT_STREQ("", c.error) << c.what;
            EXPECT_EQ(0xA00u, running.PackageStart());
        } catch (const EImageFileChanged& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.error)) << e.what();
        }
        EXPECT_EQ(0, m.OpenCount());
    }
}

}  // namespace
}  // namespace oup
