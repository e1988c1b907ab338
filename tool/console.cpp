#include "console.hpp"

#include "conversion.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <string>
#include <windows.h>
#endif

namespace kestrave {

#ifdef _WIN32
namespace {

// A Windows console shows bytes in its own code page, not in the process's
// UTF-8 one, so a path such as "日本 ü.scn" would come out garbled. Text for a
// console goes to it as UTF-16 instead. Returns false when standard output is
// not a console; pipes and files get the UTF-8 bytes unchanged.
bool printToConsole(const char* format, std::va_list args, int& error)
{
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || GetConsoleMode(console, &mode) == 0) {
        return false;
    }
    error = EIO;
    std::va_list counting;
    va_copy(counting, args);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (length < 0) {
        return true;
    }
    std::string utf8(static_cast<std::size_t>(length) + 1, '\0');
    (void)std::vsnprintf(utf8.data(), utf8.size(), format, args);

    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(units), L'\0');
    if (length > 0 &&
        (units == 0 || MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, text.data(), units) != units)) {
        return true;
    }
    // The console's newline, as a text-mode stream would write it.
    for (std::size_t at = text.find(L'\n'); at != std::wstring::npos; at = text.find(L'\n', at + 2)) {
        text.insert(at, 1, L'\r');
    }
    DWORD written = 0;
    if (std::fflush(stdout) == 0 &&
        WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
        written == text.size()) {
        error = 0;
    }
    return true;
}

}  // namespace
#endif

// printf-style on purpose: the format attribute checks every caller's
// arguments against the fixed texts.
int printReport(const char* format, ...)  // NOLINT(cert-dcl50-cpp)
{
    std::va_list args;
    va_start(args, format);
    int error = 0;
#ifdef _WIN32
    if (printToConsole(format, args, error)) {
        va_end(args);
        return error;
    }
#endif
    errno = 0;
    const int printed = std::vprintf(format, args);
    va_end(args);
    // A write error may show only at the flush.
    if (printed < 0 || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        error = lastError();
    }
    return error;
}

}  // namespace kestrave
