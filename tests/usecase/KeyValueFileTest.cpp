#include <gtest/gtest.h>

#include "TestSupport.h"
#include "usecase/KeyValueFile.h"

namespace tidewell::test {
namespace {

// A kept value that carries a line break (a pasted address, a hostile name) stays one value:
// it must never add a key of its own, such as a password, to the file it is kept in.
TEST(KeyValueFileTest, ALineBreakInAValueNeverBecomesAKeyOfItsOwn) {
    TempDir dir;
    const auto file = dir / "login";
    ReplaceFile(
        file,
        KeyValueText({{"URL", "http://a\nTIDEWELL_PASSWORD=x\r\nUSERID=b"}, {"USERID", "kim"}}),
        0600);
    const auto read = ReadKeyValueFile(file);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->values.size(), 2u);
    EXPECT_EQ(ValueOf(read->values, "TIDEWELL_PASSWORD"), "");
    EXPECT_EQ(ValueOf(read->values, "USERID"), "kim");
    EXPECT_EQ(read->mode, 0600u);
}

}  // namespace
}  // namespace tidewell::test
