#include <gtest/gtest.h>

#include <regex>

#include "platform/Identity.h"

namespace tidewell {
namespace {

TEST(Identity, GuidHasRegistryTextFormAndDiffers) {
    const std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
    const std::string a = NewGuidText();
    EXPECT_TRUE(std::regex_match(a, form)) << a;
    EXPECT_NE(a, NewGuidText());
}

TEST(Identity, Md5FollowsRfc1321) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace tidewell
