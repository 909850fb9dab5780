/* A stand-in for a running host: loads a plug-in module as a host does (which
 * keeps the file open), writes READY_FILE, and holds the module until
 * RELEASE_FILE exists (at most 60 s).
 *   holdopen.exe MODULE READY_FILE RELEASE_FILE */
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc != 4) return 2;
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    for (int waited = 0; waited < 60000; waited += 50) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    FreeLibrary(module);
    return 0;
}
