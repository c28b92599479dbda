#include "wave/canonical_header.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "tests/test_files.h"

using namespace wav2ima;

namespace {

TEST(CanonicalHeader, TooLongForRiffSizesIsUnknownLength) {
  struct Row {
    std::uint64_t data_size;
    std::uint32_t want_riff;
    std::uint32_t want_data;
  };
  const Row rows[] = {{0, 36, 0},
                      {0xFFFFFFFEULL - 36, 0xFFFFFFFE, 0xFFFFFFFE - 36},
                      {0xFFFFFFFFULL - 36, 0xFFFFFFFF, 0xFFFFFFFF},
                      {1ULL << 34, 0xFFFFFFFF, 0xFFFFFFFF}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.data_size);
    std::FILE* out = std::tmpfile();
    ASSERT_EQ(write_canonical_header(out, row.data_size), 0);
    const Bytes header = contents(out);
    std::fclose(out);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(Bytes(header.begin() + 4, header.begin() + 8), le32(row.want_riff));
    EXPECT_EQ(Bytes(header.begin() + 40, header.end()), le32(row.want_data));
  }
}

}  // namespace
