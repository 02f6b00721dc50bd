/* Planted beside the updater as mpr.dll and as winmm.dll (no KnownDLLs):
   wherever it is loaded, it leaves a marker beside itself, its own name with
   ".ran" appended. (Wine stubs the calls it lacks.) */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    wchar_t path[MAX_PATH + 8];
    const DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    if (reason != DLL_PROCESS_ATTACH || n == 0 || n >= MAX_PATH) return TRUE;
    lstrcatW(path, L".ran");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}
