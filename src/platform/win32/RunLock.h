// The updater's machine-wide lock on Windows: one update at a time.
#pragma once
#include "platform/Platform.h"

namespace oup::win32 {

// A mutex in a private namespace bounded by the Administrators, which no
// standard user can create or open: one who could would hold the lock for
// ever and keep every update of the fleet away with exit status 1618.
// Where the system has no private namespaces (Wine), a mutex of the name
// Global\Ostrel.oupdate.run that admits only SYSTEM and the Administrators;
// the Note says so.
TRunLockResult TakeRunLock();

}  // namespace oup::win32
