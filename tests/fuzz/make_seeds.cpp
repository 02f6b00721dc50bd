// Writes the restore fuzzer's seed corpus: small sound packages in each mode,
// so the fuzzer starts from inputs that reach every part of the engine.
#include <cstdio>
#include <fstream>
#include <string>

#include "support/PackageKit.h"

using oup::test::NoiseBytes;
using oup::test::TextBytes;
using oup::test::TPackageBytes;

namespace {
void Seed(const std::string& dir, const std::string& name, unsigned char options, const std::string& package) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << static_cast<char>(options) << package;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: restore_fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int32_t date = 0x325C86FA;
    const std::string plain = TPackageBytes()
                                  .Header(1100, 3, "seed")
                                  .Int(-1)
                                  .File("d:\\p\\a.txt", date, TextBytes(600, 1))
                                  .File("FILE:LIST", date, "a.txt")
                                  .File("d:\\p\\sub\\b.txt", date, "")
                                  .Entry("d:\\p\\c.bin", date)
                                  .Signature()
                                  .Stored(NoiseBytes(200, 2))
                                  .Compressed(TextBytes(300, 3))
                                  .EndData()
                                  .EndMarker()
                                  .Str();
    Seed(dir, "stream", 0x20, plain);
    Seed(dir, "stream-fullpath-newer", 0x08 | 2, plain);
    Seed(dir, "stream-existing-nodest", 0x10 | 3, plain);
    const std::string volumes = TPackageBytes()
                                    .Header(900, 2)
                                    .Entry("d:\\p\\a.txt", date)
                                    .Signature()
                                    .Compressed(TextBytes(500, 4))
                                    .EndData()
                                    .Switch("002")
                                    .Raw("#VOL")
                                    .Signature()
                                    .Stored(NoiseBytes(100, 5))
                                    .EndData()
                                    .File("d:\\p\\b.txt", date, TextBytes(300, 6))
                                    .Switch("003")
                                    .Raw("#VOL")
                                    .Signature()
                                    .EndData()
                                    .EndMarker()
                                    .Str();
    Seed(dir, "volumes", 0x40 | 0x20, volumes);
    Seed(dir, "volumes-cancel", 0x40 | 0x80, volumes);
    Seed(dir, "file", 0x40 | 1, plain);
    return 0;
}
