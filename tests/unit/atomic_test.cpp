// All or nothing per installation (/ATOMIC) on a fake machine: an
// installation that one file cannot go into is left exactly as it was,
// swaps are undone latest first, and what an interrupted run left half
// swapped is put back before anything is decided.
#include <gtest/gtest.h>

#include "support/FakeMachine.h"
#include "update/UpdateRun.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;
const char* kWork = "C:\\TEMP\\W\\";

struct TAtomicScene {
    TAtomicScene() {
        m.AddDrive('C');
        m.AddDrive('D');
        m.AddDir("C:\\WINDOWS\\SYSTEM32");
        m.AddDir(kWork);
        for (const char* dir : {"D:\\One", "D:\\Two"}) {
            m.AddFile(std::string(dir) + "\\a.exe", "old a", kOld);
            m.AddFile(std::string(dir) + "\\b.dll", "old b", kOld);
        }
    }
    void Entry(const std::string& source, const std::string& target,
               const std::string& mode = "Always copy",
               const std::string& targetDir = "<installdir>\\") {
        m.AddFile(kWork + source, "new " + source);
        TFileEntry e;
        e.SourceName = source;
        e.TargetName = target;
        e.Mode = mode;
        e.TargetDir = targetDir;
        e.FileDate = StrToDateTime("01.03.2005 10:00:00");
        entries.push_back(e);
    }
    TNames Update(bool atomic) {
        TUpdateRun run(m, entries, {kWork, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"});
        run.Atomic = atomic;
        TNames lines;
        run.OnReport = [&](const TUpdateReport& r) {
            if (r.Kind == TReportKind::Installed) lines.push_back("Installed " + r.Target);
            if (r.Kind == TReportKind::PutBack) lines.push_back("Put back " + r.Target);
            if (r.Kind == TReportKind::LeftUnchanged)
                lines.push_back("Left unchanged: " + r.Installation + ": " + r.Reason);
        };
        run.Run({{"D:\\One", true}, {"D:\\Two", true}});
        failed = run.FailedCount();
        return lines;
    }
    // Every file below D:, with its content.
    TNames Files() {
        TNames files;
        for (const std::string& path : m.AllPaths())
            if (path.rfind("D:\\", 0) == 0 && m.GetAttributes(path) != kInvalidAttributes &&
                !(m.GetAttributes(path) & faDirectory))
                files.push_back(path + "=" + m.Content(path));
            else if (path.rfind("D:\\", 0) == 0)
                files.push_back(path);
        return files;
    }
    static constexpr int32_t kOld = 0x2A210000;
    TFakeMachine m;
    std::vector<TFileEntry> entries;
    int failed = 0;
};

TEST(Atomic, AnInstallationGetsEveryFileOrNone) {
    const auto all = [](const std::string& dir) {
        return TNames{"Installed " + dir + "\\b.dll", "Installed " + dir + "\\b.dll",
                      "Installed " + dir + "\\a.exe", "Installed " + dir + "\\data\\c.dat"};
    };
    const auto plus = [](TNames a, const TNames& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const TNames old = {"D:\\One\\a.exe=old a", "D:\\One\\b.dll=old b"};
    const TNames updated = {"D:\\One\\a.exe=new a.exe", "D:\\One\\b.dll=new b.dll", "D:\\One\\data",
                            "D:\\One\\data\\c.dat=new c.dat"};
    const struct {
        const char* Case;
        std::function<void(TAtomicScene&)> Prepare;
        bool Atomic;
        TNames Lines;
        TNames One;  // the files of D:\One afterwards
    } cases[] = {
        {"every file goes in", [](TAtomicScene&) {}, true, plus(all("D:\\One"), all("D:\\Two")),
         updated},
        {"a read-only target stops it before anything is copied",
         [](TAtomicScene& s) { s.m.SetAttr("D:\\One\\b.dll", faReadOnly); }, true,
         plus({"Left unchanged: D:\\One: D:\\One\\b.dll: read-only: it cannot be replaced"},
              all("D:\\Two")),
         old},
        {"a file held by a program, the same",
         [](TAtomicScene& s) { s.m.Lock("D:\\One\\a.exe"); }, true,
         plus({"Left unchanged: D:\\One: D:\\One\\a.exe: in use: it could only be replaced at a "
               "restart"},
              all("D:\\Two")),
         old},
        {"a copy that breaks off drops every new file",
         [](TAtomicScene& s) { s.m.SetDiskSpace('D', 6); }, true,
         {"Left unchanged: D:\\One: D:\\One\\b.dll: Stream write error",
          "Left unchanged: D:\\Two: D:\\Two\\b.dll: Stream write error"},
         old},
        {"a swap fails: the others are undone, latest first",
         [](TAtomicScene& s) {
             s.m.BeforeCommit = [&s](const std::string& target) {
                 if (target == "D:\\One\\a.exe") s.m.Lock(target);
             };
         },
         true, plus({"Left unchanged: D:\\One: D:\\One\\a.exe: in use"}, all("D:\\Two")), old},
        {"what a killed run left half swapped is put back, then decided",
         [](TAtomicScene& s) {
             s.m.AddFile("D:\\One\\a.exe", "new a from the killed run");
             s.m.AddFile("D:\\One\\a.exe.oupold", "old a", TAtomicScene::kOld);
             s.m.AddFile("D:\\One\\b.dll.oupold", "a kept b");
             s.entries[2].Mode = "Update if older or missing";  // a.exe
         },
         false,
         plus({"Put back D:\\One\\b.dll", "Put back D:\\One\\a.exe"},
              plus(all("D:\\One"), all("D:\\Two"))),
         updated},
    };
    for (const auto& c : cases) {
        TAtomicScene s;
        // Two entries for one target: undone in the wrong order, the first
        // new version would come back, or nothing, instead of the old one.
        s.Entry("b0.dll", "b.dll");
        s.Entry("b.dll", "b.dll");
        s.Entry("a.exe", "a.exe");
        s.Entry("c.dat", "c.dat", "Always copy", "<installdir>\\data\\");
        c.Prepare(s);
        EXPECT_EQ(c.Lines, s.Update(c.Atomic)) << c.Case;
        TNames one;
        for (const std::string& f : s.Files())
            if (f.rfind("D:\\One\\", 0) == 0) one.push_back(f);
        EXPECT_EQ(c.One, one) << c.Case;
        for (const std::string& f : s.Files())
            EXPECT_TRUE(f.find("~oup") == std::string::npos && f.find(".oupold") == std::string::npos)
                << c.Case << ": " << f;
    }
}

}  // namespace
}  // namespace oup::test
