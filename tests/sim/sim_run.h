// Runs the built skorva-sim on the generated game data with a private home directory, as the
// simulator's tests across the libraries do.
#pragma once
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

// A new directory under the test's temporary folder ("" when none could be made).
inline std::string sim_make_home(const char *tag)
{
    std::string pattern = ::testing::TempDir() + tag + "XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

inline void sim_remove_home(const std::string &root)
{
    if (!root.empty() && system(("rm -rf '" + root + "'").c_str()) != 0)
        ADD_FAILURE() << "could not remove the temporary directory";
}

// What the simulator printed (standard output and error) for args, run with root as its
// XDG_DATA_HOME; a run that does not exit 0 fails the test.
inline std::string sim_run(const std::string &root, const std::string &args)
{
    std::string cmd = "SK_HOME='" SK_GAME_DATA_DIR "' XDG_DATA_HOME='" + root + "' '" SK_SIM_EXE "' " + args + " 2>&1";
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) {
        ADD_FAILURE() << "could not start " << cmd;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << out;
    return out;
}

// The generated practice track copied into root's home as "tracks/open", its gate places
// without starting-gate pieces: for rides that leave the gate long before it drops.
inline void sim_open_practice(const std::string &root)
{
    std::string to = root + "/Skorva/tracks/open";
    std::filesystem::create_directories(to);
    std::filesystem::copy(SK_GAME_DATA_DIR "/tracks/practice", to,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    std::string text, out;
    if (FILE *f = fopen((to + "/timing_gates").c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
            text.append(buf, n);
        fclose(f);
    }
    bool gates = false;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.rfind("checkpoints:", 0) == 0)
            gates = false;
        out += line + (gates && !line.empty() && line[0] == '[' ? " null null null" : "") + "\n";
        if (line.rfind("startinggate:", 0) == 0)
            gates = true;
    }
    FILE *f = fopen((to + "/timing_gates").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs(out.c_str(), f);
    fclose(f);
}
