// oup_selfextract DIR
// Restores the package appended to this very executable into DIR the way the
// updater's start-up does: through its own file, opened once (TRunningImage),
// from the image end by the headers the loader mapped. Prints where the image
// ends by the mapped headers and by the file, so a test can tell which were read.
// Exit status: 0 restored, 1 nothing appended or the restore failed, 2 usage.
#include <cstdio>
#include <string>

#include "common/UserInterface.h"
#include "package/PackageLocation.h"
#include "package/RunningImage.h"
#include "package/backup.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    using namespace oup;
    if (argc != 2) {
        std::fprintf(stderr, "usage: oup_selfextract DIR\n");
        return 2;
    }
    TPlatform& platform = SystemPlatform();
    const std::string exe = platform.ModulePath();
    const uint8_t* base = platform.ModuleBase();
    long long mapped = -1;
    if (base) {
        TSpanStream headers(base, 4096);
        if (const auto end = ReadImageEnd(headers)) mapped = *end;
    }
    const auto fromFile = ImageEndOfFile(platform, exe);
    const uint32_t imageEnd = GetImageEnd(platform);
    const long long size = platform.QueryFileSize(exe);
    std::printf("mapped %lld file %lld imageend %u size %lld\n", mapped,
                fromFile ? static_cast<long long>(*fromFile) : -1LL, imageEnd, size);
    TRunningImage image(platform, exe);
    const auto start = image.PackageStart();
    if (!start) {
        std::printf("no package appended\n");
        return 1;
    }
    TSilentUserInterface ui;
    TBackupFile backup(platform, ui);
    ApplyFormSettings(backup);
    backup.OnError = [](TBackupFile&, int32_t code, const std::string& text) {
        std::printf("error %d: %s\n", code, text.c_str());
    };
    image.File().SetPosition(*start);
    const bool ok = backup.RestoreFromStream(&image.File(), argv[1]);
    std::printf("%s\n", ok ? "restored" : "failed");
    return ok ? 0 : 1;
}
