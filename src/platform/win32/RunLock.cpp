#include "platform/win32/RunLock.h"

#include <string>

#include "platform/win32/Handle.h"
#include "platform/win32/WinApi.h"

#include <sddl.h>

namespace oup::win32 {

namespace {

constexpr const wchar_t* kNamespace = L"Ostrel.oupdate";
constexpr const wchar_t* kMutexInNamespace = L"Ostrel.oupdate\\run";
constexpr const char* kGlobalMutexText = "Global\\Ostrel.oupdate.run";
constexpr const wchar_t* kGlobalMutex = L"Global\\Ostrel.oupdate.run";
// Full access for SYSTEM and the Administrators, nothing for anyone else,
// nothing inherited.
constexpr const wchar_t* kAdminsOnly = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

struct TNamespaceTraits {
    using THandleType = HANDLE;
    static THandleType Invalid() { return nullptr; }
    static void Close(THandleType h) { ::ClosePrivateNamespace(h, 0); }
};
using TNamespaceHandle = TUniqueHandle<TNamespaceTraits>;

struct TBoundaryTraits {
    using THandleType = HANDLE;
    static THandleType Invalid() { return nullptr; }
    static void Close(THandleType h) { ::DeleteBoundaryDescriptor(h); }
};
using TBoundaryHandle = TUniqueHandle<TBoundaryTraits>;

// A security descriptor made from SDDL, freed with it.
class TSecurity {
public:
    explicit TSecurity(const wchar_t* sddl) {
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_,
                                                               nullptr);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    ~TSecurity() {
        if (descriptor_) ::LocalFree(descriptor_);
    }
    TSecurity(const TSecurity&) = delete;
    TSecurity& operator=(const TSecurity&) = delete;
    explicit operator bool() const { return descriptor_ != nullptr; }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// The owned mutex, and the namespace it lives in: the namespace must stay
// open while the lock is held, or the next run would make a new one.
class TWin32RunLock : public TRunLock {
public:
    TWin32RunLock(TNamespaceHandle space, TObjectHandle mutex)
        : space_(std::move(space)), mutex_(std::move(mutex)) {}
    ~TWin32RunLock() override { ::ReleaseMutex(mutex_.Get()); }

private:
    TNamespaceHandle space_;  // closed after the mutex
    TObjectHandle mutex_;
};

std::string ErrorNote(const char* what, DWORD error) {
    return std::string(what) + " (system error " + std::to_string(error) + ")";
}

// Owns the mutex of this name, or finds it owned by another process.
TRunLockResult Acquire(TNamespaceHandle space, const wchar_t* name, TSecurity& security,
                       std::string note) {
    TRunLockResult result;
    result.Note = std::move(note);
    TObjectHandle mutex(::CreateMutexW(security.Attributes(), FALSE, name));
    if (!mutex) {
        const DWORD error = ::GetLastError();
        // There, and made by an account whose object this one may not open:
        // as held as can be.
        result.HeldElsewhere = error == ERROR_ACCESS_DENIED;
        if (!result.HeldElsewhere) result.Note = ErrorNote("the lock cannot be made", error);
        return result;
    }
    switch (::WaitForSingleObject(mutex.Get(), 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // a run that ended without letting go
            result.Lock = std::make_unique<TWin32RunLock>(std::move(space), std::move(mutex));
            break;
        case WAIT_TIMEOUT:
            result.HeldElsewhere = true;
            break;
        default:
            result.Note = ErrorNote("the lock cannot be taken", ::GetLastError());
            break;
    }
    return result;
}

}  // namespace

TRunLockResult TakeRunLock() {
    TRunLockResult failed;
    TSecurity security(kAdminsOnly);
    if (!security) {
        failed.Note = ErrorNote("the lock's rights cannot be made", ::GetLastError());
        return failed;
    }
    DWORD error = ERROR_CALL_NOT_IMPLEMENTED;
    if (TBoundaryHandle boundary(::CreateBoundaryDescriptorW(kNamespace, 0)); boundary) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        HANDLE grown = boundary.Get();
        if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) ||
            !::AddSIDToBoundaryDescriptor(&grown, sid)) {
            failed.Note = ErrorNote("the namespace's boundary cannot be made", ::GetLastError());
            return failed;
        }
        boundary.Release();  // the call may have moved the descriptor
        boundary.Reset(grown);
        // Created by the first run, opened by the others; when the last run
        // let go between the two calls, it is created afresh.
        for (int attempt = 0; attempt < 3; ++attempt) {
            TNamespaceHandle space(
                ::CreatePrivateNamespaceW(security.Attributes(), boundary.Get(), kNamespace));
            if (!space && (error = ::GetLastError()) == ERROR_ALREADY_EXISTS) {
                space.Reset(::OpenPrivateNamespaceW(boundary.Get(), kNamespace));
                if (!space) error = ::GetLastError();
            }
            if (space) return Acquire(std::move(space), kMutexInNamespace, security, "");
            if (error == ERROR_CALL_NOT_IMPLEMENTED) break;
        }
    }
    if (error != ERROR_CALL_NOT_IMPLEMENTED) {
        // Never a name that others could take first instead: running without
        // the lock is better than a lock that anyone could hold for ever.
        failed.Note = ErrorNote("the private namespace cannot be opened", error);
        return failed;
    }
    return Acquire(TNamespaceHandle(), kGlobalMutex, security,
                   std::string("this system has no private namespaces: the lock is the mutex ") +
                       kGlobalMutexText + ", for SYSTEM and the Administrators only");
}

}  // namespace oup::win32
