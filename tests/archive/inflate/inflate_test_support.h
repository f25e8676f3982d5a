// Small helpers shared by the inflate tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/inflate/inflate_errors.h"
#include "rtl/exceptions.h"
#include "rtl/stream.h"
#include "tests/support/source_streams.h"

namespace velmora::inflate_test {

// Runs action and expects EAbInternalInflateError with exactly cause.
inline void ExpectCause(const std::function<void()>& action, const std::string& cause) {
  try {
    action();
    ADD_FAILURE() << "no error; expected " << cause;
  } catch (const EAbInternalInflateError& e) {
    EXPECT_EQ(e.Message(), cause);
  }
}

// Runs action and expects the assertion error whose text is
// "message (unit, line N)".
inline void ExpectAssertion(const std::function<void()>& action, const std::string& text) {
  try {
    action();
    ADD_FAILURE() << "no assertion; expected " << text;
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), text);
  }
}

using test::LendingStream;
using test::TrickleStream;

}  // namespace velmora::inflate_test
