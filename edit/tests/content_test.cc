// SPDX-License-Identifier: Apache-2.0
// new_length and build_content: size checks before building, exact output.
#include "engine/content.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace tuvel {
namespace {

TEST(Content, LengthArithmeticOverflowIsASizeLimit) {
  // The replacement bytes are never read for the length, so a view of an
  // impossible size stands in for a huge replacement.
  const char byte = 'x';
  const std::string_view huge(&byte, std::numeric_limits<std::size_t>::max() / 2 + 1);
  const std::string text = "ab";
  auto length = new_length(text, {Change{huge, 0, 1}, Change{huge, 1, 2}});
  ASSERT_FALSE(length.ok());
  EXPECT_EQ(length.error().code(), "size_limit");
  EXPECT_EQ(length.error().render(), "replacement size overflow");
}

TEST(Content, SixteenMiBBoundary) {
  const std::string text(1024, 'a');
  const std::string fill(16 * 1024 * 1024 - 1024, 'b');
  auto exact = new_length(text, {Change{fill, 1024, 1024}});
  ASSERT_TRUE(exact.ok());
  EXPECT_EQ(*exact, 16u * 1024 * 1024);

  auto over = new_length(text, {Change{fill, 1024, 1024}, Change{"c", 0, 0}});
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.error().code(), "io_or_request");
  EXPECT_EQ(over.error().render(), "result exceeds 16 MiB");
}

TEST(Content, BuildsPiecesInOrder) {
  const std::string text = "0123456789";
  const std::vector<Change> changes{{"A", 0, 0}, {"", 2, 4}, {"xyz", 5, 6}, {"E", 10, 10}};
  auto length = new_length(text, changes);
  ASSERT_TRUE(length.ok());
  EXPECT_EQ(build_content(text, changes, *length).view(), "A014xyz6789E");
}

}  // namespace
}  // namespace tuvel
