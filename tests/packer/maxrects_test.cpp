#include "LayoutFault.h"
#include "maxrects.h"

#include <array>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

using namespace vintrix;
using vintrix::test::LayoutFault;

namespace {

std::vector<Size> randomSizes(unsigned seed, int count, int lo, int hi)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> side(lo, hi);
    std::vector<Size> sizes;
    for (int i = 0; i < count; ++i)
        sizes.push_back({side(rng), side(rng)});
    return sizes;
}

}  // namespace

// packer_pack_fuzz checks any size list, an empty one included: inside the
// margins and clear of each other, or the first image that can never fit
// named. The strategies are shared among threads whatever the list.
TEST(Packing, SameLayoutOnOneThreadOrTwo)
{
    for (const int margin : {0, 4}) {
        const auto sizes = randomSizes(17, 150, 1, 80);
        const PackOutcome a = pack(sizes, {256, 256}, margin, 2);
        const PackOutcome b = pack(sizes, {256, 256}, margin, 1);
        EXPECT_EQ(a.layout.placements, b.layout.placements);
        EXPECT_EQ(a.layout.sheets, b.layout.sheets);
        EXPECT_EQ(LayoutFault(sizes, a.layout, {256, 256}, margin), "");
    }
}

// Every heuristic, sort order and sheet choice, by their places in the enums.
class EveryStrategy : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(EveryStrategy, GivesAValidLayout)
{
    const auto [heuristic, order, global] = GetParam();
    const Strategy strategy{
        Heuristic(heuristic), SortOrder(order), global ? SheetChoice::GlobalBest : SheetChoice::FirstFit};
    const Size sheet{200, 160};
    for (unsigned seed : {5u, 6u}) {
        auto sizes = randomSizes(seed, 120, 3, 60);
        EXPECT_EQ(LayoutFault(sizes, packWith(sizes, sheet, 2, strategy), sheet, 2), "");
        // Rotated, some of these fit only one way.
        sizes.insert(sizes.end(), {{8, 190}, {150, 12}, {5, 170}});
        const Layout rotated = packWith(sizes, sheet, 2, strategy, Rotation::Allowed);
        EXPECT_EQ(LayoutFault(sizes, rotated, sheet, 2), "");
        EXPECT_TRUE(rotated.placements[120].rotated);
    }
}

std::string StrategyName(const ::testing::TestParamInfo<EveryStrategy::ParamType>& info)
{
    const auto [heuristic, order, global] = info.param;
    return std::string(std::array{
               "BestShortSideFit", "BestLongSideFit", "BestAreaFit", "BottomLeft", "ContactPoint"}[heuristic]) +
        std::array{"AreaDesc", "MaxSideDesc", "PerimeterDesc", "HeightDesc", "WidthDesc"}[order] +
        (global ? "GlobalBest" : "FirstFit");
}

INSTANTIATE_TEST_SUITE_P(All, EveryStrategy,
    ::testing::Combine(::testing::Range(0, 5), ::testing::Range(0, 5), ::testing::Bool()), StrategyName);

TEST(Packing, FillsTheFirstSheetOfManySprites)
{
    // 500 sprites of 16 to 128 pixels a side on 1024x1024 sheets.
    for (unsigned seed : {1u, 2u, 3u}) {
        const auto sizes = randomSizes(seed, 500, 16, 128);
        const PackOutcome outcome = pack(sizes, {1024, 1024}, 0);
        ASSERT_GT(outcome.layout.sheets, 1);
        EXPECT_GE(static_cast<double>(outcome.layout.usedArea[0]) / (1024.0 * 1024.0), 0.97) << "seed " << seed;
    }
}
