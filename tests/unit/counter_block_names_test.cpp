// Counter block name tests: every known identifier by its bytes, and near misses.
#include "counters/counter_block_names.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {
struct KnownBlock {
    std::string_view name;
    std::string_view identifier;   // 8-4-4-4-12, each field most significant digit first
    std::string_view memoryBytes;  // bytes 0 to 15 as they lie in memory, in groups of four
};

// clang-format off
constexpr std::array knownBlocks{
    KnownBlock{"CB (Colour Buffer)",     "9ba429c6-af2d-4b38-b349-157271beac6a", "c629a49b 2daf384b b3491572 71beac6a"},
    KnownBlock{"CPF",                    "2b0ad2b5-1c43-4f46-a7bc-e119411ea6c9", "b5d20a2b 431c464f a7bce119 411ea6c9"},
    KnownBlock{"CPG",                    "590ec94d-20f0-448f-8dff-316c679de7ff", "4dc90e59 f0208f44 8dff316c 679de7ff"},
    KnownBlock{"DB",                     "3d1a47fc-0013-4ed4-8306-822ca0b7a6c2", "fc471a3d 1300d44e 8306822c a0b7a6c2"},
    KnownBlock{"GDS",                    "f59276ec-2526-4bf8-8ec0-118f77700dc9", "ec7692f5 2625f84b 8ec0118f 77700dc9"},
    KnownBlock{"GRBM",                   "8f00933c-c33d-4801-97b7-7007f78573ad", "3c93008f 3dc30148 97b77007 f78573ad"},
    KnownBlock{"GRBMSE",                 "34ebd8d7-7c8b-4d15-88fa-0e4e4af59ac1", "d7d8eb34 8b7c154d 88fa0e4e 4af59ac1"},
    KnownBlock{"IA",                     "34276944-4264-4fcd-9d6e-ae264582ec51", "44692734 6442cd4f 9d6eae26 4582ec51"},
    KnownBlock{"MC (Memory Controller)", "13900b57-4956-4d98-81d0-68521937f59c", "570b9013 5649984d 81d06852 1937f59c"},
    KnownBlock{"PASC",                   "b0e7fb5d-0efc-4744-b516-5d23dc1fd56c", "5dfbe7b0 fc0e4447 b5165d23 dc1fd56c"},
    KnownBlock{"PASU",                   "9a152b6a-1fad-45f2-a5bf-f163826bd0cd", "6a2b159a ad1ff245 a5bff163 826bd0cd"},
    KnownBlock{"SPI",                    "eda81044-d62c-47eb-af89-4f6fbf3b38e0", "4410a8ed 2cd6eb47 af894f6f bf3b38e0"},
    KnownBlock{"SRBM",                   "9f8040e0-6830-4019-acc8-463c9e445b89", "e040809f 30681940 acc8463c 9e445b89"},
    KnownBlock{"SQ",                     "b5c396b6-d310-47e4-86fc-5cc3043af508", "b696c3b5 10d3e447 86fc5cc3 043af508"},
    KnownBlock{"SX",                     "bdb8d737-43cc-4162-be52-51cfb847beaf", "37d7b8bd cc436241 be5251cf b847beaf"},
    KnownBlock{"TA",                     "c01ee43d-ad92-44b1-8ab9-be5e696ceea7", "3de41ec0 92adb144 8ab9be5e 696ceea7"},
    KnownBlock{"TCA (Texture Cache)",    "333e393f-e147-4f49-a6d1-60914c7086b0", "3f393e33 47e1494f a6d16091 4c7086b0"},
    KnownBlock{"TCC (Texture Cache)",    "848ce855-d805-4566-a8ab-73e884cc6bff", "55e88c84 05d86645 a8ab73e8 84cc6bff"},
    KnownBlock{"TCP",                    "e10a013b-17d4-4bf5-b089-429591059b60", "3b010ae1 d417f54b b0894295 91059b60"},
    KnownBlock{"TCS",                    "4126245c-4d96-4d1a-8aed-a939d4cc8ec9", "5c242641 964d1a4d 8aeda939 d4cc8ec9"},
    KnownBlock{"TD",                     "7d7c0fe4-fe41-4fea-92c9-4544d7706dc6", "e40f7c7d 41feea4f 92c94544 d7706dc6"},
    KnownBlock{"VGT",                    "0b6a8cb7-7a01-409f-a22c-3014854f1359", "b78c6a0b 017a9f40 a22c3014 854f1359"},
    KnownBlock{"WD",                     "0e176789-46ed-4b02-972a-916d2fac244a", "8967170e ed46024b 972a916d 2fac244a"},
};
// clang-format on
static_assert(knownBlocks.size() == 23);

// The bytes of a text of 32 hexadecimal digits, taken in order; other characters are
// separators.
UuidBytes bytesOfHex(std::string_view text) {
    UuidBytes bytes{};
    std::size_t digits = 0;
    for (char c : text) {
        const std::size_t value = std::string_view("0123456789abcdef").find(c);
        if (value == std::string_view::npos) {
            continue;
        }
        bytes.at(digits / 2) =
            static_cast<std::uint8_t>(bytes.at(digits / 2) * 16 + static_cast<unsigned>(value));
        ++digits;
    }
    EXPECT_EQ(digits, 32U) << text;
    return bytes;
}

TEST(CounterBlockNames, EveryKnownBlockIsNamedByItsBytesInMemoryOrder) {
    for (const KnownBlock& block : knownBlocks) {
        EXPECT_EQ(counterBlockName(bytesOfHex(block.memoryBytes)), block.name) << block.identifier;
    }
}

TEST(CounterBlockNames, IdentifierWithFieldsMostSignificantByteFirstIsUnknown) {
    // Bytes in the order of the written identifier: every field stored the wrong way round.
    for (const KnownBlock& block : knownBlocks) {
        EXPECT_EQ(counterBlockName(bytesOfHex(block.identifier)),
                  "unknown (" + std::string(block.identifier) + ")");
    }
}

TEST(CounterBlockNames, OnlyAnExactMatchOfAllSixteenBytesIsNamed) {
    UuidBytes lastByteDiffers = bytesOfHex("c629a49b 2daf384b b3491572 71beac6a");
    lastByteDiffers[15] = 0x6b;
    EXPECT_EQ(counterBlockName(lastByteDiffers), "unknown (c629a49b-2daf-384b-b349-157271beac6b)");

    UuidBytes firstByteDiffers = bytesOfHex("8967170e ed46024b 972a916d 2fac244a");
    firstByteDiffers[0] = 0x88;
    EXPECT_EQ(counterBlockName(firstByteDiffers), "unknown (8867170e-ed46-024b-972a-916d2fac244a)");

    EXPECT_EQ(counterBlockName(UuidBytes{}), "unknown (00000000-0000-0000-0000-000000000000)");
    EXPECT_EQ(counterBlockName(bytesOfHex("ffffffff ffffffff ffffffff ffffffff")),
              "unknown (ffffffff-ffff-ffff-ffff-ffffffffffff)");
}
}  // namespace
