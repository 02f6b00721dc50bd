// Instance search speed, measured in one run on the same tree:
//   (a) the updater's instance search (TUpdate::StartKnappClick on the host
//       platform, with the headless form), which lists every directory once
//       and looks for the program file in each;
//   (b) `find <root> -iname <program file>`, the plain walk a shell offers.
// The tree is generated once (fan-out F, depth D: F + F^2 + ... + F^D
// directories) with a few installations, and kept for later runs. Prints the
// median time of each over the repeats, the directories per second and the
// ratio a/b, and checks that both found the same installations.
//
//   bench_search [--root DIR] [--fanout F] [--depth D] [--repeat R]
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* kProgramFile = "ledger.exe";

struct TOptions {
    fs::path Root = fs::temp_directory_path() / "oup-bench-search";
    int Fanout = 10;
    int Depth = 5;
    int Repeat = 3;
};

long long DirectoriesOf(const TOptions& o) {
    long long total = 0, level = 1;
    for (int d = 0; d < o.Depth; ++d) total += (level *= o.Fanout);
    return total;
}

// Directories named d0..d(F-1) at every level; installations (the program
// file in mixed case, as Windows programs ship them) at a few places of
// different depth, one of them in the tree's root.
std::vector<fs::path> Installations(const TOptions& o) {
    std::vector<fs::path> at{o.Root};
    fs::path p = o.Root;
    for (int d = 0; d < o.Depth; ++d) {
        p /= std::string(1, 'd').append(std::to_string((d * 3 + 1) % o.Fanout));
        if (d % 2 == 1 || d == o.Depth - 1) at.push_back(p);
    }
    return at;
}

void MakeTree(const TOptions& o) {
    const fs::path marker = o.Root / ".tree";
    const std::string shape = std::to_string(o.Fanout) + "x" + std::to_string(o.Depth);
    {
        std::ifstream in(marker);
        std::string have;
        if (in >> have && have == shape) return;  // made by an earlier run
    }
    std::printf("generating %lld directories under %s ...\n", DirectoriesOf(o), o.Root.c_str());
    std::fflush(stdout);
    fs::remove_all(o.Root);
    fs::create_directories(o.Root);
    std::vector<std::string> level{o.Root.string()}, next;
    for (int d = 0; d < o.Depth; ++d) {
        next.clear();
        for (const std::string& parent : level)
            for (int i = 0; i < o.Fanout; ++i) {
                std::string dir = parent + "/d" + std::to_string(i);
                if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
                    throw std::runtime_error("cannot create " + dir + ": " + std::strerror(errno));
                next.push_back(std::move(dir));
            }
        level.swap(next);
    }
    for (const fs::path& dir : Installations(o)) std::ofstream(dir / "Ledger.EXE") << "MZ";
    std::ofstream(marker) << shape << "\n";
}

// (a): the wizard's search over one drive-list item, the tree's root.
int UpdaterSearch(const TOptions& o) {
    oup::THeadlessControls controls;
    oup::THeadlessServices services;
    oup::TUpdate form(oup::SystemPlatform(), services, controls.Wire(), oup::TCommandLine{});
    services.Attach(&form);
    form.FormCreate();
    for (int i = 0; i < oup::kLanguageTextCount; ++i) form.LanguageTexts.Add("text");
    form.Script.ProgramFile = kProgramFile;
    form.WorkDir = "/nonexistent/";
    form.Controls.driveliste->AddItem(o.Root.string(), true);
    form.Page = 2;
    form.StartKnappClick();
    if (form.Page != 3) throw std::runtime_error("the search did not complete");
    return form.Controls.Liste->Count();
}

// (b): find, its output read and counted.
int FindSearch(const TOptions& o) {
    const std::string command = "find '" + o.Root.string() + "' -iname '" + kProgramFile + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run find");
    int lines = 0;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, pipe))
        if (std::strchr(buf, '\n')) ++lines;
    if (::pclose(pipe) != 0) throw std::runtime_error("find failed");
    return lines;
}

template <typename F>
double Seconds(F&& f, int& result) {
    const auto start = Clock::now();
    result = f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

TOptions Parse(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--root") o.Root = value();
        else if (a == "--fanout") o.Fanout = std::stoi(value());
        else if (a == "--depth") o.Depth = std::stoi(value());
        else if (a == "--repeat") o.Repeat = std::stoi(value());
        else throw std::runtime_error("unknown option " + a);
    }
    if (o.Fanout < 2 || o.Depth < 1 || o.Repeat < 1 || o.Fanout > 100 || o.Depth > 8)
        throw std::runtime_error("want 2 <= fanout <= 100, 1 <= depth <= 8, repeat >= 1");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        // Absolute: the search builds its paths on the root it is given.
        TOptions o = Parse(argc, argv);
        o.Root = fs::absolute(o.Root);
        MakeTree(o);
        const long long dirs = DirectoriesOf(o) + 1;
        const auto expected = static_cast<int>(Installations(o).size());

        std::vector<double> ours, finds;
        int hitsOurs = 0, hitsFind = 0;
        FindSearch(o);  // one walk to warm the cache for both
        for (int r = 0; r < o.Repeat; ++r) {
            ours.push_back(Seconds([&] { return UpdaterSearch(o); }, hitsOurs));
            finds.push_back(Seconds([&] { return FindSearch(o); }, hitsFind));
        }
        const double a = Median(ours), b = Median(finds);
        std::printf("tree: %lld directories, %d installations, %d repeats (median)\n", dirs,
                    expected, o.Repeat);
        std::printf("(a) instance search: %8.3f s  %10.0f dirs/s  %d found\n", a, dirs / a,
                    hitsOurs);
        std::printf("(b) find -iname:     %8.3f s  %10.0f dirs/s  %d found\n", b, dirs / b,
                    hitsFind);
        std::printf("ratio a/b: %.2f\n", a / b);
        if (hitsOurs != expected || hitsFind != expected) {
            std::fprintf(stderr, "bench_search: expected %d installations\n", expected);
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_search: %s\n", e.what());
        return 2;
    }
}
