#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "common/mem.h"

struct CheckedAlloc : ::testing::Test {
    void SetUp() override
    {
        setenv("SK_CHECK_ALLOC", "1", 1);
        mem_reset_for_tests();
    }
    void TearDown() override
    {
        unsetenv("SK_CHECK_ALLOC");
        mem_reset_for_tests();
    }
};

TEST_F(CheckedAlloc, LiveBlocksAreCountedAndFreed)
{
    void *a = xmalloc(16);
    void *b = xcalloc(4, 8);
    EXPECT_EQ(mem_live_blocks(), 2);
    EXPECT_EQ(((unsigned char *)b)[31], 0);
    xfree(a);
    EXPECT_EQ(mem_live_blocks(), 1);
    xfree(b);
    EXPECT_EQ(mem_live_blocks(), 0);
    xfree(nullptr);
    EXPECT_EQ(mem_live_blocks(), 0);
}

TEST_F(CheckedAlloc, UnknownPointerIsReportedAndLeftAlone)
{
    char *outside = (char *)malloc(8);
    strcpy(outside, "intact");
    testing::internal::CaptureStderr();
    xfree(outside);
    std::string err = testing::internal::GetCapturedStderr();
    char expected[64];
    snprintf(expected, sizeof expected, "Allocation not found for %p!\n", (void *)outside);
    EXPECT_EQ(err, expected);
    EXPECT_STREQ(outside, "intact");
    free(outside);
}

TEST_F(CheckedAlloc, ReallocMovesTheEntry)
{
    char *p = (char *)xmalloc(4);
    memcpy(p, "abc", 4);
    p = (char *)xrealloc(p, 1 << 20);
    EXPECT_STREQ(p, "abc");
    EXPECT_EQ(mem_live_blocks(), 1);
    xfree(p);
    EXPECT_EQ(mem_live_blocks(), 0);
}

TEST_F(CheckedAlloc, ShutdownListsBlocksWithSequenceNumbers)
{
    void *a = xmalloc(1);
    void *b = xmalloc(1);
    xfree(a);
    testing::internal::CaptureStderr();
    mem_list_live_blocks();
    std::string err = testing::internal::GetCapturedStderr();
    char expected[64];
    snprintf(expected, sizeof expected, "%p:1\n", b);   // the second allocation since the reset
    EXPECT_EQ(err, expected);
    xfree(b);
}

TEST(UncheckedAlloc, NoTableWithoutTheVariable)
{
    unsetenv("SK_CHECK_ALLOC");
    mem_reset_for_tests();
    void *a = xmalloc(8);
    EXPECT_FALSE(mem_checking());
    EXPECT_EQ(mem_live_blocks(), 0);
    xfree(a);
}
