// Program entry of the updater: the wizard on a window, or with /S the whole
// job without one.
#include "platform/win32/WinApi.h"

#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/Update.h"
#include "app/win32/UpdateForm.h"
#include "platform/Platform.h"
#include "platform/win32/AnsiNames.h"
#include "platform/win32/DllSearch.h"

namespace {

using oup::win32::ShownAnsi;
using oup::win32::ToAnsiExact;
using oup::win32::UsableAnsiPathToCreate;

// One argument in the ANSI code page. A path outside it is taken by its
// short form, an option's value ("/LOG=FILE", "/DIR=A;B") path by path. A
// path with no usable form goes on as shown (with '?', which names no file)
// and is noted in unusable.
std::string AnsiArgument(const std::wstring& arg, std::vector<std::string>& unusable) {
    std::string ansi;
    if (ToAnsiExact(arg, ansi)) return ansi;
    const bool option = !arg.empty() && arg[0] == L'/';
    const size_t equals = arg.find(L'=');
    // An option name outside the code page is no option of ours.
    if (option && equals == std::wstring::npos) return ShownAnsi(arg);
    const size_t valueStart = option ? equals + 1 : 0;
    ansi = ShownAnsi(arg.substr(0, valueStart));
    for (size_t start = valueStart;;) {
        // A package path is one path whatever it holds.
        size_t end = option ? arg.find(L';', start) : std::wstring::npos;
        if (end == std::wstring::npos) end = arg.size();
        const std::wstring path = arg.substr(start, end - start);
        std::string usable = UsableAnsiPathToCreate(path);
        if (usable.empty() && !path.empty()) {
            usable = ShownAnsi(path);
            unusable.push_back(usable);
        }
        ansi += usable;
        if (end == arg.size()) return ansi;
        ansi += ';';
        start = end + 1;
    }
}

// The program's command line in the ANSI code page, from the UTF-16 one: the
// A command line would carry '?' for every character the code page lacks.
// Argument 0 is the module's own path whatever the caller typed (a bare
// "oupdate" would name no file).
oup::TCommandLine ProgramCommandLine(oup::TPlatform& platform) {
    std::vector<std::string> args, unusable;
    std::string modulePath;
    try {
        modulePath = platform.ModulePath();
    } catch (const oup::ENameNotRepresentable& e) {
        modulePath = e.Path;
        unusable.push_back(e.Path);
    }
    int count = 0;
    if (wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        args.push_back(modulePath.empty() && count > 0 ? AnsiArgument(argv[0], unusable)
                                                       : modulePath);
        for (int i = 1; i < count; ++i) args.push_back(AnsiArgument(argv[i], unusable));
        ::LocalFree(argv);
    } else {
        args.push_back(modulePath);
    }
    oup::TCommandLine commandLine = oup::ParseCommandLine(args);
    commandLine.UnusablePaths = unusable;
    return commandLine;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // Before anything can load a library by name.
    oup::win32::LoadLibrariesFromSystemDirectoryOnly();
    // Known once the command line is read, or at once where nobody could see
    // a window. In unattended mode an error never becomes a message box: run
    // as System in session 0, nobody could answer it, and the deployment
    // tool would wait for its own time-out.
    oup::TPlatform* unattended = nullptr;
    std::string logFile, reportFile;
    const auto fail = [&](const char* text) {
        if (unattended)
            oup::ReportUnattendedError(*unattended, logFile, text);
        else
            ::MessageBoxA(nullptr, text, oup::kApplicationTitle, MB_OK | MB_ICONERROR);
        oup::WriteErrorReport(oup::SystemPlatform(), reportFile, oup::ecNoPackage, text);
        return oup::ecNoPackage;
    };
    try {
        oup::TPlatform& platform = oup::SystemPlatform();
        if (platform.RunsWithoutUser()) unattended = &platform;
        oup::TCommandLine commandLine = ProgramCommandLine(platform);
        oup::RunWithoutWindowsWhereNobodySees(platform, commandLine);
        reportFile = commandLine.ReportFile;
        // No window at all in unattended mode.
        if (commandLine.Silent) {
            unattended = &platform;
            logFile = commandLine.LogFile;
            return oup::RunUnattended(platform, commandLine);
        }
        if (!commandLine.UsageError.empty() || commandLine.ShowUsage) {
            const bool wrong = !commandLine.UsageError.empty();
            const std::string text =
                wrong ? commandLine.UsageError + "\n\n" + oup::UsageLine() : oup::UsageLine();
            ::MessageBoxA(nullptr, text.c_str(), oup::kApplicationTitle,
                          MB_OK | (wrong ? MB_ICONERROR : MB_ICONINFORMATION));
            if (wrong) oup::WriteErrorReport(platform, reportFile, oup::ecNoPackage, commandLine.UsageError);
            return wrong ? oup::ecNoPackage : oup::ecSuccess;
        }

        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof controls;
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_ANIMATE_CLASS |
                         ICC_PROGRESS_CLASS;
        ::InitCommonControlsEx(&controls);

        oup::win32::TUpdateForm form(instance, platform, commandLine);
        form.Create();
        form.Show(showCommand);
        return form.RunMessageLoop();
    } catch (const std::exception& e) {
        return fail(e.what());
    } catch (...) {
        return fail("An unexpected error occurred.");
    }
}
