// The places a search may walk: every local fixed drive, and the network
// shares reachable through the machine's connected network disk resources.
#pragma once
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace oup {

// Remote names of the connected network disk resources, in the platform's
// order; empty when they cannot be enumerated.
std::vector<std::string> ListConnectedShares(TPlatform& platform);

// The drive list's items in order: fixed drives "A:" to "Z:", then the
// shares (see DriveList.cpp), each once whatever its letter case.
std::vector<std::string> DriveList(TPlatform& platform);

// The roots in order with later duplicates (ignoring letter case in the
// ANSI code page) dropped: the same place must not be searched twice.
std::vector<std::string> UniqueRoots(TPlatform& platform, const std::vector<std::string>& roots);

}  // namespace oup
