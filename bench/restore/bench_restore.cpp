// Restore throughput, measured in one run on the same data:
//   (a) a minimal loop that reads the package with large buffered reads,
//       inflates each block with one reused inflater and writes it: about the
//       least work the package format allows;
//   (b) `oupack extract`, the updater's restore engine, as a child process
//       (its peak memory from the kernel's accounting);
//   (c) `unzip` of a zip of the same files.
// Prints each throughput (uncompressed MiB per second, best of the repeats)
// and the ratios b/a and b/c.
//
//   bench_restore [--mib N] [--repeat R] [--work DIR] [--oupack PATH]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

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

#include "package/PackageWriter.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct TRng {
    uint64_t s;
    uint64_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

// Text-like data: words, numbers and line breaks, compressing about 3:1.
void TextLike(std::string& out, size_t size, TRng& rng) {
    static const char* words[] = {"account", "ledger", "balance", "invoice", "customer", "total",
                                  "the",     "of",     "and",     "update",  "version",  "file",
                                  "payment", "date",   "amount",  "report",  "status",   "entry"};
    out.clear();
    out.reserve(size + 32);
    while (out.size() < size) {
        const uint64_t r = rng.Next();
        if (r % 7 == 0) {
            out += std::to_string(r % 100000);
            out += (r & 256) ? "," : ".";
            out += std::to_string((r >> 20) % 100);
        } else {
            out += words[(r >> 8) % (sizeof words / sizeof *words)];
        }
        out += (r % 13 == 0) ? "\r\n" : " ";
    }
    out.resize(size);
}

void Noise(std::string& out, size_t size, TRng& rng) {
    out.resize(size);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t r = rng.Next();
        std::memcpy(&out[i], &r, 8);
    }
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double CpuSeconds(const struct rusage& ru) {
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A wall time and the CPU time (user + system) of one measurement.
struct TTimes {
    double Wall, Cpu;
};

// Runs a program and waits; returns its wall and CPU time. With maxRssKiB, runs it
// under /usr/bin/time for its peak resident memory: the kernel's figure for a
// child forked straight from this process would include this process's own
// pages from before the exec.
TTimes RunChild(std::vector<std::string> argv, long* maxRssKiB, const char* cwd = nullptr) {
    const std::string memFile = (fs::temp_directory_path() / ("oup-bench-rss-" + std::to_string(getpid()))).string();
    if (maxRssKiB) argv.insert(argv.begin(), {"/usr/bin/time", "-f", "%M", "-o", memFile});
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (cwd && chdir(cwd) != 0) _exit(126);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage ru {};  // the child's and its waited-for children's CPU time
    if (wait4(pid, &status, 0, &ru) != pid) throw std::runtime_error("wait failed");
    const auto end = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed with status " + std::to_string(status));
    if (maxRssKiB) {
        std::ifstream in(memFile);
        if (!(in >> *maxRssKiB)) throw std::runtime_error("no memory figure from /usr/bin/time");
        fs::remove(memFile);
    }
    return {Seconds(start, end), CpuSeconds(ru)};
}

// (a): the package format's own limit.
void MinimalLoop(const std::string& package, const fs::path& outDir) {
    FILE* f = std::fopen(package.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + package);
    std::vector<char> iobuf(1 << 20);
    std::setvbuf(f, iobuf.data(), _IOFBF, iobuf.size());
    const auto read = [&](void* p, size_t n) {
        if (std::fread(p, 1, n, f) != n) throw std::runtime_error("package ends early");
    };
    const auto int32 = [&] {
        uint8_t b[4];
        read(b, 4);
        return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                    uint32_t(b[3]) << 24);
    };
    static uint8_t in[16384], out[16384];
    z_stream zs{};
    inflateInit(&zs);
    const int32_t titleLength = int32();
    std::fseek(f, titleLength + 8, SEEK_CUR);
    for (int32_t nameLength; (nameLength = int32()) != 0;) {
        if (nameLength < 0) continue;
        std::string name(static_cast<size_t>(nameLength), '\0');
        read(name.data(), name.size());
        int32();  // date
        read(in, 4);
        const std::string base = name.substr(name.find_last_of("\\/") + 1);
        const int fd = open((outDir / base).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) throw std::runtime_error("cannot create " + base);
        for (int32_t blockSize; (blockSize = int32()) != 0;) {
            const size_t n = static_cast<size_t>(blockSize < 0 ? -blockSize : blockSize);
            read(in, n);
            const uint8_t* data = in;
            size_t length = n;
            if (blockSize > 0) {
                inflateReset(&zs);
                zs.next_in = in;
                zs.avail_in = static_cast<uInt>(n);
                zs.next_out = out;
                zs.avail_out = sizeof out;
                if (inflate(&zs, Z_NO_FLUSH) != Z_STREAM_END) throw std::runtime_error("bad block");
                data = out;
                length = sizeof out - zs.avail_out;
            }
            if (write(fd, data, length) != static_cast<ssize_t>(length)) throw std::runtime_error("write failed");
        }
        close(fd);
    }
    inflateEnd(&zs);
    std::fclose(f);
}

