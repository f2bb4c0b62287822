#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "../platform/test_support.h"
#include "common/messages.h"

using namespace platform_test;

struct MessageLog : ::testing::Test {
    void SetUp() override
    {
        start_log_capture();
        messages_set_clock(nullptr);
        messages_clear();
        messages_set_max_showing(5);
        messages_set_hide_spam(false);
    }
    void TearDown() override { stop_log_capture(); }
};

static double g_now;
static double now(void) { return g_now; }

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
    g_now = 10;
    messages_set_clock(now);
    for (int i = 0; i < 8; i++)
        post_message("burst");
    EXPECT_EQ(messages_showing(), 5);
    // All posted at 10 s of game time: the first line goes 2 s later, then one every 5 s.
    messages_update(11.99);
    EXPECT_EQ(messages_showing(), 5);
    messages_update(12.0);
    EXPECT_EQ(messages_showing(), 4);
    messages_update(16.9);
    EXPECT_EQ(messages_showing(), 4);
    messages_update(17.0);
    EXPECT_EQ(messages_showing(), 3);
    messages_update(22.0);
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
    EXPECT_EQ(captured_log(), "Plain\nEnds in a line feed\n\033[31mRed\033[0m\n")
        << "one line feed each; colours reset after ESC";
}

TEST_F(MessageLog, RemoteTextKeepsOnlyTheFontsColours)
{
    struct Case {
        const char *in, *out;
    };
    const Case cases[] = {
        { "\033[1;31mred\033[0m plain", "\033[1;31mred\033[0m plain" },
        { "\033[22;47mgrey\033[m", "\033[22;47mgrey\033[m" },
        { "\033[38;5;196mno 256 colours", "no 256 colours" },
        { "\033[2Jwipe\033[Hhome", "wipehome" },
        { "\033]0;new title\007after", "0;new titleafter" },
        { "bell\007 back\b tab\t cr\r lf\n", "bell back tab cr lf" },
        { "c1\xc2\x9b""2J and del\x7f", "c1\xc2""2J and del" },
        { "unfinished \033[31", "unfinished " },
        { "\033[9999999999999m big", " big" },
    };
    for (const Case &c : cases) {
        char out[128];
        clean_remote_text(c.in, out, sizeof out);
        EXPECT_STREQ(out, c.out) << c.in;
    }
    char small[5];
    clean_remote_text("\033[31mred", small, sizeof small);
    EXPECT_STREQ(small, "red") << "a colour that does not fit is left out, never cut";
    post_remote_message("\033]2;x\007hi\033[32m!");
    EXPECT_STREQ(message_line(0), "2;xhi\033[32m!");
    EXPECT_EQ(captured_log(), "2;xhi\033[32m!\033[0m\n");
}
