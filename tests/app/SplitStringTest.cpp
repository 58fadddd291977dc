#include "app/SplitString.h"
#include <gtest/gtest.h>

using namespace krv;

namespace {
std::vector<std::string> Split(const std::string& s) {
    TStringList list;
    SplitString(s, ';', list);
    return list.ToVector();
}
using V = std::vector<std::string>;
} // namespace

TEST(SplitString, MaskListsSplitAtSemicolons) {
    EXPECT_EQ(Split("*.doc;*.txt"), (V{"*.doc", "*.txt"}));
    EXPECT_EQ(Split(";*.doc"), (V{"*.doc"}));
    EXPECT_EQ(Split("*.doc;"), (V{"*.doc"}));
    EXPECT_EQ(Split("*.doc;;"), (V{"*.doc", ""}));   // a call that starts on the closing run
    EXPECT_EQ(Split(";"), (V{""}));
    EXPECT_EQ(Split(""), (V{}));
    EXPECT_EQ(Split("a; b"), (V{"a", " b"}));
    EXPECT_EQ(Split("a;;;b"), (V{"a", "b"}));
}

TEST(SplitString, AppendsWithoutClearing) {
    TStringList list;
    list.Add("kept");
    SplitString("x;y", ';', list);
    EXPECT_EQ(list.ToVector(), (V{"kept", "x", "y"}));
}

TEST(SplitString, NextTokenMovesPastTheSeparator) {
    int pos = 1;
    std::string token = "old";
    NextToken("ab,,cd", ',', pos, token);
    EXPECT_EQ(token, "ab");
    EXPECT_EQ(pos, 4);
    NextToken("ab,,cd", ',', pos, token);
    EXPECT_EQ(token, "cd");
    EXPECT_EQ(pos, 8);
    NextToken("ab,,cd", ',', pos, token);
    EXPECT_EQ(token, "");
}
