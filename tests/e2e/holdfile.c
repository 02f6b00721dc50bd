/* holdfile FILE READY RELEASE: opens FILE with no sharing at all, as a
   running program holds its own executable, creates READY, and keeps the
   file open until RELEASE exists (or 120 s have passed). Exit status 1 when
   FILE cannot be opened. */
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    for (int i = 0; i < 1200 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    CloseHandle(file);
    return 0;
}
