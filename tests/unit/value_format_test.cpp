// Value formatting tests: table look-ups, fallbacks, identifiers and PCI locations.
#include "report/value_format.h"

#include <gtest/gtest.h>

namespace {
TEST(ValueFormat, FirstPairOfARepeatedValueWins) {
    constexpr std::array<NamePair, 3> pairs{{{1, "PCIe"}, {1, "Other"}, {-1, "minus one"}}};
    const NameTable table = makeNameTable(pairs);
    EXPECT_EQ(valueName(table, 1), "PCIe");
    EXPECT_EQ(valueName(table, -1), "minus one");
}

TEST(ValueFormat, MissingValueFallsBackToSignedDecimal) {
    const NameTable empty{};
    EXPECT_EQ(valueName(empty, 0), "unknown (0)");
    EXPECT_EQ(valueName(empty, 6), "unknown (6)");
    EXPECT_EQ(valueName(empty, static_cast<std::int32_t>(0x80000000u)), "unknown (-2147483648)");
    EXPECT_EQ(valueName(empty, static_cast<std::int32_t>(0xFFFFFFFFu)), "unknown (-1)");
}

TEST(ValueFormat, UuidFoundByAllSixteenBytes) {
    constexpr UuidBytes key{0xc6, 0x29, 0xa4, 0x9b, 0x2d, 0xaf, 0x38, 0x4b,
                            0xb3, 0x49, 0x15, 0x72, 0x71, 0xbe, 0xac, 0x6a};
    constexpr std::array<UuidNamePair, 1> pairs{{{key, "CB"}}};
    const UuidNameTable table = makeUuidNameTable(pairs);
    EXPECT_EQ(uuidName(table, key), "CB");
    UuidBytes lastByteDiffers = key;
    lastByteDiffers[15] = 0x6b;
    EXPECT_EQ(uuidName(table, lastByteDiffers), "unknown (c629a49b-2daf-384b-b349-157271beac6b)");
}

TEST(ValueFormat, UuidFallbackWritesBytesInMemoryOrder) {
    const UuidNameTable empty{};
    EXPECT_EQ(uuidName(empty, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a,
                               0x0b, 0x0c, 0x0d, 0x0e, 0x0f}),
              "unknown (00010203-0405-0607-0809-0a0b0c0d0e0f)");
    EXPECT_EQ(uuidName(empty, {}), "unknown (00000000-0000-0000-0000-000000000000)");
    EXPECT_EQ(uuidName(empty, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                               0xff, 0xff, 0xff, 0xff, 0xff}),
              "unknown (ffffffff-ffff-ffff-ffff-ffffffffffff)");
}

TEST(ValueFormat, LocationWithoutHighBitsIsBusDeviceFunction) {
    EXPECT_EQ(locationIdString(0x0000), "00:00.0");
    EXPECT_EQ(locationIdString(0x0300), "03:00.0");
    EXPECT_EQ(locationIdString(0x1A0B), "1a:01.3");
    EXPECT_EQ(locationIdString(0xFFFF), "ff:1f.7");
}

TEST(ValueFormat, LocationWithHighBitsAppendsBracketedFullValue) {
    EXPECT_EQ(locationIdString(0x10300), "03:00.0 [0x00010300]");
    EXPECT_EQ(locationIdString(0xFFFFFFFF), "ff:1f.7 [0xffffffff]");
    EXPECT_EQ(locationIdString(0xABCD0000), "00:00.0 [0xabcd0000]");
}
}  // namespace
