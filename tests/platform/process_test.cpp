// The process: priority, the quit signals and the advisory locks.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/input.h"
#include "platform/process.h"
#include "test_support.h"

using namespace platform_test;

// Runs body in a child process (its priority and signals stay its own); true when it
// returned true.
template <typename F> static bool in_child(F body)
{
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0)
        _exit(body() ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ProcessPriority, NeverAboveNormal)
{
    // Root may set any priority: the game must still not take more than a normal share.
    EXPECT_TRUE(in_child([] {
        start_log_capture();
        if (setpriority(PRIO_PROCESS, 0, 0) != 0)
            return false;
        process_keep_resident_and_raise_priority();
        errno = 0;
        int nice_now = getpriority(PRIO_PROCESS, 0);
        return errno == 0 && nice_now == 0 && logged("Priority already normal (0)\n") &&
               !logged("Working set successfully updated") && logged("Working set range ");
    }));
    // Started below normal ("nice 5"), it comes back to normal where it may.
    EXPECT_TRUE(in_child([] {
        start_log_capture();
        if (setpriority(PRIO_PROCESS, 0, 5) != 0)
            return false;
        process_keep_resident_and_raise_priority();
        int nice_now = getpriority(PRIO_PROCESS, 0);
        if (geteuid() == 0)
            return nice_now == 0 && logged("Priority raised from 5 to normal\n");
        return nice_now == 5 && logged("Priority left at 5");
    }));
}

TEST(QuitSignals, SigtermEndsTheFrameWaitAtOnce)
{
    EXPECT_TRUE(in_child([] {
        quit_signals_install();
        std::thread sender([] {
            usleep(30000);
            kill(getpid(), SIGTERM);
        });
        struct timespec a, b;
        clock_gettime(CLOCK_MONOTONIC, &a);
        bool finished = wait_pumping_events(5, 0);
        clock_gettime(CLOCK_MONOTONIC, &b);
        sender.join();
        double waited = (double)(b.tv_sec - a.tv_sec) + (double)(b.tv_nsec - a.tv_nsec) * 1e-9;
        return !finished && quit_signal_received() == SIGTERM && waited < 1.0;
    }));
    EXPECT_TRUE(in_child([] {
        quit_signals_install();
        raise(SIGINT);
        raise(SIGINT);      // a second one does not end the process either
        return quit_signal_received() == SIGINT;
    }));
}

TEST(AdvisoryLocks, OneHolderAtATime)
{
    std::string dir = (std::filesystem::temp_directory_path() / "sk_lock_XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    bool busy = true;
    int first = lock_directory(dir.c_str(), &busy);
    ASSERT_GE(first, 0);
    EXPECT_FALSE(busy);
    EXPECT_EQ(lock_directory(dir.c_str(), &busy), -1);
    EXPECT_TRUE(busy);
    std::string log = dir + "/lastlog-2.txt";
    int file = lock_file(log.c_str(), &busy);
    ASSERT_GE(file, 0) << "a file is created and locked";
    EXPECT_EQ(lock_file(log.c_str(), &busy), -1);
    EXPECT_TRUE(busy);
    unlock_path(first);
    int again = lock_directory(dir.c_str(), &busy);
    EXPECT_GE(again, 0);
    unlock_path(again);
    unlock_path(file);
    EXPECT_EQ(lock_directory((dir + "/missing").c_str(), &busy), -1);
    EXPECT_FALSE(busy) << "a folder that cannot be opened is not another instance";
    std::filesystem::remove_all(dir);
}
