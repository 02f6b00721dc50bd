/* swaplaunch PROGRAM MOVED OTHER "ARGUMENTS": starts PROGRAM suspended (mapped, none of its
   code run), renames its file to MOVED, copies OTHER to its path, then lets it run. Prints
   "swapped" and ends with the program's exit status; 255 when it cannot start or swap. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    static wchar_t line[32768];
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    DWORD status = 255;
    if (argc != 5) return 255;
    _snwprintf(line, 32767, L"\"%ls\" %ls", argv[1], argv[4]);
    if (!CreateProcessW(argv[1], line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup,
                        &process))
        return 255;
    if (!MoveFileW(argv[1], argv[2]) || !CopyFileW(argv[3], argv[1], TRUE))
        return TerminateProcess(process.hProcess, 255), 255;
    printf("swapped\n");
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    return (int)status;
}
