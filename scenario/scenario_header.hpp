#pragma once

// The three things kestrave knows about a scenario file: the 8-byte header at
// its start, the rule that turns the header into the position of the turn
// light table, and the meaning of that table's entries. Every other byte of a
// scenario file is opaque. Nothing here prints or exits; failures come back
// to the caller as values.

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace kestrave {

// The header: little-endian, at offset 0. There is no magic number, version
// or checksum, so nothing marks a file as a scenario file.
struct ScenarioHeader {
    std::uint16_t gridExtentA = 0;
    std::uint16_t gridExtentB = 0;
    // Signed: a negative count moves the table towards the start of the file.
    std::int32_t extraRecordCount = 0;
};

inline constexpr std::size_t ScenarioHeaderSize = 8;
using ScenarioHeaderBytes = std::array<unsigned char, ScenarioHeaderSize>;

// Only exactly this value selects the table position without the extra
// records; every other value, 32766 and 32768 included, is a count.
inline constexpr std::int32_t NoExtraRecords = 0x7FFF;

// The turn light table: one byte a turn. Values other than these two mark
// neither and are never changed.
inline constexpr int TurnLightTableLength = 30;
inline constexpr int NightTurn = 1;
inline constexpr int DaylightTurn = 0;

// Table positions are signed 32-bit file offsets; every entry of the table
// has to lie at or below this one.
inline constexpr std::int64_t LastTableEntryPosition = INT32_MAX;

enum class HeaderRead {
    Complete,
    TooShort,  // the file ends before the 8th byte
    Failed,    // the read itself failed; errno says why
};

// Decodes the header fields from the bytes as they lie in the file.
ScenarioHeader decodeScenarioHeader(const ScenarioHeaderBytes& bytes);

// Reads the header from a freshly opened stream, which stands at offset 0.
// `header` is set only when the result is Complete.
HeaderRead readScenarioHeader(std::FILE* stream, ScenarioHeader& header);

// The absolute position of the first table entry; entry i lies at that
// position + i. Empty when the header puts any entry of the table outside
// 0 ... 2^31 - 1, where there is no sound position for it.
std::optional<std::int32_t> turnTableOffset(const ScenarioHeader& header);

}  // namespace kestrave
