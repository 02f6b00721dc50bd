// The instance search on generated trees, against the plain walk
// (tests/support/ReferenceSearch: one directory at a time, a listing, an
// existence check per subdirectory and a presence search per directory,
// every path kept), both in one run:
//   latency: a tree behind a platform that takes 1 ms for every listing and
//            every presence search (a network share); both times, the ratio,
//            and the same hits in the same order;
//   memory:  a tree of a million directories whose listings are generated
//            in memory (no disk); the peak of heap in use during each walk,
//            and today's structures counted in 32-bit sizes. Then a file
//            server's wide folders: 8 directories of 200,000 files each, the
//            peak of each walk and what this search still holds after them.
//
//   bench_walk [latency|memory|both] [--latency-depth D] [--memory-depth D]
//              (fan-out 10: depth 4 gives 11,111 directories, 6 gives 1,111,111)
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "search/InstanceSearch.h"
#include "support/ReferenceSearch.h"

using Clock = std::chrono::steady_clock;

// --- heap in use, counted by every allocation of the process ---
namespace {
std::atomic<size_t> gInUse{0}, gPeak{0};

void* Counted(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    const size_t now = gInUse += malloc_usable_size(p);
    size_t peak = gPeak.load(std::memory_order_relaxed);
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}
void Uncounted(void* p) {
    if (!p) return;
    gInUse -= malloc_usable_size(p);
    std::free(p);
}
}  // namespace

void* operator new(size_t size) { return Counted(size); }
void* operator new[](size_t size) { return Counted(size); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }

namespace {

using oup::TDirEntry;
using oup::TSearchRec;

constexpr int kFanout = 10;
const char* kProgramFile = "ledger.exe";
const std::string kRoot = "G:";

// A directory search over a tree's listing: the entries of the pattern's
// directory that match its mask, until onEntry asks for no more.
template <typename TList>
bool FindInListing(const std::string& pattern, const std::function<bool(const TSearchRec&)>& onEntry,
                   const TList& list) {
    const size_t slash = pattern.rfind('\\');
    if (slash == std::string::npos) return false;
    const std::string mask = pattern.substr(slash + 1);
    bool any = false, more = true;
    list(pattern.substr(0, slash), std::function<void(const TDirEntry&)>([&](const TDirEntry& e) {
             if (!more || !oup::MatchesMask(e.Name, mask)) return;
             any = true;
             more = onEntry(TSearchRec{e.Name, e.Attr, 0, 0});
         }));
    return any;
}

// A tree under G: with kFanout subdirectories "Folder0".."Folder9" in every
// directory down to a depth; about one directory in 500 holds the program.
class TGeneratedTree : public oup::TPlatform {
public:
    explicit TGeneratedTree(int depth) : depth_(depth) {}

    static long long Directories(int depth) {
        long long total = 1, level = 1;
        for (int d = 0; d < depth; ++d) total += (level *= kFanout);
        return total;
    }

    bool ListDirectory(const std::string& dir,
                       const std::function<void(const TDirEntry&)>& onEntry) override {
        const int depth = Depth(dir);
        if (depth < 0) return false;
        onEntry({".", oup::faDirectory, false});
        onEntry({"..", oup::faDirectory, false});
        if (depth < depth_)
            for (int i = 0; i < kFanout; ++i)
                onEntry({"Folder" + std::to_string(i), oup::faDirectory, false});
        if (Installed(dir)) onEntry({"Ledger.EXE", oup::faArchive, false});
        return true;
    }

    bool FindFiles(const std::string& pattern,
                   const std::function<bool(const TSearchRec&)>& onEntry) override {
        // This tree's own listing, not a subclass's: one round trip per search.
        return FindInListing(pattern, onEntry, [this](const std::string& dir, const auto& each) {
            return TGeneratedTree::ListDirectory(dir, each);
        });
    }

    uint32_t GetAttributes(const std::string& path) override {
        if (Depth(path) >= 0) return oup::faDirectory;
        const size_t slash = path.rfind('\\');
        if (slash != std::string::npos && oup::AsciiUpperCase(path.substr(slash + 1)) == "LEDGER.EXE" &&
            Installed(path.substr(0, slash)))
            return oup::faArchive;
        return oup::kInvalidAttributes;
    }

    std::string AnsiUpperCase(const std::string& text) override { return oup::UpperCase1252(text); }

