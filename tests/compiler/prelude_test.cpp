#include "compiler/prelude.h"

#include <gtest/gtest.h>

namespace dravelin::compiler {
namespace {

TEST(Prelude, TextIsTheBundledSourceByteForByte) {
  std::string_view text = prelude_text();
  EXPECT_EQ(text.size(), 981u);
  EXPECT_EQ(text.substr(0, 12), "program std\n");
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.find("  keep   = each chunks feels"), std::string_view::npos);
}

}  // namespace
}  // namespace dravelin::compiler
