// Fuzzes the image-end rule over arbitrary bytes taken for an executable
// file: the headers, the security directory and the certificate table behind
// the image, read from the file and, as start-up does, from the loader's
// first page of headers on the fake machine.
//
// Every input must get a defined answer (a package start, none, or the
// program's own "changed after signing" error) that keeps the rule's
// promises, with no read outside the bytes and no file left open. Anything
// else aborts as a finding.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "package/PackageLocation.h"
#include "package/RunningImage.h"
#include "support/FakeMachine.h"

namespace {

using namespace oup;

constexpr size_t kPage = 4096;

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

// The rule's promises for an answer about a file of size bytes.
void Check(const TImageHeaders& h, int64_t size, const std::optional<TImageTrail>& trail) {
    const uint64_t tableStart = h.CertificateOffset, tableEnd = tableStart + h.CertificateSize;
    const bool tableInFile = tableStart != 0 && h.CertificateSize != 0 &&
                             tableStart >= h.ImageEnd && tableEnd <= uint64_t(size);
    if (!trail) {
        if (!tableInFile || tableEnd == uint64_t(size))
            Finding("changed after signing without bytes behind a table");
        return;
    }
    if (trail->PackageStart && *trail->PackageStart != h.ImageEnd)
        Finding("a package away from the image end");
    if (trail->Signed != (tableInFile && tableEnd == uint64_t(size)))
        Finding("signed, or not, against the table");
    if (!trail->Signed && trail->PackageStart.has_value() != (uint32_t(size) != h.ImageEnd))
        Finding("the plain rule broken");
    if (trail->Signed && !trail->PackageStart && tableStart - h.ImageEnd > 7)
        Finding("more than alignment in front of the table taken for nothing");
    if (trail->Signed && trail->PackageStart && tableStart == h.ImageEnd)
        Finding("a package of no bytes in front of the table");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact copy on the heap: a read past its end is a finding for ASan.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[std::max<size_t>(size, 1)]);
    if (size) std::memcpy(bytes.get(), data, size);
    TSpanStream file(bytes.get(), size);

    std::optional<TImageTrail> fromFile;
    const std::optional<TImageHeaders> headers = ReadImageHeaders(file);
    if (headers) {
        try {
            fromFile = ReadImageTrail(*headers, int64_t(size), file, "u.exe");
        } catch (const EChangedAfterSigning&) {
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            Finding("foreign exception");
        }
        Check(*headers, int64_t(size), fromFile);
        const TImageTrail unknownSize = ReadImageTrail(*headers, -1, file, "u.exe");
        if (unknownSize.PackageStart || unknownSize.Signed)
            Finding("a package in a file of no known size");
    }

    // Start-up's way, from the file alone and from the loader's first page.
    for (const bool mapped : {false, true}) {
        test::TFakeMachine m;
        m.AddDrive('C');
        m.AddFile(m.ModuleFile, std::string(reinterpret_cast<const char*>(data), size));
        if (mapped) {
            m.ModuleHeaders.assign(data, data + std::min(size, kPage));
            m.ModuleHeaders.resize(kPage);
        }
        std::optional<uint32_t> start;
        bool changed = false;
        try {
            start = FindAppendedPackage(m, m.ModuleFile);
        } catch (const EChangedAfterSigning&) {
            changed = true;
        } catch (const EImageFileChanged&) {  // the loader's page and the file differ
            if (!mapped) Finding("a file refused as not its own mapping without one");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            Finding("foreign exception from FindAppendedPackage");
        }
        if (m.OpenCount() != 0) Finding("a file left open");
        // The file's own headers give the file's own answer.
        if (!mapped && headers) {
            if (changed != !fromFile) Finding("start-up and the rule disagree on the signature");
            if (fromFile && start != fromFile->PackageStart)
                Finding("start-up and the rule disagree");
        }
    }
    return 0;
}