    // Nothing else is asked of it by a search.
    std::unique_ptr<oup::TFileStream> OpenFile(const std::string&, oup::TOpenMode) override {
        throw std::logic_error("no files here");
    }
    bool CreateDir(const std::string&) override { return false; }
    bool RemoveDir(const std::string&) override { return false; }
    bool DeleteFile(const std::string&) override { return false; }
    oup::TOsResult CopyFile(const std::string&, const std::string&, bool) override {
        return {oup::kErrorNotSupported};
    }
    oup::TOsResult MoveFileReplace(const std::string&, const std::string&) override {
        return {oup::kErrorNotSupported};
    }
    std::string GetTempDir() override { return "C:\\TEMP\\"; }
    std::string GetWindowsDir() override { return std::string(); }
    std::string GetSystemDir() override { return std::string(); }
    unsigned GetDriveType(const std::string&) override { return oup::dtFixed; }
    std::vector<std::string> ConnectedDiskResources() override { return {}; }
    std::string ModulePath() override { return std::string(); }
    const uint8_t* ModuleBase() override { return nullptr; }
    bool FileInUse(const std::string&) override { return false; }
    oup::TOsResult MoveFileAtRestart(const std::string&, const std::string&) override {
        return {oup::kErrorNotSupported};
    }
    std::string GetSystemWow64Dir() override { return std::string(); }
    std::string QueryDosDevice(const std::string&) override { return std::string(); }
    void Sleep(unsigned) override {}
    bool WriteStandardError(const std::string&) override { return false; }
    bool WriteStandardOutput(const std::string&) override { return false; }

private:
    // The depth of a directory of the tree, -1 for anything else.
    int Depth(const std::string& path) const {
        if (path.compare(0, kRoot.size(), kRoot) != 0) return -1;
        int depth = 0;
        size_t at = kRoot.size();
        while (at < path.size()) {
            if (path.compare(at, 7, "\\Folder") != 0 || at + 8 > path.size()) return -1;
            const char digit = path[at + 7];
            if (digit < '0' || digit >= '0' + kFanout) return -1;
            at += 8;
            if (++depth > depth_) return -1;
        }
        return depth;
    }
    static bool Installed(const std::string& dir) {
        uint32_t h = 2166136261u;
        for (char c : dir) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        return h % 500 == 7;
    }

    int depth_;
};

// A share: every listing and every presence search waits a round trip.
class TSlowShare : public TGeneratedTree {
public:
    using TGeneratedTree::TGeneratedTree;
    bool ListDirectory(const std::string& dir,
                       const std::function<void(const TDirEntry&)>& onEntry) override {
        RoundTrip();
        return TGeneratedTree::ListDirectory(dir, onEntry);
    }
    bool FindFiles(const std::string& pattern,
                   const std::function<bool(const TSearchRec&)>& onEntry) override {
        RoundTrip();
        return TGeneratedTree::FindFiles(pattern, onEntry);
    }
    // The round trips since the last call, and how long one took on average
    // (a sleep of 1 ms takes somewhat longer).
    std::string Trips() {
        const long long calls = calls_.exchange(0), ns = waited_.exchange(0);
        char text[80];
        std::snprintf(text, sizeof text, "%lld round trips of %.2f ms", calls,
                      calls ? ns / 1e6 / calls : 0.0);
        return text;
    }

private:
    void RoundTrip() {
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        waited_ += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        ++calls_;
    }
    std::atomic<long long> calls_{0}, waited_{0};
};

// G: with kWideDirs directories "Wide0".."Wide7" of kWideFiles files each,
// and in each a subdirectory "Ledger" that holds the program.
constexpr int kWideDirs = 8;
constexpr int kWideFiles = 200000;

class TWideTree : public TGeneratedTree {
public:
    TWideTree() : TGeneratedTree(0) {}

    bool ListDirectory(const std::string& dir,
                       const std::function<void(const TDirEntry&)>& onEntry) override {
        TDirEntry entry;
        return Each(dir, [&](const std::string& name, uint32_t attr) {
            entry.Name = name;
            entry.Attr = attr;
            onEntry(entry);
            return true;
        });
    }

    bool FindFiles(const std::string& pattern,
                   const std::function<bool(const TSearchRec&)>& onEntry) override {
        return FindInListing(pattern, onEntry, [this](const std::string& dir, const auto& each) {
            return TWideTree::ListDirectory(dir, each);
        });
    }

