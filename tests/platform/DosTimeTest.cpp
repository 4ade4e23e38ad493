#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/DosTime.h"

namespace tidewell {
namespace {

TEST(DosTime, PacksFieldsAtTwoSecondResolution) {
    const auto packed = PackDosDateTime(EncodeDateTime({1980, 1, 1, 0, 0, 0, 0}));
    ASSERT_TRUE(packed);
    EXPECT_EQ(*packed, (1 << 5 | 1) << 16);
    // 10:00:03.900 packs as 10:00:02.
    const auto odd = PackDosDateTime(EncodeDateTime({2006, 3, 5, 10, 0, 3, 900}));
    ASSERT_TRUE(odd);
    EXPECT_EQ(FormatDateTime("hh:nn:ss", *UnpackDosDateTime(*odd)), "10:00:02");
}

TEST(DosTime, YearsOutside1980To2107HaveNoPackedForm) {
    EXPECT_FALSE(PackDosDateTime(EncodeDateTime({1979, 12, 31, 23, 59, 58, 0})));
    EXPECT_TRUE(PackDosDateTime(EncodeDateTime({2107, 12, 31, 23, 59, 58, 0})));
    EXPECT_FALSE(PackDosDateTime(EncodeDateTime({2108, 1, 1, 0, 0, 0, 0})));
    EXPECT_FALSE(UnpackDosDateTime(0));  // month 0, day 0
}

TEST(DosTime, TimeReadFromOneFileAndSetOnAnotherReadsBackEqual) {
    test::TempDir dir;
    test::WriteFile(dir / "a", "a");
    test::WriteFile(dir / "b", "b");
    const auto stamp = PackDosDateTime(EncodeDateTime({2011, 7, 8, 13, 14, 17, 0}));
    ASSERT_TRUE(WriteFileDosDateTime(dir / "a", *stamp));
    const auto read = ReadFileDosDateTime(dir / "a");
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, *stamp);
    ASSERT_TRUE(WriteFileDosDateTime(dir / "b", *read));
    EXPECT_EQ(ReadFileDosDateTime(dir / "b"), read);
}

TEST(DosTime, MissingFilesFail) {
    test::TempDir dir;
    EXPECT_FALSE(ReadFileDosDateTime(dir / "missing"));
    EXPECT_FALSE(WriteFileDosDateTime(dir / "missing", *PackDosDateTime(EncodeDate(2000, 1, 1))));
    EXPECT_FALSE(ReadFileDosDateTime(dir.path()));  // a folder is no file
}

}  // namespace
}  // namespace tidewell
