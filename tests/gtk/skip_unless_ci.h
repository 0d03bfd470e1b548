#pragma once

// A test that cannot run on this machine (no Xvfb, a build without the
// resource compiler) is skipped during local work, but fails in continuous
// integration (CI set in the environment), where everything it needs is
// installed and a skip would hide that the native player went untested.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace clipnote::gtk::testing {

inline bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0' && std::strcmp(ci, "0") != 0 &&
         std::strcmp(ci, "false") != 0;
}

}  // namespace clipnote::gtk::testing

// Use it as the whole body of an `if`, in braces.
#define CLIPNOTE_SKIP_UNLESS_CI(reason)                       \
  if (::clipnote::gtk::testing::RunningInCi()) {              \
    GTEST_FAIL() << (reason) << " (CI must run this test)";   \
  }                                                           \
  GTEST_SKIP() << (reason)
