#include "search/InstanceSearch.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

namespace oup {

namespace {

using namespace std::chrono_literals;
// How long a listing is awaited before the window gets its messages again.
constexpr auto kPollInterval = 20ms;
// Listings handed out ahead of the one awaited, per thread: a thread that
// finishes one takes the next without sleeping in between, and the caller
// mostly finds the result it needs ready.
constexpr int kAheadPerWorker = 8;
// Looks at a result not yet there before waiting for it.
constexpr int kSpins = 64;
// The path display at about 30 pictures a second.
constexpr auto kDisplayInterval = 33ms;
// Subdirectories a place of the window keeps room for between listings; a
// place that needed more gives its room back once it has been taken.
constexpr size_t kKeptSubdirs = 256;

// "." and "..", also with blanks or control characters around them.
bool IsDotEntry(const std::string& name) {
    size_t b = 0, e = name.size();
    while (b < e && static_cast<unsigned char>(name[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(name[e - 1]) <= 32) --e;
    return (e - b == 1 && name[b] == '.') || (e - b == 2 && name[b] == '.' && name[b + 1] == '.');
}

// Names packed end to end, each NUL-terminated, in blocks that never move: a
// queue of a million directories keeps a million names without a string
// object and an allocation for each.
class TNameArena {
public:
    uint32_t Add(std::string_view text) {
        if (text.size() >= kBlock) throw std::length_error("a path too long for the search queue");
        if (blocks_.empty() || used_ + text.size() + 1 > kBlock) {
            // Offsets are 32 bits: block number and place in the block.
            if (blocks_.size() >= kMaxBlocks) throw std::length_error("the search queue is full");
            blocks_.push_back(std::make_unique<char[]>(kBlock));
            used_ = 0;
        }
        char* at = blocks_.back().get() + used_;
        std::memcpy(at, text.data(), text.size());
        at[text.size()] = '\0';
        const auto offset = static_cast<uint32_t>((blocks_.size() - 1) * kBlock + used_);
        used_ += text.size() + 1;
        return offset;
    }
    const char* At(uint32_t offset) const {
        return blocks_[offset / kBlock].get() + offset % kBlock;
    }

private:
    static constexpr size_t kBlock = 65536;
    static constexpr size_t kMaxBlocks = 65536;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = 0;
};

// What a queued directory is there for.
enum : uint8_t {
    qList = 1,     // list it and walk its subdirectories
    qTest = 2,     // report it when it is an installation
    qRecall = 4,   // the Windows directory, met by its drive's walk: its answer is kept
    qSave = 8,     // the Windows directory's own listing: keep its answer for qRecall
    qWhole = 16,   // the name is a whole path (a root, the Windows directory)
};

struct TQueued {
    uint32_t Parent;  // the parent's path in the level's ParentPaths
    uint32_t Name;    // in the level's Names
    uint8_t What;
};

// One level of the breadth-first walk: its directories in queue order, their
// names, and the paths of their parents, kept only for parents that have a
// subdirectory queued. A listed directory leaves only its name behind until
// its level is done.
struct TLevel {
    std::deque<TQueued> Queue;
    TNameArena Names;
    TNameArena ParentPaths;
};

// A place in the window of listings in flight.
struct TJob {
    std::string Path;
    uint8_t What = 0;
    std::atomic<bool> Done{false};
    bool Instance = false;
    // After the listing: the subdirectories to walk, in the listing's order
    // (no files: a wide directory costs no more than a narrow one here).
    std::vector<TDirEntry> Subdirs;
    std::exception_ptr Error;
};

// A directory that more than one walk may reach: a root, the Windows
// directory. Every other directory is reached once, by its parent's listing,
// so only these are remembered.
struct TStart {
    std::string Key;  // upper-cased
    bool Tested = false, Queued = false;
    bool Saving = false, Answer = false;  // the Windows directory's kept answer
};

}  // namespace

class TInstanceSearch::TWalk {
public:
    TWalk(TInstanceSearch& search, const std::vector<std::string>& roots)
        : s_(search),
          p_(search.platform_),
          workers_(search.setup_.Workers > 0 ? search.setup_.Workers : 0),
          jobs_(static_cast<size_t>(workers_ > 0 ? workers_ * kAheadPerWorker : 1)) {
        const std::string& windowsDir = s_.setup_.WindowsDir;
        for (const std::string& root : roots) {
            AddStart(root);
            if (AsciiUpperCase(root) == "C:" && !windowsDir.empty()) AddStart(windowsDir);
        }
        if (!windowsDir.empty()) windows_ = FindStart(windowsDir);
    }

    ~TWalk() { StopPool(); }

    bool Run(const std::vector<std::string>& roots) {
        for (const std::string& root : roots) {
            if (s_.OnRoot) s_.OnRoot(root);
            // Installations under the Windows directory are met before the
            // rest of the drive; the root's walk reports the directory itself
            // where it meets it, and does not walk it again.
            if (AsciiUpperCase(root) == "C:" && windows_) {
                uint8_t what = Decide(windows_, false, true);
                if (what && !windows_->Tested) {
                    what |= qSave;
                    windows_->Saving = true;
                }
                Enqueue(cur_, root_, s_.setup_.WindowsDir, what | qWhole);
            }
            Enqueue(cur_, root_, root, Decide(FindStart(root), true, true) | qWhole);
            if (Stop() || !Drain()) {
                StopPool();
                return false;
            }
        }
        StopPool();
        if (!latestShown_ && !latest_.empty() && s_.OnDirectory) s_.OnDirectory(latest_);
        return true;
    }

private:
    void AddStart(const std::string& path) {
        if (!FindStart(path)) starts_.push_back({p_.AnsiUpperCase(path)});
    }
    TStart* FindStart(const std::string& path) {
        for (TStart& start : starts_)
            if (start.Key.size() == path.size() && start.Key == p_.AnsiUpperCase(path)) return &start;
        return nullptr;
    }

    // What to queue for a directory reached, each test and walk done at most
    // once per directory; 0 for nothing.
    static uint8_t Decide(TStart* start, bool test, bool walk) {
        const bool doTest = test && !(start && start->Tested);
        const bool doWalk = walk && !(start && start->Queued);
        if (start) {
            start->Tested = start->Tested || doTest;
            start->Queued = start->Queued || doWalk;
        }
        if (doWalk) return qList | (doTest ? qTest : 0);
        if (doTest) return start && start->Saving ? qRecall : qTest;
        return 0;
    }

    void Enqueue(TLevel& level, uint32_t parent, std::string_view name, uint8_t what) {
        if (!(what & (qList | qTest | qRecall))) return;
        level.Queue.push_back({parent, level.Names.Add(name), what});
    }

    // Lists the current level on the pool, a window of listings handed out
    // ahead, and takes the results in queue order; then the next level,
    // until none is left. False when Poll stopped it.
    bool Drain() {
        while (!cur_.Queue.empty()) {
            while (!cur_.Queue.empty()) {
                // Refilled by halves: the threads get listings in batches,
                // not one wake-up for each.
                const size_t window = jobs_.size();
                if (submitted_ * 2 <= window) {
                    uint64_t batch = 0;
                    for (; submitted_ < cur_.Queue.size() && submitted_ < window; ++submitted_) {
                        TJob& job = jobs_[(taken_ + submitted_) % window];
                        if (!Prepare(cur_.Queue[submitted_], job)) continue;
                        if (workers_ > 0) {
                            workItems_[(published_.load() + batch++) % window] = &job;
                        } else {
                            Execute(job);
                            job.Done.store(true);
                        }
                    }
                    if (batch) Publish(batch);
                }
                if (Stop()) return false;
                TJob* job = Await();
                if (!job) return false;
                Take(*job);
                cur_.Queue.pop_front();
                --submitted_;
                ++taken_;
            }
            cur_ = std::move(next_);
            next_ = TLevel();
        }
        return true;
    }

    // Fills in a place of the window; whether the platform is to be asked.
    bool Prepare(const TQueued& entry, TJob& job) {
        const char* name = cur_.Names.At(entry.Name);
        if (entry.What & qWhole) {
            job.Path.assign(name);
        } else {
            job.Path.assign(cur_.ParentPaths.At(entry.Parent));
            job.Path += '\\';
            job.Path += name;
        }
        job.What = entry.What;
        job.Instance = false;
        job.Error = nullptr;
        job.Subdirs.clear();
        // A kept answer needs nothing of the platform.
        const bool ask = entry.What & (qList | qTest);
        job.Done.store(!ask, std::memory_order_relaxed);
        return ask;
    }

    // Hands the batch just put into workItems_ to the threads, starting
    // threads as they are needed (a small tree needs few).
    void Publish(uint64_t batch) {
        const uint64_t published = published_.load() + batch;
        published_.store(published);
        const uint64_t unclaimed = published - claimed_.load();
        for (uint64_t waiting = static_cast<uint64_t>(idle_.load());
             waiting < unclaimed && threads_.size() < static_cast<size_t>(workers_); ++waiting)
            if (!StartWorker()) break;
        if (threads_.empty()) {
            // No thread could be had at all: list here, from now on.
            for (uint64_t w = claimed_.load(); w < published; ++w) {
                TJob& job = *workItems_[w % workItems_.size()];
                Execute(job);
                job.Done.store(true);
            }
            claimed_.store(published);
            workers_ = 0;
            return;
        }
        if (idle_.load() > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            workCv_.notify_all();
        }
    }

    // The result at the front of the queue; null when Poll stopped the
    // search while waiting for it.
    TJob* Await() {
        TJob& job = jobs_[taken_ % jobs_.size()];
        // A local disk answers in microseconds: a few looks cost less than
        // going to sleep and being woken.
        for (int i = 0; i < kSpins && !job.Done.load(std::memory_order_acquire); ++i)
            std::this_thread::yield();
        if (job.Done.load()) return &job;
        std::unique_lock<std::mutex> lock(mutex_);
        uiWaiting_.store(true);
        while (!doneCv_.wait_for(lock, kPollInterval, [&] { return job.Done.load(); })) {
            uiWaiting_.store(false);
            lock.unlock();
            Display(job.Path);  // the directory a slow share is holding up
            if (Stop()) return nullptr;
            lock.lock();
            uiWaiting_.store(true);
        }
        uiWaiting_.store(false);
        return &job;
    }

    // Reports the directory at the front of the queue and queues its
    // subdirectories, as the walk reaches them.
    void Take(TJob& job) {
        if (job.Error) std::rethrow_exception(job.Error);
        latestShown_ = Display(job.Path);
        if (job.What & qSave) windows_->Answer = job.Instance;
        const bool found = (job.What & qRecall) ? windows_->Answer : (job.What & qTest) && job.Instance;
        if (found && s_.OnFound) s_.OnFound(job.Path);

        uint32_t parent = UINT32_MAX;  // this directory's path in the next level, once needed
        for (const TDirEntry& e : job.Subdirs) {
            if (e.Unrepresentable) {
                if (s_.OnNameNotRepresentable) s_.OnNameNotRepresentable(job.Path + "\\" + e.Name);
                continue;
            }
            // Only a root or the Windows directory can be reached twice.
            TStart* start = nullptr;
            const size_t length = job.Path.size() + 1 + e.Name.size();
            for (const TStart& st : starts_)
                if (st.Key.size() == length) {
                    start = FindStart(job.Path + "\\" + e.Name);
                    break;
                }
            // A junction or symbolic link may lead back up the tree: test
            // it, but do not walk into it.
            const uint8_t what = Decide(start, true, !(e.Attr & faReparsePoint));
            if (!what) continue;
            if (parent == UINT32_MAX) parent = next_.ParentPaths.Add(job.Path);
            Enqueue(next_, parent, e.Name, what);
        }
        latest_.swap(job.Path);
        if (job.Subdirs.capacity() > kKeptSubdirs) std::vector<TDirEntry>().swap(job.Subdirs);
    }

    // Shows path when the display is due; whether it did.
    bool Display(const std::string& path) {
        if (!s_.OnDirectory) return true;
        const TClock::time_point now = s_.Now();
        if (shownAny_ && now - lastShown_ < kDisplayInterval) return false;
        shownAny_ = true;
        lastShown_ = now;
        s_.OnDirectory(path);
        return true;
    }

    // Lists a directory and answers its instance test; on a pool thread.
    void Execute(TJob& job) {
        const bool wantAnswer = job.What & (qTest | qSave);
        if (!(job.What & qList)) {
            job.Instance = wantAnswer && s_.IsInstanceDir(job.Path);
            return;
        }
        // Only what the walk needs is kept as the entries arrive: the
        // visible subdirectories and whether the program's name was seen.
        bool named = false;
        const bool listed = p_.ListDirectory(job.Path, [&](const TDirEntry& e) {
            if (e.Attr & (faHidden | faSysFile)) return;
            if (wantAnswer && s_.listingAnswers_ && !named && !e.Unrepresentable &&
                e.Name.size() == s_.programFileKey_.size() &&
                p_.AnsiUpperCase(e.Name) == s_.programFileKey_)
                named = true;
            if (!(e.Attr & faDirectory) || IsDotEntry(e.Name)) return;
            job.Subdirs.push_back(e);
        });
        if (!listed) job.Subdirs.clear();
        if (!wantAnswer) return;
        // A name in the listing is confirmed by the presence search: the
        // work directory never counts, and near the path limit a listing
        // may succeed where the search for the longer name fails. A listing
        // that failed leaves the answer to the presence search alone.
        if (listed && s_.listingAnswers_)
            job.Instance = named && s_.IsInstanceDir(job.Path);
        else
            job.Instance = s_.IsInstanceDir(job.Path);
    }

    // Whatever threads can be had will do.
    bool StartWorker() {
        try {
            threads_.emplace_back([this] { Work(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    // A pool thread: claims the published listings one after the other,
    // and sleeps only when there is none.
    void Work() {
        for (;;) {
            uint64_t w = claimed_.load();
            if (w < published_.load()) {
                if (!claimed_.compare_exchange_weak(w, w + 1)) continue;
                TJob& job = *workItems_[w % workItems_.size()];
                if (!cancelled_.load()) {
                    try {
                        Execute(job);
                    } catch (...) {
                        job.Error = std::current_exception();
                    }
                }
                job.Done.store(true);
                finished_.fetch_add(1);
                if (uiWaiting_.load()) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    doneCv_.notify_one();
                }
                continue;
            }
            std::unique_lock<std::mutex> lock(mutex_);
            idle_.fetch_add(1);
            workCv_.wait(lock, [&] { return stopping_ || claimed_.load() < published_.load(); });
            idle_.fetch_sub(1);
            if (stopping_ && claimed_.load() >= published_.load()) return;
        }
    }

    // Drops the listings not yet begun, lets those in flight finish (a dead
    // share may hold one until its time-out) with the window's messages
    // flowing meanwhile, and joins the pool.
    void StopPool() {
        if (threads_.empty()) return;
        cancelled_.store(true);
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
        workCv_.notify_all();
        uiWaiting_.store(true);
        while (!doneCv_.wait_for(lock, kPollInterval,
                                 [&] { return finished_.load() >= published_.load(); })) {
            lock.unlock();
            try {
                if (s_.Poll) s_.Poll();
            } catch (...) {
                // The search is over; a window's handler has its own error display.
            }
            lock.lock();
        }
        uiWaiting_.store(false);
        lock.unlock();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

    bool Stop() { return s_.Poll && s_.Poll(); }

    TInstanceSearch& s_;
    TPlatform& p_;
    int workers_;
    std::vector<TStart> starts_;
    TStart* windows_ = nullptr;
    static constexpr uint32_t root_ = 0;  // start points carry their whole path

    TLevel cur_, next_;
    size_t submitted_ = 0;  // entries from the front of cur_ handed out
    uint64_t taken_ = 0;    // entries taken in all

    std::vector<TJob> jobs_;  // the window, by queue position
    // The listings handed to the pool, in order: those below published_ may
    // be claimed, those below claimed_ have been. Sequentially consistent
    // throughout, so that a thread going to sleep and the caller handing out
    // work (or waiting for a result) always see one another.
    std::vector<TJob*> workItems_ = std::vector<TJob*>(jobs_.size());
    std::atomic<uint64_t> published_{0}, claimed_{0}, finished_{0};
    std::atomic<int> idle_{0};  // threads asleep for want of work
    std::atomic<bool> cancelled_{false}, uiWaiting_{false};
    std::mutex mutex_;  // for the sleeps, and stopping_
    std::condition_variable workCv_, doneCv_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;

    std::string latest_;  // the last directory taken
    bool latestShown_ = false, shownAny_ = false;
    TClock::time_point lastShown_{};
};

TInstanceSearch::TInstanceSearch(TPlatform& platform, TInstanceSearchSetup setup)
    : platform_(platform),
      setup_(std::move(setup)),
      workDirKey_(platform.AnsiUpperCase(setup_.WorkDir)),
      programFileKey_(platform.AnsiUpperCase(setup_.ProgramFile)) {
    // Wildcards (DOS ones too), a short-name alias, a path or a name that
    // the system trims: the system's own matching decides, not a listing.
    const std::string& name = setup_.ProgramFile;
    listingAnswers_ = !name.empty() && name.find_first_of("*?<>\"~\\/:|") == std::string::npos &&
                      name.back() != '.' && name.back() != ' ';
}

TInstanceSearch::~TInstanceSearch() = default;

bool TInstanceSearch::IsInstanceDir(const std::string& path) {
    // The package is extracted into the work directory, program file and
    // all; it is never an installation.
    if (path.size() + 1 == workDirKey_.size() && platform_.AnsiUpperCase(path) + "\\" == workDirKey_)
        return false;
    bool found = false;
    platform_.FindFiles(path + "\\" + setup_.ProgramFile, [&](const TSearchRec& r) {
        if (r.Attr & (faHidden | faSysFile)) return true;
        found = true;
        return false;
    });
    return found;
}

bool TInstanceSearch::Run(const std::vector<std::string>& roots) {
    TWalk walk(*this, roots);
    return walk.Run(roots);
}

}  // namespace oup
