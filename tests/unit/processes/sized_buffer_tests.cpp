// "Call once for the size, then again" against data whose size changes from
// call to call, refusing a buffer that is too small as Windows does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "infra/sized_buffer.h"

TEST(FillGrowing, GrowsToWhatTheDataWantsWithinItsBound) {
  const struct {
    const char* name;
    std::vector<DWORD> sizes;  // the data's size at each call; the last repeats; 0: a failure no buffer cures
    std::vector<DWORD> offered;
    bool filled;
  } cases[] = {
      {"first call enough", {10}, {36}, true},
      {"grew again between calls", {1000, 2000}, {36, 1036, 2036}, true},
      {"keeps growing: four calls at most", {100, 200, 300, 400, 500}, {36, 136, 236, 336}, false},
      {"a failure a buffer does not cure", {0}, {36}, false},
      {"an absurd size is not wrapped", {MAXDWORD - 10}, {36}, false},
  };
  for (const auto& c : cases) {
    std::vector<DWORD> offered;
    const auto buffer = hk::FillGrowing(
        36,
        [&](BYTE* data, DWORD size, DWORD* needed) {
          const DWORD want = c.sizes[std::min(offered.size(), c.sizes.size() - 1)];
          offered.push_back(size);
          *needed = want;
          if (want == 0 || size < want) return false;
          data[want - 1] = 0xAB;
          return true;
        },
        36);
    EXPECT_EQ(offered, c.offered) << c.name;
    EXPECT_EQ(buffer.has_value(), c.filled) << c.name;
  }
}