struct TArgs {
    int Mib = 256;
    int Repeat = 3;
    fs::path Work;
    std::string Oupack;
};

TArgs Parse(int argc, char** argv) {
    TArgs a;
#ifdef OUP_OUPACK
    a.Oupack = OUP_OUPACK;
#endif
    a.Work = fs::temp_directory_path() / "oup-bench-restore";
    for (int i = 1; i < argc; ++i) {
        const std::string k = argv[i];
        if (i + 1 >= argc) throw std::runtime_error(k + " needs a value");
        const std::string v = argv[++i];
        if (k == "--mib") a.Mib = std::stoi(v);
        else if (k == "--repeat") a.Repeat = std::stoi(v);
        else if (k == "--work") a.Work = v;
        else if (k == "--oupack") a.Oupack = v;
        else throw std::runtime_error("unknown option " + k);
    }
    if (a.Mib < 1 || a.Repeat < 1 || a.Oupack.empty()) throw std::runtime_error("bad arguments");
    return a;
}

bool SameTree(const fs::path& src, const fs::path& out) {
    for (const auto& e : fs::directory_iterator(src)) {
        const fs::path o = out / e.path().filename();
        if (!fs::exists(o) || fs::file_size(o) != fs::file_size(e.path())) return false;
        std::ifstream x(e.path(), std::ios::binary), y(o, std::ios::binary);
        std::vector<char> bx(1 << 16), by(1 << 16);
        while (x && y) {
            x.read(bx.data(), bx.size());
            y.read(by.data(), by.size());
            if (x.gcount() != y.gcount() || std::memcmp(bx.data(), by.data(), x.gcount()) != 0) return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const TArgs args = Parse(argc, argv);
        fs::remove_all(args.Work);
        const fs::path src = args.Work / "src";
        fs::create_directories(src);

        // 64 files, every other one text-like or incompressible, plus a few small ones.
        const size_t total = static_cast<size_t>(args.Mib) << 20;
        const size_t each = total / 64;
        TRng rng{0x9E3779B97F4A7C15ull};
        std::string buf;
        size_t made = 0;
        for (int i = 0; i < 64; ++i) {
            if (i % 2 == 0) TextLike(buf, each, rng);
            else Noise(buf, each, rng);
            WriteFile(src / ("file" + std::to_string(i) + (i % 2 ? ".bin" : ".txt")), buf);
            made += each;
        }
        for (size_t small : {0, 1, 100, 16384, 16385}) {
            TextLike(buf, small, rng);
            WriteFile(src / ("small" + std::to_string(small) + ".txt"), buf);
            made += small;
        }

        const std::string package = (args.Work / "bench.oup").string();
        auto t0 = Clock::now();
        {
            oup::TPackageWriter writer(oup::SystemPlatform(), package);
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(src)) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& p : files) writer.AddFile(p.string());
            writer.Finish();
        }
        const double packTime = Seconds(t0, Clock::now());
        const std::string zip = (args.Work / "bench.zip").string();
        RunChild({"zip", "-q", "-r", "-j", zip, "src"}, nullptr, args.Work.c_str());
        buf.clear();
        buf.shrink_to_fit();

        const double mib = static_cast<double>(made) / (1 << 20);
        std::printf("data: %.1f MiB in 69 files (half text-like, half incompressible)\n", mib);
        std::printf("package: %.1f MiB (written in %.2f s), zip: %.1f MiB\n",
                    fs::file_size(package) / 1048576.0, packTime, fs::file_size(zip) / 1048576.0);

        TTimes best[3] = {{1e30, 1e30}, {1e30, 1e30}, {1e30, 1e30}};
        long peakB = 0, peakC = 0;
        for (int r = 0; r < args.Repeat; ++r) {
            const fs::path outA = args.Work / "out-a", outB = args.Work / "out-b", outC = args.Work / "out-c";
            for (const auto& d : {outA, outB, outC}) {
                fs::remove_all(d);
                fs::create_directories(d);
            }
            struct rusage before {}, after {};
            getrusage(RUSAGE_SELF, &before);
            t0 = Clock::now();
            MinimalLoop(package, outA);
            const auto t1 = Clock::now();
            getrusage(RUSAGE_SELF, &after);
            const TTimes a{Seconds(t0, t1), CpuSeconds(after) - CpuSeconds(before)};
            const TTimes b = RunChild({args.Oupack, "extract", package, outB.string()}, nullptr);
            const TTimes c = RunChild({"unzip", "-q", "-o", zip, "-d", outC.string()}, nullptr);
            if (r == 0 && !(SameTree(src, outA) && SameTree(src, outB) && SameTree(src, outC)))
                throw std::runtime_error("an output differs from the source files");
            std::printf("run %d: a %.3f s (cpu %.3f), b %.3f s (cpu %.3f), c %.3f s (cpu %.3f)\n", r + 1,
                        a.Wall, a.Cpu, b.Wall, b.Cpu, c.Wall, c.Cpu);
            const TTimes runs[3] = {a, b, c};
            for (int i = 0; i < 3; ++i) {
                best[i].Wall = std::min(best[i].Wall, runs[i].Wall);
                best[i].Cpu = std::min(best[i].Cpu, runs[i].Cpu);
            }
        }
        // Peak memory from one more run of each under /usr/bin/time, kept
        // apart so that the wrapper's own start does not count in the times.
        for (const auto& d : {args.Work / "out-b", args.Work / "out-c"}) {
            fs::remove_all(d);
            fs::create_directories(d);
        }
        RunChild({args.Oupack, "extract", package, (args.Work / "out-b").string()}, &peakB);
        RunChild({"unzip", "-q", "-o", zip, "-d", (args.Work / "out-c").string()}, &peakC);
        // Throughput in MiB of restored files per second, by wall time and by CPU time.
        std::printf("(a) minimal inflate-and-write loop: %8.1f MiB/s  (cpu: %8.1f MiB/s)\n",
                    mib / best[0].Wall, mib / best[0].Cpu);
        std::printf("(b) oupack extract:                 %8.1f MiB/s  (cpu: %8.1f MiB/s), peak memory %.2f MiB\n",
                    mib / best[1].Wall, mib / best[1].Cpu, peakB / 1024.0);
        std::printf("(c) unzip:                          %8.1f MiB/s  (cpu: %8.1f MiB/s), peak memory %.2f MiB\n",
                    mib / best[2].Wall, mib / best[2].Cpu, peakC / 1024.0);
        std::printf("wall: b/a = %.3f  b/c = %.3f   cpu: b/a = %.3f  b/c = %.3f   (best of %d)\n",
                    best[0].Wall / best[1].Wall, best[2].Wall / best[1].Wall, best[0].Cpu / best[1].Cpu,
                    best[2].Cpu / best[1].Cpu, args.Repeat);
        fs::remove_all(args.Work);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_restore: %s\n", e.what());
        return 1;
    }
}
