// Helpers shared by the platform tests: captured log text and an injected clock.
#pragma once
#include <string>

#include "platform/clock.h"
#include "platform/log.h"

namespace platform_test {

inline std::string &captured_log()
{
    static std::string text;
    return text;
}

inline void capture(const char *text)
{
    captured_log() += text;
}

// Starts capturing the log from nothing (no log file is opened).
inline void start_log_capture()
{
    log_reset_for_tests();
    captured_log().clear();
    log_set_observer(capture);
}

inline void stop_log_capture()
{
    log_set_observer(nullptr);
    log_reset_for_tests();
}

inline bool logged(const std::string &what)
{
    return captured_log().find(what) != std::string::npos;
}

inline long long &fake_now_us()
{
    static long long now;
    return now;
}

inline void fake_clock(long *sec, long *usec)
{
    *sec = (long)(fake_now_us() / 1000000);
    *usec = (long)(fake_now_us() % 1000000);
}

inline void use_fake_clock(long long us)
{
    fake_now_us() = us;
    clock_set_source(fake_clock);
}

} // namespace platform_test
