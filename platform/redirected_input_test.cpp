#include "platform/redirected_input.h"

#include <gtest/gtest.h>

namespace {

TEST(RedirectedInput, OneKeyABytesAndTheEndOnlyAfterTheLastKey) {
  RedirectedInput input;
  EXPECT_TRUE(redirected_input_wants_byte(input));
  redirected_input_take(input, kRedirectedNothingYet);  // a wait that timed out
  EXPECT_EQ(redirected_input_count(input), 0u);
  EXPECT_FALSE(redirected_input_ended(input));

  redirected_input_take(input, 0xE4);  // a byte above 127 stays a byte, not a negative value
  EXPECT_FALSE(redirected_input_wants_byte(input));
  EXPECT_EQ(redirected_input_count(input), 1u);
  redirected_input_take(input, kRedirectedEnd);  // the end behind the byte read ahead
  EXPECT_FALSE(redirected_input_ended(input)) << "a key is still waiting";

  ConsoleInputRecord key{};
  ASSERT_TRUE(redirected_input_next(input, &key));
  EXPECT_EQ(key.event_type, kKeyEvent);
  EXPECT_NE(key.key_down, 0u);
  EXPECT_EQ(static_cast<uint8_t>(key.ascii_char), 0xE4);
  EXPECT_TRUE(redirected_input_ended(input));
  EXPECT_FALSE(redirected_input_next(input, &key));
  EXPECT_FALSE(redirected_input_wants_byte(input));
}

}  // namespace
