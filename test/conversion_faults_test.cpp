// Every stream operation of a conversion failing in turn. glibc's
// fopencookie gives a real FILE* whose reads, writes, seeks and close are
// ours, so the k-th of any of them can be made to fail, for every k until a
// run no longer reaches it.

#include "conversion.hpp"
#include "scenario_header.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

enum class Operation { Read, Write, Seek, Close };

const char* nameOf(Operation operation)
{
    switch (operation) {
    case Operation::Read:
        return "read";
    case Operation::Write:
        return "write";
    case Operation::Seek:
        return "seek";
    case Operation::Close:
        return "close";
    }
    return "?";
}

// One injected failure: the at-th call of one kind of operation fails with
// `error`, or leaves errno alone when `error` is 0, as the C library may.
struct Fault {
    Operation operation;
    int at;
    int error;
};

// An in-memory file whose operations fail as the faults say.
struct FaultyFile {
    std::vector<unsigned char> bytes;
    std::vector<Fault> faults;
    std::size_t position = 0;
    std::array<int, 4> calls{};
    std::vector<Fault> injected;

    bool shouldFail(Operation operation)
    {
        const int call = ++calls.at(static_cast<std::size_t>(operation));
        const auto fault = std::find_if(faults.begin(), faults.end(), [&](const Fault& f) {
            return f.operation == operation && f.at == call;
        });
        if (fault == faults.end()) {
            return false;
        }
        injected.push_back(*fault);
        if (fault->error != 0) {
            errno = fault->error;
        }
        return true;
    }
};

ssize_t readFaulty(void* cookie, char* buffer, size_t size)
{
    auto& file = *static_cast<FaultyFile*>(cookie);
    if (file.shouldFail(Operation::Read)) {
        return -1;
    }
    const std::size_t available = file.position < file.bytes.size() ? file.bytes.size() - file.position : 0;
    const std::size_t count = std::min(size, available);
    std::memcpy(buffer, file.bytes.data() + file.position, count);
    file.position += count;
    return static_cast<ssize_t>(count);
}

ssize_t writeFaulty(void* cookie, const char* buffer, size_t size)
{
    auto& file = *static_cast<FaultyFile*>(cookie);
    if (file.shouldFail(Operation::Write)) {
        return -1;
    }
    // Like a file, a write past the end extends it; the checks below catch that.
    if (file.position + size > file.bytes.size()) {
        file.bytes.resize(file.position + size);
    }
    std::memcpy(file.bytes.data() + file.position, buffer, size);
    file.position += size;
    return static_cast<ssize_t>(size);
}

int seekFaulty(void* cookie, off64_t* offset, int whence)
{
    auto& file = *static_cast<FaultyFile*>(cookie);
    if (file.shouldFail(Operation::Seek)) {
        return -1;
    }
    off64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<off64_t>(file.position);
    } else if (whence == SEEK_END) {
        base = static_cast<off64_t>(file.bytes.size());
    }
    if (base + *offset < 0) {
        errno = EINVAL;
        return -1;
    }
    file.position = static_cast<std::size_t>(base + *offset);
    *offset = base + *offset;
    return 0;
}

int closeFaulty(void* cookie)
{
    auto& file = *static_cast<FaultyFile*>(cookie);
    return file.shouldFail(Operation::Close) ? -1 : 0;
}

constexpr std::size_t tableStart = 37 * 2 * 3 + 900;
constexpr std::size_t tableLength = 30;

// A scenario file of `length` bytes whose table lies at tableStart. The
// bytes right before and right after the table hold 1, so a pass that
// strays from the 30 entries changes them; the rest of the filler is never
// 0 or 1.
std::vector<unsigned char> scenarioBytes(std::size_t length)
{
    std::vector<unsigned char> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        const bool besideTable = i == tableStart - 1 || i == tableStart + tableLength;
        bytes[i] = besideTable ? 1 : static_cast<unsigned char>(2U + (i * 151U) % 250U);
    }
    const std::array<unsigned char, 8> header{0x02, 0x00, 0x03, 0x00, 0xFF, 0x7F, 0x00, 0x00};
    const std::array<unsigned char, tableLength> table{1, 0, 1, 2, 255, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1,
                                                       0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0, 1, 1};
    std::copy_n(header.begin(), std::min(header.size(), length), bytes.begin());
    for (std::size_t i = 0; i < tableLength && tableStart + i < length; ++i) {
        bytes[tableStart + i] = table.at(i);
    }
    return bytes;
}

int nightTurnsIn(const std::vector<unsigned char>& bytes)
{
    int count = 0;
    for (std::size_t i = tableStart; i < std::min(bytes.size(), tableStart + tableLength); ++i) {
        count += bytes[i] == 1 ? 1 : 0;
    }
    return count;
}

// Whatever happened, the file is the original with some of its table's night
// turns, and nothing else, turned into daylight.
void expectOnlyNightTurnsChanged(const std::vector<unsigned char>& before,
                                 const std::vector<unsigned char>& after)
{
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (after[i] != before[i]) {
            const bool inTable = i >= tableStart && i < tableStart + tableLength;
            EXPECT_TRUE(inTable && before[i] == 1 && after[i] == 0) << "byte " << i << " changed";
        }
    }
}