    uint32_t GetAttributes(const std::string& path) override {
        const int kind = Kind(path);
        if (kind > 0) return oup::faDirectory;
        const size_t slash = path.rfind('\\');
        if (slash != std::string::npos && Kind(path.substr(0, slash)) == 3 &&
            oup::AsciiUpperCase(path.substr(slash + 1)) == "LEDGER.EXE")
            return oup::faArchive;
        return oup::kInvalidAttributes;
    }

private:
    // 1 the root, 2 a wide directory, 3 its Ledger; 0 for anything else.
    static int Kind(const std::string& path) {
        if (path == kRoot) return 1;
        const std::string wide = kRoot + "\\Wide";
        if (path.compare(0, wide.size(), wide) != 0 || path.size() < wide.size() + 1) return 0;
        const char digit = path[wide.size()];
        if (digit < '0' || digit >= '0' + kWideDirs) return 0;
        const std::string rest = path.substr(wide.size() + 1);
        return rest.empty() ? 2 : rest == "\\Ledger" ? 3 : 0;
    }

    // Calls f(name, attributes) for each entry, in order, until it returns false.
    template <class F>
    static bool Each(const std::string& dir, F f) {
        const int kind = Kind(dir);
        if (kind == 0) return false;
        if (kind > 1 && (!f(".", oup::faDirectory) || !f("..", oup::faDirectory))) return true;
        if (kind == 1) {
            for (int i = 0; i < kWideDirs; ++i)
                if (!f("Wide" + std::to_string(i), oup::faDirectory)) return true;
        } else if (kind == 2) {
            char name[32];
            for (int i = 0; i < kWideFiles; ++i) {
                std::snprintf(name, sizeof name, "data%06d.bin", i);
                if (!f(name, oup::faArchive)) return true;
            }
            f("Ledger", oup::faDirectory);
        } else {
            f("ledger.exe", oup::faArchive);
        }
        return true;
    }
};

oup::TInstanceSearchSetup Setup(int workers) {
    oup::TInstanceSearchSetup setup;
    setup.ProgramFile = kProgramFile;
    setup.WorkDir = "C:\\TEMP\\oupdate-1\\";
    setup.Workers = workers;
    return setup;
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

// Heap blocks of a 32-bit Windows process: 8-byte granularity, 8-byte header.
size_t Block32(size_t bytes) { return ((bytes + 7) & ~size_t{7}) + 8; }
// A std::string of a 32-bit build: 24 bytes, and a block for more than 15 characters.
size_t String32(const std::string& s) { return s.size() > 15 ? Block32(s.size() + 1) : 0; }

// Today's queue and record of reached directories, in 32-bit sizes: the
// vector of strings, each path's block, and for the hash map a node per
// directory (next pointer, key string, flag, cached hash: 36 bytes) with the
// key's own block, and the bucket array.
double Today32(const oup::test::TReferenceSearch& walk) {
    size_t bytes = Block32(walk.Queue.capacity() * 24);
    for (const std::string& path : walk.Queue) bytes += String32(path);
    for (const auto& [key, state] : walk.Reached) bytes += Block32(36) + String32(key);
    bytes += Block32(walk.Reached.bucket_count() * 4);
    return static_cast<double>(bytes);
}

int Latency(int depth) {
    const long long dirs = TGeneratedTree::Directories(depth);
    std::printf("latency: %lld directories, 1 ms for every listing and presence search\n", dirs);
    std::fflush(stdout);
    TSlowShare share(depth);

    auto start = Clock::now();
    const std::vector<std::string> plain = oup::test::TReferenceSearch(share, Setup(0)).Run({kRoot});
    const double a = Since(start);
    std::printf("  (a) plain walk, one at a time: %8.2f s  %8.0f dirs/s  %zu found; %s\n", a,
                dirs / a, plain.size(), share.Trips().c_str());
    std::fflush(stdout);

    std::vector<std::string> found;
    oup::TInstanceSearch search(share, Setup(8));
    search.OnFound = [&](const std::string& dir) { found.push_back(dir); };
    start = Clock::now();
    search.Run({kRoot});
    const double b = Since(start);
    std::printf("  (b) this search, 8 in flight:  %8.2f s  %8.0f dirs/s  %zu found; %s\n", b,
                dirs / b, found.size(), share.Trips().c_str());
    std::printf("  ratio a/b: %.1f; hits %s\n", a / b,
                found == plain ? "the same, in the same order" : "DIFFER");
    return found == plain && !found.empty() ? 0 : 1;
}

int Memory(int depth) {
    const long long dirs = TGeneratedTree::Directories(depth);
    std::printf("memory: %lld directories generated in memory\n", dirs);
    std::fflush(stdout);
    TGeneratedTree tree(depth);
    size_t plainCount = 0, ourCount = 0;
    uint64_t plainHash = 0, ourHash = 0;
    auto mix = [](uint64_t h, const std::string& s) {
        for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        return (h ^ '\n') * 1099511628211ull;
    };

    double plainPeak = 0, plain32 = 0, plainSeconds = 0;
    {
        oup::test::TReferenceSearch walk(tree, Setup(0));
        const size_t base = gInUse;
        gPeak = base;
        const auto start = Clock::now();
        const std::vector<std::string> hits = walk.Run({kRoot});
        plainSeconds = Since(start);
        plainPeak = static_cast<double>(gPeak - base);
        plain32 = Today32(walk);
        plainCount = hits.size();
        for (const std::string& h : hits) plainHash = mix(plainHash, h);
    }
    std::printf("  (a) plain walk, every path kept: peak heap %7.1f MiB (64-bit build), "
                "its queue and record %7.1f MiB in 32-bit sizes; %.1f s\n",
                MiB(plainPeak), MiB(plain32), plainSeconds);
    std::fflush(stdout);

    double ourPeak = 0, ourSeconds = 0;
    {
        oup::TInstanceSearch search(tree, Setup(8));
        search.OnFound = [&](const std::string& dir) {
            ++ourCount;
            ourHash = mix(ourHash, dir);
        };
        const size_t base = gInUse;
        gPeak = base;
        const auto start = Clock::now();
        search.Run({kRoot});
        ourSeconds = Since(start);
        ourPeak = static_cast<double>(gPeak - base);
    }
    // Its queue holds no pointer per directory (32-bit offsets and names
    // packed in blocks): a 32-bit build needs no more than this.
    std::printf("  (b) this search:                 peak heap %7.1f MiB (64-bit build, no more in "
                "32-bit); %.1f s\n",
                MiB(ourPeak), ourSeconds);
    std::printf("  ratio a(32-bit)/b: %.1f; %zu hits, %s\n", plain32 / ourPeak, ourCount,
                ourCount == plainCount && ourHash == plainHash ? "the same, in the same order"
                                                                : "DIFFER");
    return ourCount == plainCount && ourHash == plainHash && ourCount > 0 ? 0 : 1;
}

int Wide() {
    std::printf("memory, wide: %d directories of %d files each, generated in memory\n", kWideDirs,
                kWideFiles);
    std::fflush(stdout);
    TWideTree tree;

    double plainPeak = 0;
    std::vector<std::string> plain;
    {
        oup::test::TReferenceSearch walk(tree, Setup(0));
        const size_t base = gInUse;
        gPeak = base;
        plain = walk.Run({kRoot});
        plainPeak = static_cast<double>(gPeak - base);
    }
    std::printf("  (a) plain walk, streaming:  peak heap %8.0f KiB\n", plainPeak / 1024);
    std::fflush(stdout);

    double ourPeak = 0, held = -1;
    std::vector<std::string> found;
    {
        oup::TInstanceSearch search(tree, Setup(8));
        const size_t base = gInUse;
        // The Ledger directories are taken after every wide one: what the
        // walk still holds then, it holds for the rest of its run.
        search.OnFound = [&](const std::string& dir) {
            if (held < 0) held = static_cast<double>(gInUse - base);
            found.push_back(dir);
        };
        gPeak = base;
        search.Run({kRoot});
        ourPeak = static_cast<double>(gPeak - base);
    }
    std::printf("  (b) this search:            peak heap %8.0f KiB, %8.0f KiB still held after the "
                "wide directories (64-bit build)\n",
                ourPeak / 1024, held / 1024);
    std::printf("  ratio b/a (peak): %.1f; %zu hits, %s\n", ourPeak / plainPeak, found.size(),
                found == plain ? "the same, in the same order" : "DIFFER");
    return found == plain && found.size() == kWideDirs ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::string what = "both";
        int latencyDepth = 4, memoryDepth = 6;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            auto value = [&] {
                if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
                const int v = std::stoi(argv[++i]);
                if (v < 1 || v > 7) throw std::runtime_error(a + ": want 1 to 7");
                return v;
            };
            if (a == "latency" || a == "memory" || a == "both") what = a;
            else if (a == "--latency-depth") latencyDepth = value();
            else if (a == "--memory-depth") memoryDepth = value();
            else throw std::runtime_error("unknown option " + a);
        }
        int status = 0;
        if (what != "memory") status |= Latency(latencyDepth);
        if (what != "latency") status |= Memory(memoryDepth) | Wide();
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_walk: %s\n", e.what());
        return 2;
    }
}
