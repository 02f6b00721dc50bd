/* exitstatus COMMAND LINE...: starts the command line that follows its own
   name, waits for it and prints "status=N" with the whole exit status. A
   Linux parent of Wine sees only the low 8 bits of a status (3010 arrives as
   194), so the status is read here, inside Wine. Exit status 1 when the
   command cannot be started. */
#include <stdio.h>
#include <windows.h>

int main(void) {
    char* line = GetCommandLineA();
    /* Skip this program's own name, quoted or not, and the blanks after it. */
    if (*line == '"') {
        for (++line; *line && *line != '"'; ++line) {
        }
        if (*line) ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t') ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        printf("cannot start %s: error %lu\n", line, GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("status=%lu\n", status);
    return 0;
}
