// The POSIX platform against real files: a listing left by an exception
// closes its directory; the machine-wide lock of an update.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/Platform.h"

namespace oup {
namespace {

namespace fs = std::filesystem;

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(HostPlatform, AListingThatThrowsClosesItsDirectory) {
    const fs::path dir = fs::temp_directory_path() / ("oup-host-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "a.txt") << "1";
    TPlatform& p = SystemPlatform();
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 3; ++i) {
        EXPECT_THROW(
            p.FindFiles(dir.string() + "/*",
                        [](const TSearchRec&) -> bool { throw std::runtime_error("stop"); }),
            std::runtime_error);
        EXPECT_THROW(p.ListDirectory(dir.string(),
                                     [](const TDirEntry&) { throw std::runtime_error("stop"); }),
                     std::runtime_error);
    }
    EXPECT_EQ(before, OpenDescriptors());
    fs::remove_all(dir);
}

// One update at a time: the lock is one per machine, also against a second
// take in the same process, and free again once its holder lets go.
TEST(HostPlatform, TheRunLockIsHeldByOneAtATime) {
    // A temporary directory of its own: other test runs on this machine
    // take the machine's lock too.
    const fs::path dir = fs::temp_directory_path() / ("oup-lock-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const char* saved = std::getenv("TMPDIR");
    const std::string savedDir = saved ? saved : "";
    ::setenv("TMPDIR", dir.c_str(), 1);
    TPlatform& p = SystemPlatform();
    TRunLockResult first = p.TakeRunLock();
    ASSERT_TRUE(first.Lock) << first.Note;
    const TRunLockResult second = p.TakeRunLock();
    EXPECT_FALSE(second.Lock);
    EXPECT_TRUE(second.HeldElsewhere);
    first.Lock.reset();
    EXPECT_TRUE(p.TakeRunLock().Lock);
    if (saved) ::setenv("TMPDIR", savedDir.c_str(), 1);
    else ::unsetenv("TMPDIR");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace oup
