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

std::string race(const std::string &args)
{
    std::string root = sim_make_home("skrace");
    if (root.empty())
        return "";
    std::string out = sim_run(root, "--quiet " + args);
    sim_remove_home(root);
    return out;
}

TEST(RobotRace, AFieldFinishesThePracticeTrackOnItsStartingLines)
{
    std::string out = race("--track tracks/practice --bikes 4 --laps 2 --skill 1 --tics 12000");
    std::vector<RobotReport> robots = robot_reports(out);
    ASSERT_EQ(robots.size(), 4u) << out;
    for (const RobotReport &r : robots) {
        ASSERT_EQ(r.laps.size(), 2u) << out;
        // A flying lap of the 704-ft practice loop, not a crawl and not a short cut.
        EXPECT_GT(r.laps[1], 10) << out;
        EXPECT_LT(r.laps[1], 30) << out;
        EXPECT_LE(r.lost, 20) << out;
    }
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
