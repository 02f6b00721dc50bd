// The instance search written the plain way: one directory at a time, a
// listing, an existence check per subdirectory and a presence search per
// directory, with every path kept in the queue and in the record of what
// was reached. The oracle that the real search's hits are compared with, and
// its peer in the benchmarks.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"
#include "search/InstanceSearch.h"

namespace oup::test {

class TReferenceSearch {
public:
    TReferenceSearch(TPlatform& platform, TInstanceSearchSetup setup);
    // The installations under the roots, in the order of discovery.
    std::vector<std::string> Run(const std::vector<std::string>& roots);

    // Left as the walk ended them, for a count of their memory.
    std::vector<std::string> Queue;
    std::unordered_map<std::string, uint8_t> Reached;  // upper-cased

private:
    void Reach(const std::string& path, bool test, bool queue);
    TPlatform& platform_;
    TInstanceSearch search_;  // for IsInstanceDir alone
    TInstanceSearchSetup setup_;
    std::vector<std::string> hits_;
};

}  // namespace oup::test
