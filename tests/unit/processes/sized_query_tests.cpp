#include <windows.h>

#include <gtest/gtest.h>

#include "tools/processes/sized_query.h"

using hk::processes::QuerySized;

namespace {

// A data source of a fixed size that, like the Windows calls, refuses a
// buffer that is too small.
struct Source {
  DWORD size;
  int measures = 0;
  int fills = 0;
  std::optional<std::vector<BYTE>> query(size_t guess = 0) {
    return QuerySized(
        [this] {
          ++measures;
          return size;
        },
        [this](BYTE* buffer, DWORD bytes) {
          ++fills;
          if (bytes < size) return false;
          buffer[size - 1] = 0xAB;
          return true;
        },
        guess);
  }
};

}  // namespace

TEST(SizedQuery, AsksForTheSizeUnlessAGuessFits) {
  Source plain{40};
  const auto data = plain.query();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->size(), 40u);
  EXPECT_EQ((*data)[39], 0xAB);
  EXPECT_EQ(plain.measures, 1);

  Source fits{40};
  ASSERT_TRUE(fits.query(64));
  EXPECT_EQ(fits.measures, 0);

  Source larger{100};
  const auto grown = larger.query(64);
  ASSERT_TRUE(grown);
  EXPECT_EQ(grown->size(), 100u);
  EXPECT_EQ(larger.fills, 2);
}

TEST(SizedQuery, NoSizeOrAFailedFillIsNothing) {
  Source empty{0};
  EXPECT_FALSE(empty.query());
  EXPECT_EQ(empty.fills, 0);
  EXPECT_FALSE(QuerySized([] { return DWORD{16}; }, [](BYTE*, DWORD) { return false; }));
}
