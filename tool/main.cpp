// kestrave FILE: rewrites every night turn of a scenario file's turn light
// table as daylight, in place, and reports how many it changed.
//
// This is the one place that turns outcomes into words and exit statuses.

#include "console.hpp"
#include "conversion.hpp"
#include "explorer_window.hpp"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
// Unless told otherwise, mingw-w64's start-up code may expand wildcards in the
// command line; the argument is one path, never a pattern.
extern "C" {
int _dowildcard = 0;  // NOLINT(bugprone-reserved-identifier)
}
#endif

namespace {

enum ExitStatus { Converted = 0, Failed = 1 };

// When standard error itself fails there is no one left to tell; the exit
// status still says the run failed.
int fail(const char* what, const char* detail)
{
    (void)std::fprintf(stderr, "%s: %s\n", what, detail);
    return Failed;
}

int fail(const char* what)
{
    (void)std::fprintf(stderr, "%s\n", what);
    return Failed;
}

constexpr const char* CannotOpen = "Unable to open scenario file";

int report(const kestrave::Conversion& conversion, const char* path)
{
    using kestrave::Failure;
    switch (conversion.failure) {
    case Failure::None:
        break;
    case Failure::CannotOpen:
        return fail(CannotOpen, std::strerror(conversion.error));
    case Failure::NotRegularFile:
        return fail(CannotOpen, "Not a regular file");
    case Failure::HeaderTooShort:
        return fail("Scenario file is too short to hold its header");
    case Failure::TableOutsideFile:
        return fail("Scenario header places the turn light table outside the file");
    case Failure::CannotUpdate:
        return fail("Unable to update scenario file", std::strerror(conversion.error));
    }

    // The file is already converted, but a caller that cannot see the report
    // must not be told all went well.
    const int changed = conversion.nightTurnsChanged;
    int error = 0;
    if (changed == 0) {
        error = kestrave::printReport("There were no night turns in %s\n", path);
    } else if (changed == 1) {
        error = kestrave::printReport("1 night turn was changed to daylight in %s\n", path);
    } else {
        error = kestrave::printReport("%d night turns were changed to daylight in %s\n", changed, path);
    }
    if (error != 0) {
        return fail("Unable to write report", std::strerror(error));
    }
    return Converted;
}

int run(int argc, char** argv)
{
    if (argc != 2) {
        (void)std::fputs("\nUsage: kestrave <filename>\n", stdout);  // the status is 1 either way
        return Failed;
    }
    const char* path = argv[1];
    return report(kestrave::convertScenarioFile(path), path);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool holdWindow = kestrave::startedInWindowOfItsOwn();
    const int status = run(argc, argv);
    if (holdWindow) {
        kestrave::holdWindowOpen(status);
    }
    return status;
}
