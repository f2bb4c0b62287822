// Robots racing the generated tracks on a fresh install: the starting lines alone carry every
// robot round, none of them long off its line.
#include <gtest/gtest.h>
#include "../sim/sim_run.h"

#include <stdio.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct RobotReport {
    std::vector<double> laps;
    int falls = -1;
    double lost = -1;
};

// The "robot N laps ...  falls F (C after contact)  lost L s  overturned O" lines of skorva-sim's report.
std::vector<RobotReport> robot_reports(const std::string &out)
{
    std::vector<RobotReport> robots;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 6, "robot ") != 0)
            continue;
        std::istringstream words(line.substr(6));
        int slot;
        std::string word;
        RobotReport r;
        if (!(words >> slot >> word) || word != "laps")
            continue;
        while (words >> word && word != "falls")
            r.laps.push_back(atof(word.c_str()));
        std::string contact, lost;
        words >> r.falls >> contact >> word >> word >> lost >> r.lost;
        robots.push_back(r);
    }
    return robots;
}

// The run's report; with 'trace' the robots' trace file (--trace FILE) too.
std::string race(const std::string &args, std::string *trace = nullptr)
{
    std::string root = sim_make_home("skrace");
    if (root.empty())
        return "";
    std::string file = root + "/robots.csv";
    std::string out = sim_run(root, "--quiet " + args + (trace ? " --trace '" + file + "'" : ""));
    if (trace)
        if (FILE *f = fopen(file.c_str(), "rb")) {
            char buf[4096];
            for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
                trace->append(buf, n);
            fclose(f);
        }
    sim_remove_home(root);
    return out;
}

TEST(RobotRace, AFieldFinishesThePracticeTrackOnItsStartingLines)
{
    std::string trace;
    std::string out = race("--track tracks/practice --bikes 4 --laps 2 --skill 1 --tics 12000", &trace);
    std::vector<RobotReport> robots = robot_reports(out);
    ASSERT_EQ(robots.size(), 4u) << out;
    for (const RobotReport &r : robots) {
        ASSERT_EQ(r.laps.size(), 2u) << out;
        // A flying lap of the 704-ft practice loop, not a crawl and not a short cut.
        EXPECT_GT(r.laps[1], 10) << out;
        EXPECT_LT(r.laps[1], 30) << out;
        EXPECT_LE(r.lost, 20) << out;
    }
    // The trace: "tic,slot,x,y,z,speed,laps,lost", every robot every 32 tics, laps counting up
    // to the race's two.
    std::istringstream lines(trace);
    std::string line;
    int rows[4] = {}, most_laps = 0;
    while (std::getline(lines, line)) {
        int tic, slot, laps, lost;
        float x, y, z, speed;
        ASSERT_EQ(sscanf(line.c_str(), "%d,%d,%f,%f,%f,%f,%d,%d", &tic, &slot, &x, &y, &z, &speed, &laps, &lost), 8)
            << line;
        ASSERT_TRUE(slot >= 0 && slot < 4) << line;
        EXPECT_EQ(tic % 32, 0) << line;
        rows[slot]++;
        most_laps = laps > most_laps ? laps : most_laps;
    }
    for (int slot = 0; slot < 4; slot++)
        EXPECT_GT(rows[slot], 100) << slot;
    EXPECT_EQ(most_laps, 2);
}

TEST(RobotRace, ALoneRobotRidesThreeLapsOfTheSampleTrack)
{
    std::string out = race("--track tracks/sample --bikes 1 --laps 3 --skill 1 --tics 60000");
    std::vector<RobotReport> robots = robot_reports(out);
    ASSERT_EQ(robots.size(), 1u) << out;
    const RobotReport &r = robots[0];
    ASSERT_EQ(r.laps.size(), 3u) << out;
    for (int lap = 1; lap < 3; lap++) {
        EXPECT_GE(r.laps[lap], 60) << out;
        EXPECT_LE(r.laps[lap], 150) << out;
    }
    EXPECT_LE(r.lost, 20) << out;
}

}  // namespace
