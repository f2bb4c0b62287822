// A window with a GL context (Mesa under Xvfb through ./test.sh), a fresh data directory and
// the log lines of the test.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "../vfs/temp_home.h"
#include "platform/log.h"
#include "platform/window.h"
#include "render/image/image.h"

inline std::string g_gl_log;

inline void gl_log_observer(const char *text)
{
    g_gl_log += text;
}

struct GlWorld : ::testing::Test {
    TempHome *dirs = nullptr;
    void SetUp() override
    {
        dirs = new TempHome();
        g_gl_log.clear();
        log_set_observer(gl_log_observer);
        const char *d = getenv("DISPLAY");
        if (!d || !*d)
            GTEST_SKIP() << "needs a display: run through ./test.sh";
        ASSERT_TRUE(open_window("test", 320, 240, 24, 0, 16, 0, 0));
        int w, h;
        for (int i = 0; i < 100 && !begin_frame(&w, &h); i++) {
        }
        end_frame();
    }
    void TearDown() override
    {
        if (window_is_open())
            close_window();
        log_set_observer(nullptr);
        delete dirs;
    }
    bool logged(const char *text) const { return g_gl_log.find(text) != std::string::npos; }
    // An RGB PNG of one colour in the data directory; returns its "@" name.
    std::string png(const char *file, int w, int h, unsigned char r = 200, unsigned char g = 100, unsigned char b = 50)
    {
        std::vector<unsigned char> px((size_t)w * h * 3);
        for (size_t i = 0; i < px.size(); i += 3) {
            px[i] = r;
            px[i + 1] = g;
            px[i + 2] = b;
        }
        EXPECT_TRUE(png_write((dirs->data + file).c_str(), px.data(), w, h));
        return std::string("@") + file;
    }
};
