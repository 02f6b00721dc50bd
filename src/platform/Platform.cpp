#include "platform/Platform.h"

#include <chrono>

#include "common/Errors.h"

namespace oup {

std::string TPlatform::SiblingPath(const std::string& path, const std::string& ext) {
    return ChangeFileExt(path, ext);
}

std::string PrivateDirSecurity(bool elevated, const std::string& userSid) {
    // P: nothing inherited from the parent; OICI: files and folders inside
    // inherit these entries.
    const std::string admins = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    if (elevated) return admins + "S:(ML;OICI;NWNRNX;;;HI)";
    if (userSid.empty()) return std::string();
    return admins + "(A;OICI;FA;;;" + userSid + ")";
}

bool TPlatform::CreatePrivateDir(const std::string& path) {
    const std::string sddl = PrivateDirSecurity(IsElevated(), UserSid());
    return !sddl.empty() && CreateDirWithSecurity(path, sddl);
}

TDateTime TPlatform::UtcNow() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    constexpr double kUnixEpoch = 25569.0;  // 01.01.1970 as a date-time value
    return kUnixEpoch + static_cast<double>(ms) / 86400000.0;
}

std::string TPlatform::AnsiToUtf8(const std::string& text) { return Utf8From1252(text); }

TRunLockResult TPlatform::TakeRunLock() {
    TRunLockResult none;
    none.Note = "this platform has no machine-wide lock";
    return none;
}

TSignedData TPlatform::DecodeSignedData(const std::vector<uint8_t>&, bool) {
    TSignedData none;
    none.Status = TSignedDataStatus::Unsupported;
    none.Detail = "no cryptography on this platform";
    return none;
}

bool TPlatform::Sha256(TStream&, TSha256&, int64_t&) { return false; }

bool TPlatform::FileExists(const std::string& path) {
    const uint32_t a = GetAttributes(path);
    return a != kInvalidAttributes && !(a & faDirectory);
}

bool TPlatform::DirectoryExists(const std::string& path) {
    const uint32_t a = GetAttributes(path);
    return a != kInvalidAttributes && (a & faDirectory);
}

bool TPlatform::ForceDirectories(const std::string& path) {
    if (path.empty()) throw EInOutError(kCannotCreateDirText);
    const std::string dir = ExcludeTrailingBackslash(path);
    // A drive root ("C:") or a path with no parent left is not created here.
    if (dir.size() < 3 || ExtractFilePath(dir) == dir || DirectoryExists(dir))
        return DirectoryExists(dir);
    const std::string parent = ExtractFilePath(dir);
    if (!parent.empty()) ForceDirectories(parent);
    CreateDir(dir);
    return DirectoryExists(dir);
}

int32_t TPlatform::FileAge(const std::string& path) {
    int32_t age = -1;
    FindFiles(path, [&](const TSearchRec& r) {
        if (!(r.Attr & faDirectory)) age = r.Time;
        return false;
    });
    return age;
}

int64_t TPlatform::QueryFileSize(const std::string& path) {
    int64_t size = -1;
    FindFiles(path, [&](const TSearchRec& r) {
        size = (r.Attr & faDirectory) ? -1 : r.Size;
        return false;
    });
    return size;
}

void RemoveTree(TPlatform& platform, const std::string& dir) {
    std::vector<TSearchRec> entries;
    platform.FindFiles(dir + "\\*.*", [&](const TSearchRec& r) {
        if (r.Name != "." && r.Name != "..") entries.push_back(r);
        return true;
    });
    for (const TSearchRec& r : entries) {
        const std::string path = dir + "\\" + r.Name;
        // A link is removed itself, never followed into what it points at.
        if ((r.Attr & faDirectory) && !(r.Attr & faReparsePoint))
            RemoveTree(platform, path);
        else if (r.Attr & faDirectory)
            platform.RemoveDir(path);
        else
            platform.DeleteFile(path);
    }
    platform.RemoveDir(dir);
}

}  // namespace oup
