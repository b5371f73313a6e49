// A run's id and the operator's texts about it.
#include "journal/RunMetadata.h"

#include <gtest/gtest.h>

namespace kelvaro {
namespace {

TEST(RunId, IsARandomVersionFourUuidThatReadsBack) {
    const RunId first = NewRunId();
    const RunId second = NewRunId();
    EXPECT_NE(first, second);
    const std::string text = RunIdText(first);
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
    EXPECT_EQ(ParseRunId(text), first);
    EXPECT_FALSE(IsNullRunId(first));
    EXPECT_TRUE(IsNullRunId(RunId{}));
    for (const char* wrong : {"", "not-an-id", "0123456789abcdef0123456789abcdef0123",
                              "01234567-89AB-4def-8123-456789abcdef"}) {
        EXPECT_FALSE(ParseRunId(wrong)) << wrong;
    }
}

TEST(RunMetadata, TextsAreCountedAndCutByCodePointNeverInsideOne) {
    const std::string name = "João Conceição";  // 14 code points, 17 bytes
    EXPECT_EQ(CodePoints(name), 14u);
    EXPECT_EQ(CutToCodePoints(name, 3), "Joã");
    EXPECT_EQ(CutToCodePoints(name, 14), name);
    EXPECT_EQ(CutToCodePoints("\xF0\x9F\x98\x80x", 1), "\xF0\x9F\x98\x80");  // a 4-byte one whole
}

}  // namespace
}  // namespace kelvaro
