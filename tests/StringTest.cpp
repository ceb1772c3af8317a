#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "cli/String.h"

TEST(String, DefaultIsEmptyWithRoomForTheNul)
{
    const String text;
    EXPECT_EQ(text.length(), 0);
    EXPECT_EQ(text.capacity(), 1);
    EXPECT_STREQ(text.c_str(), "");
}

TEST(String, GrowsToTheExactSizeAndNeverShrinks)
{
    String text;
    text.assign("-lf");
    EXPECT_EQ(text.capacity(), 4);
    text.assign("-l");
    EXPECT_EQ(text.capacity(), 4);
    EXPECT_EQ(text.length(), 2);
    EXPECT_STREQ(text.c_str(), "-l");

    text.assign("-lfx"); // one more character than the buffer holds
    EXPECT_EQ(text.capacity(), 5);
    EXPECT_STREQ(text.c_str(), "-lfx");

    text.assign(String("archive.tre"));
    EXPECT_EQ(text.capacity(), 12);
    EXPECT_EQ(text.length(), 11);
}

TEST(String, CopyHasExactCapacityAndItsOwnBuffer)
{
    String original("long text");
    original.assign("ab"); // capacity stays 10
    const String copy(original);
    EXPECT_EQ(copy.capacity(), 3);
    EXPECT_NE(copy.c_str(), original.c_str());
    original.assign("xy");
    EXPECT_STREQ(copy.c_str(), "ab");
}

TEST(String, SelfAssignmentChangesNothing)
{
    String text("same");
    const char* buffer = text.c_str();
    text.assign(text);
    text.assign(text.c_str());
    EXPECT_EQ(text.c_str(), buffer);
    EXPECT_STREQ(text.c_str(), "same");
    EXPECT_EQ(text.capacity(), 5);
}

TEST(String, AssigningPartOfItsOwnTextWorks)
{
    String text("prefix-rest");
    text.assign(text.c_str() + 7);
    EXPECT_STREQ(text.c_str(), "rest");
}

TEST(String, EqualityIsBytewiseAndIgnoresCapacity)
{
    String wide("a much longer text");
    wide.assign("-l");
    const String narrow("-l");
    EXPECT_TRUE(wide == narrow);
    EXPECT_FALSE(String("-L") == narrow);
    EXPECT_FALSE(String("-lf") == narrow);
    EXPECT_FALSE(String("") == narrow);
    EXPECT_TRUE(String("\xe9t\xe9") == "\xe9t\xe9");
}

TEST(String, MovedFromStringIsEmptyAndReusable)
{
    String source("moved");
    String target(std::move(source));
    EXPECT_STREQ(target.c_str(), "moved");
    // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): the state after a move is defined
    EXPECT_STREQ(source.c_str(), "");
    source.assign("again");
    EXPECT_STREQ(source.c_str(), "again");

    String other("other");
    other = std::move(target);
    EXPECT_STREQ(other.c_str(), "moved");
}

TEST(String, StreamOutputWritesTheCharactersOnly)
{
    std::ostringstream out;
    out << String("a b") << String() << String("\xff");
    EXPECT_EQ(out.str(), "a b\xff");
}
