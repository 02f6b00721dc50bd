#include "support/ReferenceSearch.h"

namespace oup::test {

namespace {
enum : uint8_t { kQueued = 1, kTested = 2 };
}

TReferenceSearch::TReferenceSearch(TPlatform& platform, TInstanceSearchSetup setup)
    : platform_(platform), search_(platform, setup), setup_(std::move(setup)) {}

void TReferenceSearch::Reach(const std::string& path, bool test, bool queue) {
    uint8_t& state = Reached[platform_.AnsiUpperCase(path)];
    if (test && !(state & kTested)) {
        state |= kTested;
        if (search_.IsInstanceDir(path)) hits_.push_back(path);
    }
    if (queue && !(state & kQueued)) {
        state |= kQueued;
        Queue.push_back(path);
    }
}

std::vector<std::string> TReferenceSearch::Run(const std::vector<std::string>& roots) {
    Queue.clear();
    Reached.clear();
    hits_.clear();
    size_t position = 0;
    for (const std::string& root : roots) {
        if (AsciiUpperCase(root) == "C:" && !setup_.WindowsDir.empty())
            Reach(setup_.WindowsDir, false, true);
        Reach(root, true, true);
        for (; position < Queue.size(); ++position) {
            const std::string dir = Queue[position];
            platform_.FindFiles(dir + "\\*.*", [&](const TSearchRec& r) {
                const std::string name = Trim(r.Name);
                if ((r.Attr & (faHidden | faSysFile)) || !(r.Attr & faDirectory) || name == "." ||
                    name == "..")
                    return true;
                const std::string sub = dir + "\\" + r.Name;
                if (platform_.DirectoryExists(sub)) Reach(sub, true, !(r.Attr & faReparsePoint));
                return true;
            });
        }
    }
    return hits_;
}

}  // namespace oup::test
