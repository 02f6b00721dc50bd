#define PSAPI_VERSION 2  // K32GetMappedFileNameW, in kernel32 since Windows 7
#include "platform/win32/RunningModule.h"

#include <psapi.h>

#include <vector>

namespace oup::win32 {

namespace {

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int length = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), n, nullptr, nullptr);
    return text;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), n);
    return wide;
}

}  // namespace

std::string MappedModuleName() {
    const HMODULE module = ::GetModuleHandleW(nullptr);
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetMappedFileNameW(::GetCurrentProcess(), module, buffer.data(),
                                             static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        // A name that fills the buffer may have been cut.
        if (n + 1 < buffer.size()) return ToUtf8(std::wstring(buffer.data(), n));
        if (buffer.size() >= 32768) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

TOpenedModule OpenMappedModule(const std::string& mappedName) {
    TOpenedModule opened;
    opened.Shown = FromUtf8(mappedName);
    // An NT name: "\??\C:\..." is reached as "\\?\C:\...", a device path
    // ("\Device\HarddiskVolume3\...") through "\\?\GLOBALROOT".
    const std::wstring& name = opened.Shown;
    const std::wstring path =
        name.rfind(L"\\??\\", 0) == 0 ? L"\\\\?\\" + name.substr(4) : L"\\\\?\\GLOBALROOT" + name;
    // Others may read it; nobody may write it, or delete or rename it.
    opened.Handle.Reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened.Handle) opened.Error = ::GetLastError();
    return opened;
}

TMappedImage MappedModuleImage() {
    const auto* base = reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr));
    if (!base) return TMappedImage();
    // The loader's own headers of the running program: mapped whole, and as
    // trustworthy as the code that reads them.
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    TMappedImage image;
    image.Bytes = base;
    image.Size = nt->OptionalHeader.SizeOfImage;
    image.Address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base));
    return image;
}

}  // namespace oup::win32
