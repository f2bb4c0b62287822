// The generated engine sounds as the game will read them: each class's table over its engine
// speeds, its cells of eight whole firings that loop without a step, and a definition whose
// torque range maps a shut throttle to load 0 and every bike's peak to load 1.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bike/catalogue.h"
#include "datagen.h"
#include "vfs/vfs.h"

namespace {

struct EngineSounds : ::testing::Test {
    std::string root;
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "skdatagen-sound-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        setenv("SK_HOME", root.c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
        vfs_reset_for_tests();
        ASSERT_TRUE(write_engine_sounds(root.c_str()));
    }
    void TearDown() override
    {
        vfs_reset_for_tests();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string text(const std::string &name) const
    {
        std::ifstream in(root + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<double> samples(const std::string &name) const
    {
        std::string bytes = text(name);
        std::vector<double> x;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            x.push_back((int16_t)(uint16_t)((uint8_t)bytes[i] | (uint8_t)bytes[i + 1] << 8) / 32768.0);
        return x;
    }
};

struct Class {
    const char *code;
    bool two_stroke;
};
const Class k_classes[] = { { "50", true }, { "125", true }, { "250", true }, { "250f", false }, { "450f", false } };

} // namespace

TEST_F(EngineSounds, TablesCoverIdleToTheRevLimitWithWholeLoopingFirings)
{
    uintmax_t total = 0;
    for (const Class &c : k_classes) {
        SCOPED_TRACE(c.code);
        float limit = 0;
        for (int i = 0; i < BIKE_MODEL_COUNT; i++)
            if (strcmp(bike_model(i)->class_code, c.code) == 0)
                limit = fmaxf(limit, bike_model(i)->shift_points[2]);
        std::istringstream table(text(std::string("sounds/") + c.code + ".table"));
        std::string word;
        int rows = 0, cols = 0;
        table >> word >> rows >> cols;
        ASSERT_EQ(word, "SOUNDTABLE");
        ASSERT_TRUE(rows == 5 || rows == 6) << rows;
        ASSERT_EQ(cols, 3);
        std::vector<float> rpm(rows), load(cols);
        for (float &r : rpm)
            table >> r;
        for (float &l : load)
            table >> l;
        EXPECT_EQ(load, (std::vector<float>{ 0, 0.5f, 1 }));
        EXPECT_GE(rpm[0], 1000);
        EXPECT_LE(rpm[0], 2200) << "idle";
        EXPECT_EQ(rpm[rows - 1], limit) << "the class's highest rev limit";
        for (int r = 1; r < rows; r++)
            EXPECT_GT(rpm[r], rpm[r - 1]);
        for (int r = 0; r < rows; r++) {
            // 44,100 samples a second over the firings a second: every revolution for a
            // two-stroke, every second one for a four-stroke.
            int firing = (int)lround(44100.0 * 60 / (rpm[r] * (c.two_stroke ? 1 : 0.5)));
            for (int col = 0; col < cols; col++) {
                std::string end, name;
                int cycles = 0;
                table >> end >> cycles >> name;
                ASSERT_EQ(end, "-1") << "no remap list";
                ASSERT_EQ(cycles, 8);
                ASSERT_EQ(name[0], '@');
                std::vector<double> x = samples(name.substr(1));
                ASSERT_EQ(x.size(), 8u * firing) << name;
                total += 2 * x.size();
                double peak = 0, inside = 0;
                std::vector<double> energy(8, 0);
                for (size_t i = 0; i < x.size(); i++) {
                    peak = fmax(peak, fabs(x[i]));
                    energy[i / firing] += x[i] * x[i];
                    if (i + 1 < x.size())
                        inside = fmax(inside, fabs(x[i + 1] - x[i]));
                }
                EXPECT_NEAR(peak, 0.25 + 0.35 * load[col], 0.005) << name;
                EXPECT_LE(fabs(x[0] - x.back()), inside) << name << ": the loop joins without a step";
                double lo = sqrt(*std::min_element(energy.begin(), energy.end()));
                double hi = sqrt(*std::max_element(energy.begin(), energy.end()));
                EXPECT_GT(hi / lo, 1.005) << name << ": the firings vary";
                EXPECT_LT(hi / lo, 1.1) << name << ": by a few per cent";
            }
        }
    }
    EXPECT_LT(total, 3u << 20) << "bytes of samples";
}

TEST_F(EngineSounds, DefinitionsMapAShutThrottleToLoadZeroAndEveryPeakToLoadOne)
{
    for (const Class &c : k_classes) {
        SCOPED_TRACE(c.code);
        std::istringstream def(text(std::string("default") + c.code + ".braap"));
        std::string table, pipe;
        float min_rpm = 0, low = 0, high = 0;
        for (std::string line; std::getline(def, line);) {
            char name[256];
            float v;
            if (sscanf(line.c_str(), "soundtable %255s", name) == 1)
                table = name;
            else if (sscanf(line.c_str(), "minrpm %f", &v) == 1)
                min_rpm = v;
            else if (sscanf(line.c_str(), "lowtorque %f", &v) == 1)
                low = v;
            else if (sscanf(line.c_str(), "hightorque %f", &v) == 1)
                high = v;
            else if (line.rfind("pipe ", 0) == 0)
                pipe = line;
        }
        EXPECT_EQ(table, std::string("@sounds/") + c.code + ".table");
        EXPECT_EQ(pipe, c.two_stroke ? "pipe 1.75 0.3 -0.75 0 15" : "pipe 5 0.91820717 -0.85 0 15");
        std::istringstream t(text(std::string("sounds/") + c.code + ".table"));
        std::string word;
        int rows, cols;
        float first_row, last_row = 0;
        t >> word >> rows >> cols >> first_row;
        for (int r = 1; r < rows; r++)
            t >> last_row;
        EXPECT_EQ(min_rpm, first_row) << "minrpm is the first row: the class's idle";
        float weakest_peak = INFINITY;
        for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
            const BikeModel *m = bike_model(i);
            if (strcmp(m->class_code, c.code) != 0)
                continue;
            float peak = -INFINITY;
            for (int k = 0; k < BIKE_TORQUE_POINTS; k++) {
                peak = fmaxf(peak, m->full_torque[k]);
                float rpm = 500.0f * k;
                if (rpm >= min_rpm && rpm <= last_row) {
                    EXPECT_LE(m->closed_torque[k], low) << m->name << " at " << rpm << " rpm, throttle shut";
                }
            }
            EXPECT_GE(peak, high) << m->name << ": full throttle at its peak is load 1";
            weakest_peak = fminf(weakest_peak, peak);
        }
        EXPECT_FLOAT_EQ(high, weakest_peak);
        EXPECT_LT(low, high);
    }
}
