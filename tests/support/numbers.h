// The non-finite doubles that number tests feed in, declared once so that test files can be compiled together.
#pragma once

#include <limits>

namespace dravelin::test_numbers {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace dravelin::test_numbers
