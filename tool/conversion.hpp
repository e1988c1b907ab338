#pragma once

// The conversion pass and the run around it, short of the console: these
// return what happened and leave the words and the exit status to main.

#include <cstdint>
#include <cstdio>

namespace kestrave {

// errno after a failed stream call, or EIO where the C library left it at 0:
// it is not obliged to set errno on every stream failure, and a failure must
// never be reported with the text for "no error".
int lastError();

struct PassResult {
    int error = 0;  // 0, or the errno of the operation that failed
    int nightTurnsChanged = 0;
};

// Rewrites every table entry holding a night turn as daylight. Entries past
// the end of the file are left alone and the file is never extended. On a
// failure the pass stops at once; entries already rewritten stay rewritten.
PassResult convertNightTurns(std::FILE* stream, std::int32_t tableOffset);

enum class Failure {
    None,
    CannotOpen,      // error holds the errno
    NotRegularFile,  // opened, but a FIFO, device or socket
    HeaderTooShort,
    TableOutsideFile,
    CannotUpdate,  // a positioning, read, write or close failed; error holds the errno
};

struct Conversion {
    Failure failure = Failure::None;
    int error = 0;
    int nightTurnsChanged = 0;
};

// Reads the header from `stream` (which must stand at offset 0), converts the
// table and closes the stream, whatever happens. The stream is closed before
// this returns, so the caller can report on the console with no file open.
Conversion convertScenario(std::FILE* stream);

// Opens the scenario file at `path` for update and runs convertScenario on it.
Conversion convertScenarioFile(const char* path);

}  // namespace kestrave
