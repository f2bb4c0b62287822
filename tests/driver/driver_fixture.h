// Shared set-up for the driver tests: a fresh home and data directory, and an injected clock.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/log.h"
#include "vfs/vfs.h"

inline long long g_fake_clock_us;

inline void fake_clock(long *sec, long *usec)
{
    *sec = (long)(g_fake_clock_us / 1000000);
    *usec = (long)(g_fake_clock_us % 1000000);
}

struct DriverDirs : ::testing::Test {
    std::string root, home, data;
    void SetUp() override
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sk_driver_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        data = root + "/data";
        home = root + "/xdg/Skorva/";
        make_dirs(data + "/");
        make_dirs(home);
        setenv("SK_HOME", data.c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        setenv("TOVA_LOGFILE", (root + "/test.log").c_str(), 1);
        log_reset_for_tests();
        vfs_reset_for_tests();
        g_fake_clock_us = 0;
        clock_set_source(fake_clock);
    }
    void TearDown() override
    {
        clock_set_source(nullptr);
        log_reset_for_tests();
        vfs_reset_for_tests();
        unsetenv("TOVA_LOGFILE");
        std::string cmd = "rm -rf '" + root + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << root;
    }
    static void make_dirs(const std::string &path) { make_parent_dirs(path.c_str()); }
    void write_file(const std::string &path, const std::string &text)
    {
        make_dirs(path);
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    std::string read_file(const std::string &path)
    {
        std::string out;
        FILE *f = fopen(path.c_str(), "rb");
        if (!f)
            return out;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        fclose(f);
        return out;
    }
    std::string log_text()
    {
        log_printf(nullptr);
        return read_file(root + "/test.log");
    }
};
