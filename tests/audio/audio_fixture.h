// A fresh home and data directory per test, the log captured, options and sound state reset.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "audio/engine_sound.h"
#include "audio/sound.h"
#include "common/messages.h"
#include "platform/log.h"
#include "platform/options.h"
#include "race/world.h"
#include "vfs/vfs.h"

namespace audio_test {

inline std::mutex g_log_lock;       // the mixer's thread logs too
inline std::string g_log;

inline void capture_log(const char *text)
{
    std::lock_guard<std::mutex> hold(g_log_lock);
    g_log += text;
}

struct AudioDirs : ::testing::Test {
    std::string root, data;

    // data: the data directory to read from; empty for a fresh one of the test's own.
    void prepare(const std::string &data_dir)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "skorva-audio-XXXXXX").string();
        char *made = mkdtemp(pattern.data());
        ASSERT_NE(made, nullptr);
        root = made;
        data = data_dir.empty() ? root + "/data" : data_dir;
        std::filesystem::create_directories(root + "/data");
        setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        setenv("SK_HOME", data.c_str(), 1);
        unsetenv("TOVA_LOGFILE");
        unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
        vfs_reset_for_tests();
        log_reset_for_tests();
        {
            std::lock_guard<std::mutex> hold(g_log_lock);
            g_log.clear();
        }
        log_set_observer(capture_log);
        messages_clear();
        world_reset_for_tests();
    }
    void SetUp() override { prepare(""); }
    void TearDown() override
    {
        sound_close();
        engine_voices_set_reader(nullptr);
        sound_set_listener(nullptr);
        sound_set_wait_for_tests(nullptr);
        log_set_observer(nullptr);
        unsetenv("TOVA_OPTIONS");
        options_reset_for_tests();
        vfs_reset_for_tests();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    static void options(const char *text)
    {
        setenv("TOVA_OPTIONS", text, 1);
        options_reset_for_tests();
    }
    static std::string log()
    {
        std::lock_guard<std::mutex> hold(g_log_lock);
        return g_log;
    }
    void write_file(const std::string &name, const std::string &bytes)
    {
        std::string path = data + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), (std::streamsize)bytes.size());
    }
    static std::string read_file(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

// Raw signed 16-bit little-endian samples.
inline std::string samples16(const std::vector<int> &values)
{
    std::string bytes;
    for (int v : values) {
        bytes += (char)(v & 0xff);
        bytes += (char)((v >> 8) & 0xff);
    }
    return bytes;
}

} // namespace audio_test
