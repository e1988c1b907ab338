#include "scenario_header.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using kestrave::ScenarioHeader;
using Bytes = std::array<unsigned char, kestrave::ScenarioHeaderSize>;

struct LayoutCase {
    const char* name;
    Bytes bytes;
    std::uint16_t gridExtentA;
    std::uint16_t gridExtentB;
    std::int32_t extraRecordCount;
    std::optional<std::int32_t> tableOffset;  // empty: no sound position
};

// clang-format off
std::vector<LayoutCase> layoutCases()
{
    return {
    // name, header bytes, fields, table position
    {"no extents, no extra records",  {0x00, 0x00, 0x00, 0x00, 0xFF, 0x7F, 0x00, 0x00}, 0, 0, 32767, 900},
    {"no extents, zero count",        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0, 0, 904},
    {"unit extents, no extra records", {0x01, 0x00, 0x01, 0x00, 0xFF, 0x7F, 0x00, 0x00}, 1, 1, 32767, 937},
    {"unit extents, one record",      {0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00}, 1, 1, 1, 971},
    {"fields are little-endian",      {0x03, 0x00, 0x02, 0x00, 0xFF, 0x7F, 0x00, 0x00}, 3, 2, 32767, 37 * 6 + 900},
    {"zero first extent",             {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00}, 0, 65535, 32767, 900},
    {"zero second extent",            {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 65535, 0, 0, 904},
    {"32766 is a count",              {0x00, 0x00, 0x00, 0x00, 0xFE, 0x7F, 0x00, 0x00}, 0, 0, 32766, 30 * 32766 + 904},
    {"32768 is a count",              {0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00}, 0, 0, 32768, 30 * 32768 + 904},
    {"0x7FFF in the high half counts", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x7F}, 0, 0, 0x7FFF0000, std::nullopt},
    {"minus one moves the table back", {0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 1, 1, -1, 37 + 874},
    {"bytes of 0x80 and above",       {0x80, 0x81, 0xFE, 0x00, 0xFF, 0x7F, 0x00, 0x00}, 0x8180, 0xFE, 32767, 37 * 0x8180 * 0xFE + 900},
    {"product beyond 16 bits",        {0x2C, 0x01, 0x2C, 0x01, 0xFF, 0x7F, 0x00, 0x00}, 300, 300, 32767, 37 * 90000 + 900},
    {"lowest position, offset 0",     {0x02, 0x00, 0x04, 0x00, 0xD8, 0xFF, 0xFF, 0xFF}, 2, 4, -40, 0},
    {"one record before the file",    {0x02, 0x00, 0x04, 0x00, 0xD7, 0xFF, 0xFF, 0xFF}, 2, 4, -41, std::nullopt},
    {"one byte before the file",      {0x05, 0x00, 0x05, 0x00, 0xC3, 0xFF, 0xFF, 0xFF}, 5, 5, -61, std::nullopt},
    {"last entry at 2^31 - 1",        {0x02, 0x00, 0x0B, 0x00, 0x0A, 0x44, 0x44, 0x04}, 2, 11, 71582730, 2147483618},
    {"last entry one past 2^31 - 1",  {0x05, 0x00, 0x01, 0x00, 0x1F, 0x44, 0x44, 0x04}, 5, 1, 71582751, std::nullopt},
    {"first entry at 2^31",           {0x02, 0x00, 0x0B, 0x00, 0x0B, 0x44, 0x44, 0x04}, 2, 11, 71582731, std::nullopt},
    // 37 * 64489 * 1800 + 900 wraps to 1004 in 32 bits.
    {"extents that wrap 32 bits",     {0xE9, 0xFB, 0x08, 0x07, 0xFF, 0x7F, 0x00, 0x00}, 64489, 1800, 32767, std::nullopt},
    {"largest extents",               {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00}, 65535, 65535, 32767, std::nullopt},
    {"most negative count",           {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, 0, 0, INT32_MIN, std::nullopt},
    };
}
// clang-format on

class Layout : public testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, DecodesFieldsAndPlacesTable)
{
    const LayoutCase& c = GetParam();
    SCOPED_TRACE(c.name);
    const ScenarioHeader header = kestrave::decodeScenarioHeader(c.bytes);
    EXPECT_EQ(header.gridExtentA, c.gridExtentA);
    EXPECT_EQ(header.gridExtentB, c.gridExtentB);
    EXPECT_EQ(header.extraRecordCount, c.extraRecordCount);
    EXPECT_EQ(kestrave::turnTableOffset(header), c.tableOffset);
}

std::string caseName(const testing::TestParamInfo<LayoutCase>& info)
{
    std::string name;
    for (const char* p = info.param.name; *p != '\0'; ++p) {
        const auto ch = static_cast<unsigned char>(*p);
        if (std::isalnum(ch) != 0) {
            name += static_cast<char>(ch);
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Headers, Layout, testing::ValuesIn(layoutCases()), caseName);

// A scenario file holding the given bytes, open and standing at offset 0 as
// after an open. It is named, in the working folder, because Windows'
// tmpfile writes to the root of the drive.
class ScratchScenario {
  public:
    explicit ScratchScenario(const std::vector<unsigned char>& bytes) : stream_(std::fopen(path, "w+b"))
    {
        // fwrite may not be handed the null data() of an empty vector.
        if (stream_ != nullptr &&
            ((!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) ||
             std::fseek(stream_, 0, SEEK_SET) != 0)) {
            (void)std::fclose(stream_);
            stream_ = nullptr;
        }
    }
    ScratchScenario(const ScratchScenario&) = delete;
    ScratchScenario& operator=(const ScratchScenario&) = delete;
    ScratchScenario(ScratchScenario&&) = delete;
    ScratchScenario& operator=(ScratchScenario&&) = delete;
    ~ScratchScenario()
    {
        if (stream_ != nullptr) {
            (void)std::fclose(stream_);
        }
        (void)std::remove(path);
    }

    [[nodiscard]] std::FILE* stream() const
    {
        return stream_;
    }

  private:
    static constexpr const char* path = "scenario_header_test.scn";
    std::FILE* stream_;
};

TEST(ReadScenarioHeader, ReadsTheFirstEightBytes)
{
    const ScratchScenario file({0x03, 0x00, 0x02, 0x00, 0xFF, 0x7F, 0x00, 0x00, 0x01, 0x01});
    ASSERT_NE(file.stream(), nullptr);
    ScenarioHeader header;
    EXPECT_EQ(kestrave::readScenarioHeader(file.stream(), header), kestrave::HeaderRead::Complete);
    EXPECT_EQ(header.gridExtentA, 3);
    EXPECT_EQ(header.gridExtentB, 2);
    EXPECT_EQ(header.extraRecordCount, 32767);
}

TEST(ReadScenarioHeader, NeedsAllEightBytes)
{
    const std::vector<unsigned char> full{0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00};
    for (std::size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        const ScratchScenario file({full.begin(), full.begin() + static_cast<long>(length)});
        ASSERT_NE(file.stream(), nullptr);
        ScenarioHeader header{7, 7, 7};
        const kestrave::HeaderRead read = kestrave::readScenarioHeader(file.stream(), header);
        if (length == full.size()) {
            // Eight bytes are a whole header, even with nothing after them.
            EXPECT_EQ(read, kestrave::HeaderRead::Complete);
            EXPECT_EQ(header.gridExtentA, 1);
            EXPECT_EQ(header.extraRecordCount, 1);
        } else {
            EXPECT_EQ(read, kestrave::HeaderRead::TooShort);
            // Fields that were never delivered are never filled in.
            EXPECT_EQ(header.gridExtentA, 7);
            EXPECT_EQ(header.extraRecordCount, 7);
        }
    }
}

}  // namespace
