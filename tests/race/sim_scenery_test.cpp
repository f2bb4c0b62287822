// skorva-sim (no window, no textures) on the practice track with a wall of statues across the
// start straight: the first bike is stopped by it, and the run repeats exactly.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "../sim/sim_run.h"

namespace {

std::string read_text(const std::string &path)
{
    std::string text;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        fclose(f);
    }
    return text;
}

void write_text(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs(text.c_str(), f);
    fclose(f);
}

// The frame's x in the trace's last line (column 17).
double last_x(const std::string &trace)
{
    size_t end = trace.find_last_not_of('\n');
    size_t start = trace.rfind('\n', end);
    std::string line = trace.substr(start + 1, end - start);
    double x = 0;
    char *p = line.data();
    for (int column = 0; column < 17; column++)
        x = strtod(p, &p);
    return x;
}

}

TEST(SimScenery, AStatueWallStopsTheLeadBikeAndTheRunRepeats)
{
    std::string root = sim_make_home("sk_sim_scenery_");
    ASSERT_FALSE(root.empty());
    std::string tracks = root + "/Skorva/tracks";
    std::filesystem::create_directories(tracks);
    std::filesystem::copy(std::string(SK_GAME_DATA_DIR) + "/tracks/practice", tracks + "/walled",
                          std::filesystem::copy_options::recursive);
    // Three spheres across the straight, 15 ft past the first gate (which faces +x).
    write_text(root + "/Skorva/wall.shp",
               "3\n-2 1.5 0\n1.5 0.8 20000 200\n0 1.5 0\n1.5 0.8 20000 200\n2 1.5 0\n1.5 0.8 20000 200\n");
    write_text(tracks + "/walled/statues", "[ 75 0 31 ] 1.5708 null null @wall.shp\n[ 75 0 35 ] 1.5708 null null @wall.shp\n");
    std::string traces[3];
    const char *track[3] = { "practice", "walled", "walled" };
    for (int run = 0; run < 3; run++) {
        std::string file = root + "/trace" + std::to_string(run);
        sim_run(root, std::string("--track tracks/") + track[run] + " --bikes 2 --tics 2560 --quiet --trace 0 --trace-file '" +
                          file + "'");
        traces[run] = read_text(file);
        ASSERT_FALSE(traces[run].empty());
    }
    EXPECT_GT(last_x(traces[0]), 80) << "the open straight";
    EXPECT_LT(last_x(traces[1]), 73.5) << "held before the wall";
    EXPECT_EQ(traces[1], traces[2]) << "statues keep the simulation deterministic";
    sim_remove_home(root);
}
