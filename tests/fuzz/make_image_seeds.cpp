// Writes the image fuzzer's seed corpus: small executables that are plain,
// signed, appended and then signed, changed after signing, or whose security
// directory points into the image or past the end of the file.
#include <cstdio>
#include <fstream>
#include <string>

#include "support/PackageKit.h"

using oup::test::PeHeaders;
using oup::test::SetCertificateTable;
using oup::test::TPackageBytes;

namespace {
// An image ending at 0x400, then between, then a table of tableSize bytes,
// then behind; the security directory names tableOffset (0: the table's place).
std::string File(const std::string& between, uint32_t tableSize, const std::string& behind = "",
                 uint32_t tableOffset = 0) {
    auto h = PeHeaders({{0x200, 0x200}});
    if (tableSize)
        SetCertificateTable(h, tableOffset ? tableOffset : 0x400 + between.size(), tableSize);
    std::string bytes(h.begin(), h.end());
    bytes.resize(0x400, '\0');
    return bytes + between + std::string(tableSize, 'c') + behind;
}

void Seed(const std::string& dir, const std::string& name, const std::string& bytes) {
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: image_fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string package =
        TPackageBytes().Header(1, 1).File("d:\\a", 0x325C86FA, "a").EndMarker().Str();
    Seed(dir, "plain", File("", 0));
    Seed(dir, "appended", File(package, 0));
    Seed(dir, "signed", File("", 24));
    Seed(dir, "signed-aligned", File(std::string(5, '\0'), 24));
    Seed(dir, "appended-signed", File(package + std::string(4, '\0'), 24));
    Seed(dir, "changed-after-signing", File(package, 24, "later"));
    Seed(dir, "table-in-image", File(package, 24, "", 0x300));
    Seed(dir, "table-past-end", File(package, 24, "", 0x400 + package.size() + 8));
    return 0;
}
