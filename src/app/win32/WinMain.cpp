// Program entry of the updater: the wizard on a window, or with /S the whole
// job without one.
#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <exception>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Update.h"
#include "app/win32/UpdateForm.h"
#include "platform/Platform.h"

namespace {

// The program's arguments in the ANSI code page. Argument 0 is the module's
// own path whatever the caller typed (a bare "oupdate" would name no file).
std::vector<std::string> ProgramArguments(oup::TPlatform& platform) {
    std::vector<std::string> args;
    for (int i = 0; i < __argc; ++i) args.emplace_back(__argv[i] ? __argv[i] : "");
    const std::string modulePath = platform.ModulePath();
    if (args.empty())
        args.push_back(modulePath);
    else if (!modulePath.empty())
        args[0] = modulePath;
    return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    try {
        oup::TPlatform& platform = oup::SystemPlatform();
        const oup::TCommandLine commandLine = oup::ParseCommandLine(ProgramArguments(platform));
        // No window at all in unattended mode.
        if (commandLine.Silent) return oup::RunUnattended(platform, commandLine);
        if (!commandLine.UsageError.empty() || commandLine.ShowUsage) {
            const bool wrong = !commandLine.UsageError.empty();
            const std::string text =
                wrong ? commandLine.UsageError + "\n\n" + oup::UsageLine() : oup::UsageLine();
            ::MessageBoxA(nullptr, text.c_str(), oup::kApplicationTitle,
                          MB_OK | (wrong ? MB_ICONERROR : MB_ICONINFORMATION));
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
        ::MessageBoxA(nullptr, e.what(), oup::kApplicationTitle, MB_OK | MB_ICONERROR);
    } catch (...) {
        ::MessageBoxA(nullptr, "An unexpected error occurred.", oup::kApplicationTitle,
                      MB_OK | MB_ICONERROR);
    }
    return oup::ecNoPackage;
}
