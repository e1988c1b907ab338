#include "conversion.hpp"

#include "scenario_header.hpp"

#include <cerrno>

#include <sys/stat.h>
#include <sys/types.h>

namespace kestrave {

int lastError()
{
    return errno != 0 ? errno : EIO;
}

namespace {

// Windows reports its devices (NUL, CON, COM1, ...) as character devices here.
bool isRegularFile(std::FILE* stream)
{
#ifdef _WIN32
    struct _stat64 status {};
    return _fstat64(_fileno(stream), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat status {};
    return fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
#endif
}

}  // namespace

PassResult convertNightTurns(std::FILE* stream, std::int32_t tableOffset)
{
    PassResult result;
    errno = 0;
    for (int entry = 0; entry < TurnLightTableLength; ++entry) {
        // tableOffset + 29 fits in 32 bits (turnTableOffset guarantees it),
        // and long has at least 32 bits everywhere.
        const long position = static_cast<long>(tableOffset) + entry;

        // An update stream must be positioned between a read and a write, in
        // either direction; each access gets its own absolute seek.
        if (std::fseek(stream, position, SEEK_SET) != 0) {
            result.error = lastError();
            return result;
        }
        const int value = std::fgetc(stream);
        if (value == EOF) {
            if (std::ferror(stream) != 0) {
                result.error = lastError();
                return result;
            }
            // This entry and all after it lie past the end of the file.
            break;
        }
        if (value != NightTurn) {
            continue;
        }
        if (std::fseek(stream, position, SEEK_SET) != 0 || std::fputc(DaylightTurn, stream) == EOF) {
            result.error = lastError();
            return result;
        }
        ++result.nightTurnsChanged;
    }
    return result;
}

Conversion convertScenario(std::FILE* stream)
{
    Conversion conversion;
    ScenarioHeader header;
    errno = 0;
    switch (readScenarioHeader(stream, header)) {
    case HeaderRead::Complete:
        if (const auto offset = turnTableOffset(header)) {
            const PassResult pass = convertNightTurns(stream, *offset);
            conversion.nightTurnsChanged = pass.nightTurnsChanged;
            if (pass.error != 0) {
                conversion.failure = Failure::CannotUpdate;
                conversion.error = pass.error;
            }
        } else {
            conversion.failure = Failure::TableOutsideFile;
        }
        break;
    case HeaderRead::TooShort:
        conversion.failure = Failure::HeaderTooShort;
        break;
    case HeaderRead::Failed:
        conversion.failure = Failure::CannotUpdate;
        conversion.error = lastError();
        break;
    }

    // The last buffered write reaches the file only here, so a close that
    // fails can mean a night turn that was counted but never written.
    errno = 0;
    if (std::fclose(stream) != 0 && conversion.failure == Failure::None) {
        conversion.failure = Failure::CannotUpdate;
        conversion.error = lastError();
    }
    return conversion;
}

Conversion convertScenarioFile(const char* path)
{
    Conversion conversion;
    errno = 0;
    // "r+b": the file must exist; it is neither created nor truncated, and
    // no newline translation touches its bytes.
    std::FILE* stream = std::fopen(path, "r+b");
    if (stream == nullptr) {
        conversion.failure = Failure::CannotOpen;
        conversion.error = lastError();
        return conversion;
    }
    // Linux opens a FIFO for update without waiting for a peer, but reading
    // from it would wait forever; and a device, NUL and CON included, must
    // never be written.
    if (!isRegularFile(stream)) {
        (void)std::fclose(stream);  // nothing was written to it
        conversion.failure = Failure::NotRegularFile;
        return conversion;
    }
    return convertScenario(stream);
}

}  // namespace kestrave
