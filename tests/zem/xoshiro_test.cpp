#include "zem/xoshiro.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace dravelin::zem {
namespace {

// Expected words and outputs were computed independently (arbitrary-precision integers masked to 64 bits).
struct SeedCase {
  const char* name;
  uint64_t seed;
  Xoshiro256StarStar::State state;  // the first four SplitMix64 outputs
  std::vector<uint64_t> outputs;    // the first three xoshiro256** outputs
  std::vector<double> numbers;      // the same three steps as numbers in [0, 1)
};

TEST(Xoshiro256StarStar, SeedsFromSplitMix64AndSteps) {
  const std::vector<SeedCase> cases = {
      {"zero",
       0,
       {0xe220a8397b1dcdafu, 0x6e789e6aa1b965f4u, 0x06c45d188009454fu, 0xf88bb8a8724c81ecu},
       {0x99ec5f36cb75f2b4u, 0xbf6e1f784956452au, 0x1a5f849d4933e6e0u},
       {0.6012629994179048, 0.7477740925472398, 0.10301998939503632}},
      {"one",
       1,
       {0x910a2dec89025cc1u, 0xbeeb8da1658eec67u, 0xf893a2eefb32555eu, 0x71c18690ee42c90bu},
       {0xb3f2af6d0fc710c5u, 0x853b559647364ceau, 0x92f89756082a4514u},
       {0.7029218331588505, 0.5204366199388569, 0.5741057000197225}},
      {"mixed bits",
       0x123456789abcdef0u,
       {0x161922c645ce50e8u, 0xad760cafa1697b60u, 0x3501ff44902ca50du, 0x417cb9a826d831dfu},
       {0xe01d6fafc557f1b9u, 0xbd627ebe4406b404u, 0x2c23132b578b57dbu},
       {0.8754491619232281, 0.7397841658130584, 0.17241020019677689}},
      {"all ones: the seed additions wrap",
       0xffffffffffffffffu,
       {0xe4d971771b652c20u, 0xe99ff867dbf682c9u, 0x382ff84cb27281e9u, 0x6d1db36ccba982d2u},
       {0x8f5520d52a7ead08u, 0xc476a018caa1802du, 0x81de31c0d260469eu},
       {0.5598927040505212, 0.7674350796247662, 0.5072966666942884}},
  };
  for (const SeedCase& c : cases) {
    SCOPED_TRACE(c.name);
    Xoshiro256StarStar words = Xoshiro256StarStar::from_seed(c.seed);
    EXPECT_EQ(words.state(), c.state);
    for (uint64_t expected : c.outputs) EXPECT_EQ(words.next_u64(), expected);

    Xoshiro256StarStar numbers = Xoshiro256StarStar::from_seed(c.seed);
    for (double expected : c.numbers) EXPECT_EQ(numbers.next_f64(), expected);
  }
}

TEST(Xoshiro256StarStar, NumbersStayBelowOne) {
  // With s1 = 0x33...33, s1 * 5 is all ones, and so is its rotation; times 9 it wraps to 0xff...f7, whose top
  // 53 bits are all ones: the largest number the generator can give, the largest double below 1.
  Xoshiro256StarStar top({0, 0x3333333333333333u, 0, 0});
  EXPECT_EQ(top.next_f64(), 1.0 - 0x1.0p-53);
  Xoshiro256StarStar many = Xoshiro256StarStar::from_seed(42);
  for (int i = 0; i < 10000; ++i) {
    const double y = many.next_f64();
    ASSERT_GE(y, 0.0);
    ASSERT_LT(y, 1.0);
  }
}

}  // namespace
}  // namespace dravelin::zem
