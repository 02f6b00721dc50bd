// Fuzzes the restore engine on the fake machine, and the tools' listing, the
// package reader's other user, on the same package.
//
// Input: one byte of options, then the package. Options: bits 0-2 the restore
// mode (modulo 5), bit 3 RestoreFullPath, bit 4 an empty DestDir, bit 5 an
// OnProgress handler, bit 6 file mode, where the package is split at every
// "#VOL" into update.oup, update.002, update.003, ...; bit 7 the user cancels
// the first volume prompt.
//
// Every restore must end with true, false after its error box, or one of the
// program's own exceptions; and leave no file open and nothing written
// outside the target. The listing must end with a summary or one of the
// program's own exceptions. Anything else aborts as a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "package/PackageList.h"
#include "package/backup.h"
#include "support/FakeMachine.h"
#include "support/PackageKit.h"

namespace {

using namespace oup;

// Answers the volume prompt with OK a few times, then gives up, as a user
// whose disk never turns up would.
class TPatientUser : public test::TRecordingUserInterface {
public:
    bool CancelFirst = false;
    TMsgResult MessageBox(const std::string& text, const std::string& caption, TMsgKind kind,
                          TMsgButtons buttons) override {
        test::TRecordingUserInterface::MessageBox(text, caption, kind, buttons);
        if (buttons == TMsgButtons::OkCancel && (CancelFirst || ++prompts_ > 3)) return TMsgResult::Cancel;
        return TMsgResult::Ok;
    }

private:
    int prompts_ = 0;
};

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    const std::string package(reinterpret_cast<const char*>(data + 1), size - 1);

    test::TFakeMachine m;
    m.AddDrive('C');
    m.AddDir("C:\\pkg");
    m.AddDir("C:\\T");
    TPatientUser ui;
    ui.CancelFirst = options & 0x80;
    TBackupFile b(m, ui);
    b.RestoreMode = static_cast<TRestoreMode>((options & 7) % 5);
    b.RestoreFullPath = options & 0x08;
    const std::string dest = (options & 0x10) ? "" : "C:\\T";
    if (options & 0x20) b.OnProgress = [](TBackupFile&, const std::string&, TPercentage p, bool&) {
        if (p > 100) Finding("percent past 100");
    };
    // An existing file for the modes that look at one.
    m.AddFile("C:\\T\\a.txt", "old", 0x2D71263C);

    bool result = false;
    try {
        if (options & 0x40) {
            size_t at = 0;
            for (int volume = 1; volume <= 999; ++volume) {
                const size_t next = package.find("#VOL", at);
                char name[32];
                if (volume == 1) std::snprintf(name, sizeof name, "C:\\pkg\\update.oup");
                else std::snprintf(name, sizeof name, "C:\\pkg\\update.%03d", volume);
                m.AddFile(name, package.substr(at, next == std::string::npos ? next : next - at));
                if (next == std::string::npos) break;
                at = next + 4;
            }
            result = b.Restore("C:\\pkg\\update.oup", dest);
        } else {
            TSpanStream s(data + 1, size - 1);
            result = b.RestoreStream(s, dest);
        }
    } catch (const Exception&) {
        result = true;  // one of the program's own errors: a defined end
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        Finding("foreign exception");
    }
    (void)result;
    try {
        if (options & 0x40) {
            auto first = m.OpenFile("C:\\pkg\\update.oup", TOpenMode::ReadShared);
            ListPackage(m, *first, "C:\\pkg\\update.oup");
        } else {
            TSpanStream s(data + 1, size - 1);
            ListPackage(m, s, std::string());
        }
    } catch (const Exception&) {
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        Finding("foreign exception from the listing");
    }
    if (m.OpenCount() != 0) Finding("a file left open");
    if (!dest.empty()) {
        for (const std::string& p : m.AllPaths()) {
            if (p != "C:" && p.rfind("C:\\T", 0) != 0 && p.rfind("C:\\pkg", 0) != 0) {
                std::fprintf(stderr, "wrote %s\n", p.c_str());
                Finding("written outside the target");
            }
        }
    }
    return 0;
}