// A run stops at its first failure, so the night turns it changed are the
// first ones of the table: none of them lies past one it left alone.
void expectStoppedAtFirstFailure(const std::vector<unsigned char>& before,
                                 const std::vector<unsigned char>& after)
{
    bool leftOne = false;
    for (std::size_t i = tableStart; i < std::min(before.size(), tableStart + tableLength); ++i) {
        if (before[i] != 1) {
            continue;
        }
        if (after[i] == 1) {
            leftOne = true;
        } else {
            EXPECT_FALSE(leftOne) << "entry " << i - tableStart << " changed after an earlier one failed";
        }
    }
}

// The errno a failure must be reported with: its own, or EIO where the C
// library left errno at 0, never the text for "no error".
int reportedError(const Fault& fault)
{
    return fault.error != 0 ? fault.error : EIO;
}

// Runs one conversion over `original` with the given faults, and checks its
// outcome. Returns the faults the run reached.
std::vector<Fault> convertWithFaults(const std::vector<unsigned char>& original, int bufferMode,
                                     const std::vector<Fault>& faults)
{
    FaultyFile file;
    file.bytes = original;
    file.faults = faults;
    cookie_io_functions_t functions{readFaulty, writeFaulty, seekFaulty, closeFaulty};
    std::FILE* stream = fopencookie(&file, "r+", functions);
    EXPECT_NE(stream, nullptr);
    if (stream == nullptr) {
        return {};
    }
    EXPECT_EQ(std::setvbuf(stream, nullptr, bufferMode, BUFSIZ), 0);

    // Left over from before the run, as a successful call may leave it: a
    // failure that sets no errno must not be reported with it.
    errno = ENOENT;
    const kestrave::Conversion conversion = kestrave::convertScenario(stream);

    expectOnlyNightTurnsChanged(original, file.bytes);
    expectStoppedAtFirstFailure(original, file.bytes);
    switch (conversion.failure) {
    case kestrave::Failure::None:
        // A success is only ever a complete, correctly counted conversion.
        EXPECT_EQ(conversion.nightTurnsChanged, nightTurnsIn(original));
        EXPECT_EQ(nightTurnsIn(file.bytes), 0);
        break;
    case kestrave::Failure::CannotUpdate:
        if (file.injected.empty()) {
            ADD_FAILURE() << "a failure with no fault";
        } else {
            EXPECT_EQ(conversion.error, reportedError(file.injected.front()))
                << "not the first failure's reason";
        }
        break;
    default:
        EXPECT_EQ(conversion.failure, kestrave::Failure::HeaderTooShort);
        EXPECT_LT(original.size(), kestrave::ScenarioHeaderSize);
        break;
    }
    return file.injected;
}

TEST(ConversionFaults, EveryFailingOperationIsReportedOrHarmless)
{
    const std::vector<std::pair<std::string, std::vector<unsigned char>>> fixtures{
        {"table inside the file", scenarioBytes(1300)},
        {"file ends in the middle of the table", scenarioBytes(tableStart + 12)},
        {"file ends inside the header", scenarioBytes(5)},
    };
    const std::vector<std::pair<std::string, int>> bufferings{{"buffered", _IOFBF}, {"unbuffered", _IONBF}};
    const std::vector<Operation> operations{Operation::Read, Operation::Write, Operation::Seek,
                                            Operation::Close};
    // ENOSPC stands for any reason the C library gives; 0 for a failure it
    // gives none for.
    const std::vector<int> errors{ENOSPC, 0};

    for (const auto& [fixture, bytes] : fixtures) {
        for (const auto& [buffering, mode] : bufferings) {
            for (const Operation operation : operations) {
                for (const int error : errors) {
                    // Stop once a run no longer reaches the k-th operation.
                    for (int k = 1;; ++k) {
                        SCOPED_TRACE(fixture + ", " + buffering + ", " + nameOf(operation) + " #" +
                                     std::to_string(k) + " fails with errno " + std::to_string(error));
                        ASSERT_LT(k, 1000) << "the run never stops";
                        if (convertWithFaults(bytes, mode, {{operation, k, error}}).empty()) {
                            break;
                        }
                    }
                }
            }
        }
    }
}

// A stream that fails once tends to fail again, at the latest when it is
// closed; the reason reported is the first failure's.
TEST(ConversionFaults, TheFirstOfTwoFailuresIsReported)
{
    struct TwoFaults {
        const char* name;
        int bufferMode;
        Fault first;
    };
    const std::vector<TwoFaults> cases{
        {"the header read", _IOFBF, {Operation::Read, 1, ENOSPC}},
        {"the header read, with no errno", _IOFBF, {Operation::Read, 1, 0}},
        {"the first write", _IONBF, {Operation::Write, 1, ENOSPC}},
        {"the first write, with no errno", _IONBF, {Operation::Write, 1, 0}},
        {"a seek in the pass", _IONBF, {Operation::Seek, 3, ENOSPC}},
    };
    const Fault close{Operation::Close, 1, EBADF};
    for (const TwoFaults& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " fails, then the close");
        const std::vector<Fault> injected =
            convertWithFaults(scenarioBytes(1300), c.bufferMode, {c.first, close});
        EXPECT_EQ(injected.size(), 2U) << "the run did not reach both faults";
    }
}

}  // namespace
