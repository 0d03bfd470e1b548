// A failed allocation of either display image is reported like any other
// start-up failure. The images come from the non-throwing array allocator; this
// test binary's replacement of it fails on request for one size.

#include <atomic>
#include <cstddef>
#include <new>
#include <string>

#include "app/fatal_report.h"
#include "player_harness.h"

namespace {

std::atomic<std::size_t> failingArraySize{0};

}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (size == failingArraySize.load()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace clipnote::testing {
namespace {

class ImageAllocationFailureTest : public PlayerTest,
                                   public ::testing::WithParamInterface<std::size_t> {
 protected:
  ~ImageAllocationFailureTest() override { failingArraySize = 0; }
};

TEST_P(ImageAllocationFailureTest, IsReportedAndEndsTheProcess) {
  fake.SetSystemText("Not enough memory resources are available to process this command.\r\n");
  failingArraySize = GetParam();
  EXPECT_EQ(TryConstruct(fake, video, speech), nullptr);
  failingArraySize = 0;

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  EXPECT_EQ(fake.MessageBoxes()[0].text,
            std::string(kNotEnoughMemoryText) +
                "\nError: Not enough memory resources are available to process this command.\r\n\n");
  EXPECT_EQ(fake.MessageBoxes()[0].caption, kFatalCaption);
  EXPECT_EQ(fake.ExitCode(), 0u);
  // The four decoder areas came first; nothing is allocated after the failure.
  EXPECT_EQ(fake.GlobalAllocs().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(EachImage, ImageAllocationFailureTest,
                         ::testing::Values(std::size_t{kRgbNativeBytes}, std::size_t{kRgbDoubledBytes}));

}  // namespace
}  // namespace clipnote::testing
