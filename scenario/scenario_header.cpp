#include "scenario_header.hpp"

namespace kestrave {

namespace {

// Each byte is widened before it is shifted, so a byte of 0x80 or more can
// neither sign-extend nor overflow a promoted int.
std::uint16_t decodeLe16(const ScenarioHeaderBytes& bytes, std::size_t at)
{
    const auto low = static_cast<unsigned>(bytes.at(at));
    const auto high = static_cast<unsigned>(bytes.at(at + 1));
    return static_cast<std::uint16_t>(low | high << 8U);
}

std::uint32_t decodeLe32(const ScenarioHeaderBytes& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = value << 8U | static_cast<std::uint32_t>(bytes.at(at + i));
    }
    return value;
}

// Two's complement reinterpretation without relying on an implementation-
// defined narrowing conversion.
std::int32_t asSigned(std::uint32_t value)
{
    if (value <= static_cast<std::uint32_t>(INT32_MAX)) {
        return static_cast<std::int32_t>(value);
    }
    return static_cast<std::int32_t>(value - static_cast<std::uint32_t>(INT32_MAX) - 1U) + INT32_MIN;
}

}  // namespace

ScenarioHeader decodeScenarioHeader(const ScenarioHeaderBytes& bytes)
{
    ScenarioHeader header;
    header.gridExtentA = decodeLe16(bytes, 0);
    header.gridExtentB = decodeLe16(bytes, 2);
    header.extraRecordCount = asSigned(decodeLe32(bytes, 4));
    return header;
}

HeaderRead readScenarioHeader(std::FILE* stream, ScenarioHeader& header)
{
    ScenarioHeaderBytes bytes{};
    if (std::fread(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
        return std::ferror(stream) != 0 ? HeaderRead::Failed : HeaderRead::TooShort;
    }
    header = decodeScenarioHeader(bytes);
    return HeaderRead::Complete;
}

std::optional<std::int32_t> turnTableOffset(const ScenarioHeader& header)
{
    constexpr std::int64_t bytesPerGridUnit = 37;
    constexpr std::int64_t bytesPerExtraRecord = 30;
    constexpr std::int64_t fixedBytes = 900;
    constexpr std::int64_t extraRecordTrailer = 4;

    // In 64 bits none of this can wrap: the largest magnitude is
    // 37 * 65535^2 + 30 * 2^31 + 904, well below 2^63.
    std::int64_t offset =
        bytesPerGridUnit * std::int64_t{header.gridExtentA} * std::int64_t{header.gridExtentB} + fixedBytes;
    if (header.extraRecordCount != NoExtraRecords) {
        offset += bytesPerExtraRecord * std::int64_t{header.extraRecordCount} + extraRecordTrailer;
    }

    const std::int64_t lastEntry = offset + (TurnLightTableLength - 1);
    if (offset < 0 || lastEntry > LastTableEntryPosition) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(offset));
}

}  // namespace kestrave
