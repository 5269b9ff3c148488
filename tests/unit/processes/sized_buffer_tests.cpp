#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "infra/sized_buffer.h"

namespace {

// Data whose size changes from call to call (a service registered between
// two enumerations), refusing a buffer that is too small as Windows does.
struct Source {
  std::vector<DWORD> sizes;  // the data's size at each call; the last repeats
  std::vector<DWORD> offered;
  bool fail_always = false;
  DWORD want = 0;
  BOOL operator()(BYTE* buffer, DWORD size, DWORD* needed) {
    want = sizes[std::min(offered.size(), sizes.size() - 1)];
    offered.push_back(size);
    if (fail_always || size < want) {
      *needed = fail_always ? size : want;
      return FALSE;
    }
    buffer[want - 1] = 0xAB;
    return TRUE;
  }
};

TEST(FillGrowing, GrowsUntilTheDataFitsWithinItsBound) {
  struct Case {
    const char* name;
    DWORD first;
    std::vector<DWORD> sizes;
    bool fail_always;
    std::vector<DWORD> offered;
    bool filled;
  };
  const Case cases[] = {
      {"first call enough", 36, {10}, false, {36}, true},
      {"size query first", 0, {40}, false, {0, 76}, true},
      {"grown once", 36, {1000}, false, {36, 1036}, true},
      {"grew again between calls", 36, {1000, 2000, 2000}, false, {36, 1036, 2036}, true},
      {"keeps growing: bounded", 36, {100, 200, 300, 400, 500}, false, {36, 136, 236, 336}, false},
      {"a failure a buffer does not cure", 36, {10}, true, {36}, false},
      {"absurd size is not wrapped", 36, {MAXDWORD - 10}, false, {36}, false},
  };
  for (const Case& c : cases) {
    Source source{c.sizes, {}, c.fail_always};
    const auto buffer = hk::FillGrowing(c.first, std::ref(source), 36);
    EXPECT_EQ(source.offered, c.offered) << c.name;
    ASSERT_EQ(buffer.has_value(), c.filled) << c.name;
    if (buffer) {
      EXPECT_EQ((*buffer)[source.want - 1], 0xAB) << c.name;
    }
  }
}

}  // namespace
