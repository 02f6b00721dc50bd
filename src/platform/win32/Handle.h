// Owning wrappers for Win32 handles: each closes its handle exactly once, can
// be moved but not copied, and so cannot leak a handle on an early return or
// an exception.
#pragma once
#include <utility>

#include "platform/win32/WinApi.h"

namespace oup::win32 {

template <typename Traits>
class TUniqueHandle {
public:
    using THandleType = typename Traits::THandleType;

    TUniqueHandle() = default;
    explicit TUniqueHandle(THandleType handle) : handle_(handle) {}
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    TUniqueHandle(TUniqueHandle&& other) noexcept : handle_(other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~TUniqueHandle() { Reset(); }

    THandleType Get() const { return handle_; }
    bool IsValid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    // Gives up ownership without closing.
    THandleType Release() { return std::exchange(handle_, Traits::Invalid()); }
    // Closes the handle held (if any) and takes the new one.
    void Reset(THandleType handle = Traits::Invalid()) {
        const THandleType old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    THandleType handle_ = Traits::Invalid();
};

// CreateFileA handles: INVALID_HANDLE_VALUE means none.
struct TFileHandleTraits {
    using THandleType = HANDLE;
    static THandleType Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(THandleType h) { ::CloseHandle(h); }
};

// FindFirstFileA handles: closed with FindClose, not CloseHandle.
struct TFindHandleTraits {
    using THandleType = HANDLE;
    static THandleType Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(THandleType h) { ::FindClose(h); }
};

// Handles of kernel objects that give null for none (CreateMutexW, OpenProcess).
struct TObjectHandleTraits {
    using THandleType = HANDLE;
    static THandleType Invalid() { return nullptr; }
    static void Close(THandleType h) { ::CloseHandle(h); }
};

using TFileHandle = TUniqueHandle<TFileHandleTraits>;
using TFindHandle = TUniqueHandle<TFindHandleTraits>;
using TObjectHandle = TUniqueHandle<TObjectHandleTraits>;

}  // namespace oup::win32
