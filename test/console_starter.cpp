// Starts a program in a console window of its own, as Explorer does, then
// acts on it as the test asks. Copied to explorer.exe it stands in for
// Explorer; under any other name, for any other program that starts one.
//
//   console_starter [--shared-console] PROGRAM [ARGUMENT...]
//
// With --shared-console the starter makes a console for itself and starts
// the program in it, as a shell or a batch file does. The arguments must hold
// no double quote. Commands come one a line on standard input, and each is
// answered on standard output:
//
//   state   "running", or "exited N" with the program's exit status
//   screen  the lines its window shows, without trailing blanks, then "."
//   key     "typed" once a key press and release are in its console's input
//   wait    waits up to 30 s for it to end: "exited N", or "running"
//
// At the end of standard input a program still running is ended.

#include <windows.h>

#include <string>
#include <vector>

namespace {

// Saved at the start: attaching to another console may replace them.
HANDLE commands = INVALID_HANDLE_VALUE;
HANDLE answers = INVALID_HANDLE_VALUE;

void answer(const std::wstring& text)
{
    const std::wstring line = text + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    (void)WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), size,
                              nullptr, nullptr);
    DWORD written = 0;
    (void)WriteFile(answers, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

bool nextCommand(std::string& command)
{
    command.clear();
    char c = 0;
    DWORD count = 0;
    while (ReadFile(commands, &c, 1, &count, nullptr) != 0 && count == 1) {
        if (c == '\n') {
            return true;
        }
        if (c != '\r') {
            command += c;
        }
    }
    return !command.empty();
}

std::wstring state(HANDLE process)
{
    DWORD status = 0;
    if (GetExitCodeProcess(process, &status) == 0) {
        return L"unknown";
    }
    return status == STILL_ACTIVE ? L"running" : L"exited " + std::to_wstring(status);
}

// Runs `act` attached to the program's console, with that console's output
// or input buffer open; false when the console cannot be reached.
template <typename Act>
bool withConsole(DWORD processId, const wchar_t* buffer, Act act)
{
    (void)FreeConsole();
    if (AttachConsole(processId) == 0) {
        return false;
    }
    HANDLE handle = CreateFileW(buffer, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    const bool done = handle != INVALID_HANDLE_VALUE && act(handle);
    if (handle != INVALID_HANDLE_VALUE) {
        (void)CloseHandle(handle);
    }
    (void)FreeConsole();
    return done;
}

std::vector<std::wstring> screen(DWORD processId)
{
    std::vector<std::wstring> lines;
    (void)withConsole(processId, L"CONOUT$", [&](HANDLE output) {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(output, &info) == 0) {
            return false;
        }
        for (SHORT row = 0; row < info.dwSize.Y; ++row) {
            std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
            DWORD read = 0;
            if (ReadConsoleOutputCharacterW(output, line.data(), static_cast<DWORD>(line.size()),
                                            COORD{0, row}, &read) == 0) {
                return false;
            }
            line.resize(read);
            line.erase(line.find_last_not_of(L' ') + 1);
            lines.push_back(line);
        }
        return true;
    });
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

bool typeKey(DWORD processId)
{
    return withConsole(processId, L"CONIN$", [](HANDLE input) {
        std::vector<INPUT_RECORD> records(2);
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].EventType = KEY_EVENT;
            KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            key.bKeyDown = i == 0 ? TRUE : FALSE;
            key.wRepeatCount = 1;
            key.wVirtualKeyCode = 'K';
            key.uChar.UnicodeChar = L'k';
        }
        DWORD written = 0;
        return WriteConsoleInputW(input, records.data(), static_cast<DWORD>(records.size()), &written) != 0 &&
               written == records.size();
    });
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    commands = GetStdHandle(STD_INPUT_HANDLE);
    answers = GetStdHandle(STD_OUTPUT_HANDLE);
    const bool sharedConsole = argc > 1 && std::wstring(argv[1]) == L"--shared-console";
    const int first = sharedConsole ? 2 : 1;
    if (argc <= first) {
        answer(L"usage: console_starter [--shared-console] PROGRAM [ARGUMENT...]");
        return 2;
    }
    std::wstring commandLine;
    for (int i = first; i < argc; ++i) {
        commandLine += (i > first ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    DWORD flags = CREATE_NEW_CONSOLE;
    if (sharedConsole) {
        // Our own console, handed on as the program's standard handles.
        SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        (void)FreeConsole();
        if (AllocConsole() == 0) {
            answer(L"cannot make a console: error " + std::to_wstring(GetLastError()));
            return 2;
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput =
            CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherited, OPEN_EXISTING, 0, nullptr);
        startup.hStdOutput =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherited, OPEN_EXISTING, 0, nullptr);
        startup.hStdError = startup.hStdOutput;
        flags = 0;
    }
    // Otherwise as Explorer starts a console program: in a new console, with
    // no handle of ours passed on.
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, sharedConsole ? TRUE : FALSE, flags,
                       nullptr, nullptr, &startup, &started) == 0) {
        answer(L"cannot start: error " + std::to_wstring(GetLastError()));
        return 2;
    }
    (void)CloseHandle(started.hThread);

    std::string command;
    while (nextCommand(command)) {
        if (command == "state") {
            answer(state(started.hProcess));
        } else if (command == "screen") {
            for (const std::wstring& line : screen(started.dwProcessId)) {
                answer(line);
            }
            answer(L".");
        } else if (command == "key") {
            answer(typeKey(started.dwProcessId) ? L"typed" : L"failed");
        } else if (command == "wait") {
            (void)WaitForSingleObject(started.hProcess, 30000);
            answer(state(started.hProcess));
        } else {
            answer(L"unknown command");
        }
    }
    if (WaitForSingleObject(started.hProcess, 0) == WAIT_TIMEOUT) {
        (void)TerminateProcess(started.hProcess, 255);
    }
    (void)CloseHandle(started.hProcess);
    return 0;
}
