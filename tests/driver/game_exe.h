// Runs the built game the way a player or a script would, under the test display.
#pragma once
#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_fixture.h"

// One frame of a --record-video stream, rows from the top.
struct VideoFrame {
    int width = 0, height = 0;
    std::string rgb;
    const unsigned char *at(int x, int y) const
    {
        return (const unsigned char *)rgb.data() + ((size_t)y * width + x) * 3;
    }
};

// The whole frames of a --record-video stream ("P6" pictures one after the other).
inline std::vector<VideoFrame> video_frames(const std::string &out)
{
    std::vector<VideoFrame> all;
    size_t at = 0;
    while (at < out.size()) {
        VideoFrame f;
        int used = 0;
        if (sscanf(out.c_str() + at, "P6\n%d %d\n255\n%n", &f.width, &f.height, &used) != 2 || used == 0)
            break;
        size_t bytes = (size_t)f.width * f.height * 3;
        if (at + used + bytes > out.size())
            break;
        f.rgb = out.substr(at + used, bytes);
        all.push_back(f);
        at += used + bytes;
    }
    return all;
}

// The last whole frame; width 0 when there is none.
inline VideoFrame last_video_frame(const std::string &out)
{
    std::vector<VideoFrame> all = video_frames(out);
    return all.empty() ? VideoFrame() : all.back();
}

struct GameRun {
    int status;
    std::string out, err, log;
};

struct GameExe : DriverDirs {
    // The generated data (tracks, textures, a "config" naming the sample track); runs only
    // read it, every write goes to the home directory under the test's XDG_DATA_HOME.
    std::string game_data = SK_GAME_DATA_DIR;

    void SetUp() override
    {
        DriverDirs::SetUp();
        // Only the probe needs to open: a font that does not decode is a logged problem, no more.
        write_file(data + "/font.png", "test data\n");
        if (!getenv("DISPLAY"))
            GTEST_SKIP() << "needs a display";
    }
    static std::string quote(const std::string &s)
    {
        std::string q = "'";
        for (char c : s)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }
    // env entries are "NAME=value" or "-NAME" to unset; SK_HOME is the generated data unless
    // one of them says otherwise. SK_TEST is always set: the runs are unattended, whether or
    // not the test program itself was started by ctest.
    std::string command(const std::vector<std::string> &args, const std::vector<std::string> &env)
    {
        std::string cmd = "cd " + quote(root) + " && exec env -u TOVA_LOGFILE",
                    sets = " " + quote("SK_HOME=" + game_data) + " SK_TEST=1";
        for (const std::string &e : env)
            if (e[0] == '-')
                cmd += " -u " + e.substr(1);     // env takes its options before any assignment
            else
                sets += " " + quote(e);
        cmd += sets;
        cmd += std::string(" ") + quote(SK_GAME_EXE);
        for (const std::string &a : args)
            cmd += " " + quote(a);
        cmd += " >" + quote(root + "/out") + " 2>" + quote(root + "/err");
        return cmd;
    }
    GameRun collect(int wait_status)
    {
        GameRun r;
        r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        r.out = read_file(root + "/out");
        r.err = read_file(root + "/err");
        r.log = read_file(home + "lastlog.txt");
        return r;
    }
    GameRun run(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
    {
        return collect(system(command(args, env).c_str()));
    }
    // Starts the game without waiting; finish() waits for it. The pid is the game's own.
    pid_t start(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
    {
        std::string cmd = command(args, env);
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", cmd.c_str(), (char *)nullptr);
            _exit(127);
        }
        return pid;
    }
    GameRun finish(pid_t pid)
    {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return collect(status);
    }
    // Waits (at most limit_s seconds) until the file holds the text.
    bool wait_for_text(const std::string &path, const std::string &text, double limit_s)
    {
        for (int i = 0; i < (int)(limit_s * 20); i++) {
            if (read_file(path).find(text) != std::string::npos)
                return true;
            usleep(50000);
        }
        return false;
    }
    // The generated data's folders with links to its files (the file index does not follow
    // linked folders): a run that wrote into the data directory would show.
    std::string linked_data()
    {
        namespace fs = std::filesystem;
        std::string dir = root + "/linked-data";
        fs::create_directories(dir);
        for (const auto &entry : fs::recursive_directory_iterator(game_data)) {
            fs::path to = dir / fs::relative(entry.path(), game_data);
            if (entry.is_directory())
                fs::create_directories(to);
            else
                fs::create_symlink(entry.path(), to);
        }
        return dir;
    }
    // Every entry below dir, links marked with "@".
    static std::vector<std::string> listing(const std::string &dir)
    {
        namespace fs = std::filesystem;
        std::vector<std::string> names;
        for (const auto &entry : fs::recursive_directory_iterator(dir))
            names.push_back(fs::relative(entry.path(), dir).string() + (entry.is_symlink() ? "@" : ""));
        std::sort(names.begin(), names.end());
        return names;
    }
};

