// The fences every kernel test's sources sit against: a read one byte past
// the fenced end of a GuardedBytes faults, the bytes themselves read fine.
#include "kernel_test_support.h"

using namespace kt;

namespace {

#if GTEST_HAS_DEATH_TEST && !defined(__EMSCRIPTEN__) && !defined(_WIN32)
uint8_t ReadAt(const uint8_t* p) { return *static_cast<const volatile uint8_t*>(p); }

TEST(GuardedBytesDeathTest, AReadPastTheFencedEndFaults) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const size_t size : {size_t{1}, size_t{100}, size_t{5000}}) {
    SCOPED_TRACE(size);
    GuardedBytes end(size, Fence::kEnd);
    GuardedBytes start(size, Fence::kStart);
    EXPECT_EQ(ReadAt(end.data()) + ReadAt(end.data() + size - 1), 0);
    EXPECT_EQ(ReadAt(start.data()) + ReadAt(start.data() + size - 1), 0);
    EXPECT_DEATH(ReadAt(end.data() + size), "");
    EXPECT_DEATH(ReadAt(start.data() - 1), "");
  }
}
#else
TEST(GuardedBytesDeathTest, AReadPastTheFencedEndFaults) {
#if defined(_WIN32)
  GTEST_SKIP() << "a faulting child stops in Wine's debugger rather than dying: the fences are "
                  "checked by the Linux builds";
#else
  GTEST_SKIP() << "no pages to protect here (WebAssembly's memory has none): the fences are "
                  "plain bytes and a read past them goes unseen";
#endif
}
#endif

}  // namespace
