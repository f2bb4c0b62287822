#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "driver/loop.h"
#include "driver/messages.h"
#include "driver_fixture.h"

struct MessageLog : DriverDirs {
    void SetUp() override
    {
        DriverDirs::SetUp();
        loop_reset_for_tests();
        messages_clear();
        messages_set_max_showing(5);
        messages_set_hide_spam(false);
    }
};

TEST_F(MessageLog, LongMessageIsCutTo255Characters)
{
    std::string text(300, 'a');
    text[254] = 'b';
    text[255] = 'c';
    post_message(text.c_str());
    EXPECT_EQ(strlen(message_line(0)), 255u);
    EXPECT_EQ(message_line(0)[254], 'b');
}

TEST_F(MessageLog, RingWrapsAfter1000Lines)
{
    char text[32];
    for (int i = 0; i < 1003; i++) {
        snprintf(text, sizeof text, "line %d", i);
        post_message(text);
    }
    EXPECT_EQ(message_next_index(), 3);
    EXPECT_STREQ(message_line(0), "line 1002");
    EXPECT_STREQ(message_line(999), "line 3");
    EXPECT_STREQ(message_line(1000), "") << "out of range is empty, not a crash";
    EXPECT_STREQ(message_line(-1), "");
}

TEST_F(MessageLog, BurstShowsNewestAndExpiresOneAtATime)
{
    for (int i = 0; i < 8; i++)
        post_message("burst");
    EXPECT_EQ(messages_showing(), 5);
    // All posted at game_clock 0: the first line goes 2 s later, then one every 5 s.
    messages_update(1.99);
    EXPECT_EQ(messages_showing(), 5);
    messages_update(2.0);
    EXPECT_EQ(messages_showing(), 4);
    messages_update(6.9);
    EXPECT_EQ(messages_showing(), 4);
    messages_update(7.0);
    EXPECT_EQ(messages_showing(), 3);
    messages_update(12.0);
    EXPECT_EQ(messages_showing(), 2);
}

TEST_F(MessageLog, SpamIsDroppedOnlyWhenHidden)
{
    post_message("[SPAM] Setup change l");
    EXPECT_STREQ(message_line(0), "[SPAM] Setup change l");
    messages_set_hide_spam(true);
    post_message("[SPAM] again");
    EXPECT_STREQ(message_line(0), "[SPAM] Setup change l");
    post_message("Lap 2");
    EXPECT_STREQ(message_line(0), "Lap 2");
}

TEST_F(MessageLog, CopiedToTheGameLog)
{
    post_message("Plain");
    post_message("Ends in a line feed\n");
    post_message("\033[31mRed");
    std::string log = log_text();
    EXPECT_NE(log.find("] Plain\n"), std::string::npos);
    EXPECT_NE(log.find("] Ends in a line feed\n["), std::string::npos) << "no second line feed";
    EXPECT_NE(log.find("\033[31mRed\033[0m\n"), std::string::npos) << "colours reset after ESC";
}
