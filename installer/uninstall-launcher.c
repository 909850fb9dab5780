/* uninstall.exe in Patinex's own folder: runs the uninstaller proper
 * (uninstall.dat beside it, an NSIS program) from a copy in a folder of its
 * own under the temporary folder, waits for it, and exits with its exit code.
 * So "uninstall.exe /S" returns when the removal is done. The copy can delete
 * every file of Patinex's own folder: this program, while it runs, can only be
 * renamed, which the copy does (moving it beside itself, to be deleted at the
 * next restart); NSIS's own programs keep their file open for reading, which
 * forbids even that. Once the copy has ended, this program deletes it.
 *   uninstall.exe [/S]   ->   <temp>\patinex-uninstall-<n>\uninstall.exe [/S] /FROM="<folder>" */
#include <windows.h>
#include <stdio.h>

/* The command line after the program's own name. */
static const wchar_t *Arguments(const wchar_t *line)
{
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

static int Fail(const wchar_t *what, const wchar_t *path, int quiet)
{
    if (!quiet) {
        wchar_t text[2 * MAX_PATH];
        _snwprintf(text, 2 * MAX_PATH, L"%ls\n%ls", what, path);
        text[2 * MAX_PATH - 1] = 0;
        MessageBoxW(NULL, text, L"Patinex Uninstall", MB_OK | MB_ICONSTOP);
    }
    return 2;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR unused, int show)
{
    (void)instance; (void)previous; (void)unused; (void)show;
    const wchar_t *args = Arguments(GetCommandLineW());
    int quiet = wcsstr(args, L"/S") != NULL;

    wchar_t folder[MAX_PATH], worker[MAX_PATH], temp[MAX_PATH], copy[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    wchar_t *slash = wcsrchr(folder, L'\\');
    if (!slash) return 2;
    *slash = 0;
    _snwprintf(worker, MAX_PATH, L"%ls\\uninstall.dat", folder);
    worker[MAX_PATH - 1] = 0;

    wchar_t base[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, base)) return Fail(L"No temporary folder.", L"", quiet);
    for (unsigned n = GetTickCount() & 0xffff, tries = 0;; ++n, ++tries) {
        _snwprintf(temp, MAX_PATH, L"%lspatinex-uninstall-%u", base, n);
        temp[MAX_PATH - 1] = 0;
        if (CreateDirectoryW(temp, NULL)) break;
        if (tries > 100) return Fail(L"Cannot make a folder in", base, quiet);
    }
    _snwprintf(copy, MAX_PATH, L"%ls\\uninstall.exe", temp);
    copy[MAX_PATH - 1] = 0;
    if (!CopyFileW(worker, copy, TRUE)) {
        RemoveDirectoryW(temp);
        return Fail(L"Cannot copy the uninstaller:", worker, quiet);
    }

    size_t size = wcslen(copy) + wcslen(args) + wcslen(folder) + 32;
    wchar_t *command = (wchar_t *)HeapAlloc(GetProcessHeap(), 0, size * sizeof(wchar_t));
    if (!command) return 2;
    _snwprintf(command, size, L"\"%ls\" %ls /FROM=\"%ls\"", copy, args, folder);
    command[size - 1] = 0;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(copy, command, NULL, NULL, FALSE, 0, NULL, temp, &startup, &process)) {
        DeleteFileW(copy);
        RemoveDirectoryW(temp);
        return Fail(L"Cannot start the uninstaller:", copy, quiet);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    /* The copy has ended, so its file can go now; the folder goes too unless
     * it holds this program's file, moved there to wait for the restart. */
    DeleteFileW(copy);
    RemoveDirectoryW(temp);
    return (int)code;
}
