#include <gtest/gtest.h>

#include <cctype>

#include "platform/Identity.h"

namespace tidewell {
namespace {

// "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}" with upper-case hex digits, Y one of 8 9 A B.
bool IsGuidText(const std::string& text) {
    const std::string shape = "{hhhhhhhh-hhhh-4hhh-yhhh-hhhhhhhhhhhh}";
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = text[i];
        const bool hex = std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F');
        if (shape[i] == 'h' && !hex) return false;
        if (shape[i] == 'y' && std::string("89AB").find(c) == std::string::npos) return false;
        if (shape[i] != 'h' && shape[i] != 'y' && c != shape[i]) return false;
    }
    return true;
}

TEST(Identity, GuidHasRegistryTextFormAndDiffers) {
    const std::string a = NewGuidText();
    EXPECT_TRUE(IsGuidText(a)) << a;
    EXPECT_FALSE(IsGuidText("{0000000-0000-4000-8000-000000000000}"));
    EXPECT_NE(a, NewGuidText());
}

TEST(Identity, Md5FollowsRfc1321) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace tidewell
