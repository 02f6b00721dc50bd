// A self-contained update on Windows (under Wine in CI): oupack.exe appends a
// package to a real executable, and the running executable finds it through
// the headers the loader mapped and restores it. Kept to three process starts.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/UserInterface.h"
#include "package/PackageLocation.h"
#include "package/PackageWriter.h"
#include "package/backup.h"
#include "platform/Platform.h"
#include "support/PackageKit.h"

namespace oup {
namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Runs a program with its output into outFile; returns its exit code.
DWORD RunProgram(const std::string& commandLine, const std::string& outFile) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = ::CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 9999;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    DWORD code = 9998;
    if (::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        ::GetExitCodeProcess(pi.hProcess, &code);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::CloseHandle(out);
    return code;
}

std::string Native(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string ReadAll(TPlatform& p, const std::string& path) {
    auto f = p.OpenFile(path, TOpenMode::ReadShared);
    std::string bytes(static_cast<size_t>(f->Size()), '\0');
    f->ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

void WriteAll(TPlatform& p, const std::string& path, const std::string& bytes, int32_t date) {
    auto f = p.OpenFile(path, TOpenMode::Create);
    f->WriteBuffer(bytes.data(), bytes.size());
    EXPECT_TRUE(f->SetLastWriteDos(date));
}

TEST(SelfExtract, AppendedPackageIsRestoredFromTheRunningExecutable) {
#if !defined(OUP_OUPACK) || !defined(OUP_SELFEXTRACT)
    GTEST_SKIP() << "needs oupack.exe and oup_selfextract.exe";
#else
    TPlatform& p = SystemPlatform();
    const std::string oupack = Native(OUP_OUPACK), selfextract = Native(OUP_SELFEXTRACT);
    const std::string dir = p.GetTempDir() + "oup-selfextract-" + std::to_string(::GetCurrentProcessId()) + "\\";
    ASSERT_TRUE(p.ForceDirectories(dir));

    const int32_t date = 0x325C86FA;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"oupdate.inf", test::TextBytes(40000, 1)},
        {"payload.bin", test::NoiseBytes(20000, 2)},
        {"oupdate.mem", ""},
    };
    const std::string package = dir + "update.oup";
    {
        TPackageWriter writer(p, package);
        for (const auto& [name, content] : files) {
            WriteAll(p, dir + name, content, date);
            writer.AddFile(dir + name);
        }
        writer.Finish();
    }

    // The stripped test program carries nothing behind its image yet.
    ASSERT_EQ(p.QueryFileSize(selfextract), static_cast<int64_t>(*ImageEndOfFile(p, selfextract)));
    const std::string self = dir + "self.exe";
    ASSERT_EQ(0u, RunProgram(Quote(oupack) + " append " + Quote(selfextract) + " " + Quote(package) + " -o " +
                          Quote(self),
                      dir + "append.log"))
        << ReadAll(p, dir + "append.log");
    const std::string exeBytes = ReadAll(p, selfextract);
    ASSERT_EQ(exeBytes + ReadAll(p, package), ReadAll(p, self));

    const std::string out = dir + "out";
    const DWORD code = RunProgram(Quote(self) + " " + Quote(out), dir + "self.log");
    const std::string log = ReadAll(p, dir + "self.log");
    ASSERT_EQ(0u, code) << log;
    // Found through the mapped headers, which agree with the file's.
    const std::string end = std::to_string(exeBytes.size());
    EXPECT_NE(std::string::npos, log.find("mapped " + end + " file " + end + " imageend " + end)) << log;
    for (const auto& [name, content] : files) {
        EXPECT_EQ(content, ReadAll(p, out + "\\" + name)) << name;
        EXPECT_EQ(date, p.FileAge(out + "\\" + name)) << name;
    }

#ifdef OUP_OUPDATE_EXE
    // The real updater takes a package the same way.
    const std::string oupdate = Native(OUP_OUPDATE_EXE), update = dir + "self-update.exe";
    ASSERT_EQ(0u, RunProgram(Quote(oupack) + " append " + Quote(oupdate) + " " + Quote(package) + " -o " +
                          Quote(update),
                      dir + "append2.log"))
        << ReadAll(p, dir + "append2.log");
    const auto imageEnd = ImageEndOfFile(p, update);
    ASSERT_TRUE(imageEnd);
    EXPECT_EQ(p.QueryFileSize(oupdate), static_cast<int64_t>(*imageEnd));
    auto stream = p.OpenFile(update, TOpenMode::ReadShared);
    stream->SetPosition(*imageEnd);
    TSilentUserInterface ui;
    TBackupFile backup(p, ui);
    EXPECT_TRUE(backup.RestoreStream(*stream, dir + "out2"));
    EXPECT_EQ(files[0].second, ReadAll(p, dir + "out2\\oupdate.inf"));
#endif
#endif
}

}  // namespace
}  // namespace oup
