#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/log.h"
#include "platform/window.h"
#include "test_support.h"

using namespace platform_test;

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
}

class LogTest : public ::testing::Test {
protected:
    std::string dir;
    std::string path;

    void SetUp() override
    {
        char templ[] = "/tmp/sk_log_XXXXXX";
        dir = mkdtemp(templ);
        path = dir + "/lastlog.txt";
        unsetenv("TOVA_LOGFILE");
        unsetenv("TOVA_LOGFILE_FLAGS");
        log_set_observer(nullptr);
        log_reset_for_tests();
        // 1 hour, 2 minutes, 5.47 seconds.
        use_fake_clock(3725470000LL);
    }

    void TearDown() override
    {
        log_reset_for_tests();
        clock_set_source(nullptr);
        unsetenv("TOVA_LOGFILE");
        unsetenv("TOVA_LOGFILE_FLAGS");
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << dir;
    }
};

} // namespace

TEST_F(LogTest, EnvironmentPathWritesPrefixedLines)
{
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    log_printf("Hello %d\n", 7);
    EXPECT_TRUE(log_is_open());
    EXPECT_EQ(read_file(path), "[1:02:05.47] Logfile \"" + path + "\" opened\n"
                               "[1:02:05.47] TOVA 0.31\n"
                               "[1:02:05.47] Hello 7\n");
}

TEST_F(LogTest, PrefixCountsHoursMinutesSecondsAndHundredths)
{
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    use_fake_clock(0);
    log_printf("a\n");
    use_fake_clock(36000LL * 1000000 + 59LL * 60 * 1000000 + 9LL * 1000000 + 990000);   // 10:59:09.99
    log_printf("b\n");
    std::string text = read_file(path);
    EXPECT_NE(text.find("[0:00:00.00] a\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[10:59:09.99] b\n"), std::string::npos) << text;
}

TEST_F(LogTest, FirstMessageNamesThePathAndIsNotLogged)
{
    log_printf("TOVA_LOGFILE=%s\n", path.c_str());
    log_printf("second\n");
    std::string text = read_file(path);
    EXPECT_EQ(text.find("TOVA_LOGFILE="), std::string::npos) << text;
    EXPECT_NE(text.find("Logfile \"" + path + "\" opened\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] second\n"), std::string::npos) << text;
}

TEST_F(LogTest, EnvironmentWinsOverFirstMessage)
{
    std::string other = dir + "/other.txt";
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    log_printf("TOVA_LOGFILE=%s\n", other.c_str());
    log_printf("kept\n");
    EXPECT_NE(access(path.c_str(), F_OK), -1);
    EXPECT_EQ(access(other.c_str(), F_OK), -1);
    std::string text = read_file(path);
    EXPECT_EQ(text.find("TOVA_LOGFILE="), std::string::npos) << text;
    EXPECT_NE(text.find("] kept\n"), std::string::npos);
}

TEST_F(LogTest, NoPathMeansNoLogFile)
{
    log_printf("nowhere\n");
    EXPECT_FALSE(log_is_open());
}

TEST_F(LogTest, DoubleAngleAppends)
{
    write_file(path, "old line\n");
    setenv("TOVA_LOGFILE", (">>" + path).c_str(), 1);
    log_printf("new line\n");
    std::string text = read_file(path);
    EXPECT_EQ(text.rfind("old line\n", 0), 0u) << text;
    EXPECT_NE(text.find("] new line\n"), std::string::npos);
    EXPECT_NE(text.find("Logfile \"" + path + "\" opened"), std::string::npos) << text;
}

TEST_F(LogTest, SingleAngleWritesAnew)
{
    write_file(path, "old line\n");
    setenv("TOVA_LOGFILE", (">" + path).c_str(), 1);
    log_printf("new line\n");
    std::string text = read_file(path);
    EXPECT_EQ(text.find("old line"), std::string::npos) << text;
    EXPECT_NE(text.find("] new line\n"), std::string::npos);
}

TEST_F(LogTest, FlagsAreTheOpenModeInstead)
{
    write_file(path, "old line\n");
    setenv("TOVA_LOGFILE", (">" + path).c_str(), 1);
    setenv("TOVA_LOGFILE_FLAGS", "a", 1);
    log_printf("new line\n");
    std::string text = read_file(path);
    EXPECT_EQ(text.rfind("old line\n", 0), 0u) << text;
    EXPECT_NE(text.find("] new line\n"), std::string::npos);
}

TEST_F(LogTest, ByteNineteenIsNotWritten)
{
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    log_printf("\x13quiet\n");
    log_printf("loud\n");
    std::string text = read_file(path);
    EXPECT_EQ(text.find("quiet"), std::string::npos) << text;
    EXPECT_NE(text.find("] loud\n"), std::string::npos);
}

TEST_F(LogTest, NullFormatClosesTheLog)
{
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    log_printf("before\n");
    log_printf(nullptr);
    EXPECT_FALSE(log_is_open());
    log_printf("after\n");
    std::string text = read_file(path);
    EXPECT_NE(text.find("] before\n"), std::string::npos);
    EXPECT_EQ(text.find("after"), std::string::npos) << text;
}

TEST_F(LogTest, LongMessagesAreWrittenWhole)
{
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    std::string long_text(10000, 'x');
    log_printf("%s|end\n", long_text.c_str());
    std::string text = read_file(path);
    EXPECT_NE(text.find(long_text + "|end\n"), std::string::npos);
}

TEST_F(LogTest, ErrorsAreLoggedAndRemembered)
{
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    EXPECT_STREQ(last_error(), "Unknown");
    log_error("Can't create window!");
    EXPECT_STREQ(last_error(), "Can't create window!");
    EXPECT_NE(read_file(path).find("] Error: Can't create window!\n"), std::string::npos);
}

TEST_F(LogTest, MessageBoxGoesToStandardErrorAndTheLog)
{
    // SK_TEST is set for every test run, so no box waits for a click; the text still goes
    // to standard error, where a run with no display shows it.
    setenv("SK_TEST", "1", 1);
    setenv("TOVA_LOGFILE", path.c_str(), 1);
    ::testing::internal::CaptureStderr();
    message_box("Skorva", "Track \"%s\" is missing", "Hillside");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Skorva: Track \"Hillside\" is missing\n");
    EXPECT_NE(read_file(path).find("] Skorva: Track \"Hillside\" is missing\n"), std::string::npos);
}

TEST_F(LogTest, MessageBoxTextIsAtMost1023Characters)
{
    setenv("SK_TEST", "1", 1);
    std::string long_text(3000, 'y');
    ::testing::internal::CaptureStderr();
    message_box("Caption", "%s", long_text.c_str());
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Caption: " + std::string(1023, 'y') + "\n");
}

TEST_F(LogTest, ObserverSeesMessagesWithoutAFile)
{
    start_log_capture();
    log_printf("seen %s\n", "here");
    log_printf("\x13hidden\n");
    EXPECT_EQ(captured_log(), "seen here\n");
    stop_log_capture();
}
