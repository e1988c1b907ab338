#include "explorer_window.hpp"

#ifdef _WIN32
#include <array>
#include <cstdio>
#include <cwchar>
#include <string_view>

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#endif

namespace kestrave {

#ifdef _WIN32
namespace {

bool isConsole(DWORD standardHandle)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

// A console that only this process is attached to was made for it. One
// shared with a shell, a batch file or another program is theirs: they go on
// showing it after kestrave exits.
bool consoleIsOurs()
{
    std::array<DWORD, 2> processes{};
    return GetConsoleProcessList(processes.data(), static_cast<DWORD>(processes.size())) == 1;
}

bool findProcess(HANDLE snapshot, DWORD id, PROCESSENTRY32W& entry)
{
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more != 0; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == id) {
            return true;
        }
    }
    return false;
}

// Windows reuses the id of a process that has ended, so the process that holds
// our parent's id now is our parent only if it started before we did. When it
// cannot be asked, it is not taken for our parent: not waiting is the safe
// mistake.
bool startedBeforeUs(DWORD id)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) {
        return false;
    }
    FILETIME theirs{};
    FILETIME ours{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    const bool older = GetProcessTimes(process, &theirs, &exited, &kernel, &user) != 0 &&
                       GetProcessTimes(GetCurrentProcess(), &ours, &exited, &kernel, &user) != 0 &&
                       CompareFileTime(&theirs, &ours) <= 0;
    (void)CloseHandle(process);
    return older;
}

bool parentIsExplorer()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32W entry{};
    const bool explorer = findProcess(snapshot, GetCurrentProcessId(), entry) &&
                          findProcess(snapshot, entry.th32ParentProcessID, entry) &&
                          _wcsicmp(entry.szExeFile, L"explorer.exe") == 0;
    (void)CloseHandle(snapshot);
    return explorer && startedBeforeUs(entry.th32ProcessID);
}

UINT heldStatus = 0;

// Closing the window would otherwise end the process with a status of
// Windows' choosing.
BOOL WINAPI exitWithHeldStatus(DWORD /*event*/)
{
    ExitProcess(heldStatus);
}

// Alt+Tab into the window, or Shift on its own, is no answer to the prompt.
bool isModifier(WORD key)
{
    switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

void waitForKey(HANDLE input)
{
    INPUT_RECORD record{};
    DWORD count = 0;
    while (ReadConsoleInputW(input, &record, 1, &count) != 0 && count == 1) {
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (record.EventType == KEY_EVENT && key.bKeyDown != 0 && !isModifier(key.wVirtualKeyCode)) {
            return;
        }
    }
}

}  // namespace

bool startedInWindowOfItsOwn()
{
    return isConsole(STD_INPUT_HANDLE) && isConsole(STD_OUTPUT_HANDLE) && isConsole(STD_ERROR_HANDLE) &&
           consoleIsOurs() && parentIsExplorer();
}

void holdWindowOpen(int status)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    // The prompt comes after everything the run printed.
    if (std::fflush(stdout) != 0 || GetConsoleMode(input, &mode) == 0) {
        return;
    }
    heldStatus = static_cast<UINT>(status);
    (void)SetConsoleCtrlHandler(exitWithHeldStatus, TRUE);
    // Keys pressed while the file was being converted do not count. Without
    // processed input, Ctrl+C is a key like any other.
    (void)FlushConsoleInputBuffer(input);
    if (SetConsoleMode(input,
                       mode & ~DWORD{ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT}) == 0) {
        return;
    }
    constexpr std::wstring_view prompt = L"Press any key to close this window.\r\n";
    DWORD written = 0;
    if (WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), prompt.data(), static_cast<DWORD>(prompt.size()),
                      &written, nullptr) != 0 &&
        written == prompt.size()) {
        waitForKey(input);
    }
    (void)SetConsoleMode(input, mode);
}

#else

bool startedInWindowOfItsOwn()
{
    return false;
}

void holdWindowOpen(int /*status*/) {}

#endif

}  // namespace kestrave
