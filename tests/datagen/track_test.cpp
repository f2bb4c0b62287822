// The generated tracks as a rider meets them: the sample track written into a temporary folder
// and loaded back through the game's own terrain code, then walked along its lines.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/mt.h"
#include "datagen.h"
#include "platform/log.h"
#include "race/timing.h"
#include "robots/lines.h"
#include "robots/pick.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"
#include "vfs/vfs.h"

namespace {

const float k_max_slope_change = 10;    // degrees between neighbouring stretches
const float k_stretch = 2;              // ft: the field's grid spacing
const float k_feature_margin = 4;       // ft either side of a planned feature

class SampleTrack : public ::testing::Test {
protected:
    std::string root, dir;
    Terrain t = {};
    TrackLayout layout = {};
    Timing *timing = nullptr;

    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "skdatagenXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back(0);
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        root = buf.data();
        dir = root + "/sample";
        mkdir(dir.c_str(), 0777);
        setenv("SK_HOME", root.c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
        setenv("TOVA_LOGFILE", (root + "/log.txt").c_str(), 1);
        log_reset_for_tests();
        vfs_reset_for_tests();
        mt_seed(20210320u);
        ASSERT_TRUE(write_sample_track(dir.c_str()));
        ASSERT_TRUE(terrain_load(&t, dir.c_str(), 1));
        ASSERT_TRUE(sample_track_layout(&layout));
        timing = new Timing();
        DataFile *f = open_data_file((dir + "/timing_gates").c_str(), "rb");
        ASSERT_NE(f, nullptr);
        timing_parse(timing, f, 0);
        close_data_file(f);
    }
    void TearDown() override
    {
        if (timing)
            timing_clear(timing);
        delete timing;
        track_layout_free(&layout);
        terrain_unload(&t);
        log_reset_for_tests();
        vfs_reset_for_tests();
        std::string cmd = "rm -rf '" + root + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove the temporary directory";
    }

    bool planned(float from, float to) const
    {
        for (int k = 0; k < layout.feature_count; k++) {
            const LapFeature &f = layout.features[k];
            for (float shift : { -layout.lap.length, 0.0f, layout.lap.length })
                if (from < f.end + shift + k_feature_margin && to > f.begin + shift - k_feature_margin)
                    return true;
        }
        return false;
    }

    // Walks a line from 'from' to 'to' ft at a lateral offset; lists every place where the
    // slope changes by more than the limit between two neighbouring 2-ft stretches.
    std::string walk(const Line &line, float from, float to, float offset, bool features)
    {
        std::string found;
        std::vector<float> s, angle;
        for (float at = from; at <= to; at += k_stretch) {
            const Centre &a = line.c[line_sample_at(&line, at)];
            const Centre &b = line.c[line_sample_at(&line, at + k_stretch)];
            float ax = a.x - a.tz * offset, az = a.z + a.tx * offset;
            float bx = b.x - b.tz * offset, bz = b.z + b.tx * offset;
            float run = hypotf(bx - ax, bz - az);
            float rise = terrain_height(&t, bx, bz) - terrain_height(&t, ax, az);
            s.push_back(at);
            angle.push_back(atan2f(rise, run) * 180 / 3.14159265f);
        }
        for (size_t k = 1; k < angle.size(); k++) {
            float change = fabsf(angle[k] - angle[k - 1]);
            if (change <= k_max_slope_change || (features && planned(s[k - 1], s[k] + k_stretch)))
                continue;
            char line_text[160];
            snprintf(line_text, sizeof line_text, "  %.0f ft (offset %+.0f): %+.1f to %+.1f degrees\n", s[k], offset,
                     angle[k - 1], angle[k]);
            found += line_text;
        }
        return found;
    }
};

// Along the racing line (the centre line and 5 ft either side of it) the slope changes
// gently everywhere except at the jumps and whoops the generator put there: no ditch, step or
// kink a rider meets unwarned.
TEST_F(SampleTrack, RacingLineChangesSlopeOnlyAtPlannedFeatures)
{
    for (float offset : { -5.0f, 0.0f, 5.0f }) {
        std::string lap = walk(layout.lap, 0, layout.lap.length, offset, true);
        EXPECT_EQ(lap, "") << "unplanned slope changes round the lap:\n" << lap;
        float join = line_distance(&layout.start, 0, layout.start_join);
        std::string start = walk(layout.start, k_gate_along_start, join, offset, false);
        EXPECT_EQ(start, "") << "slope changes along the start straight:\n" << start;
    }
}

// A rider run wide over a berm's top must be able to ride back up: behind the tightest
// corners the ground falls from the track's edge at most 3 ft in 4 (a bare shoulder behind a
// 10-ft berm fell more than a foot a foot, a cliff no bike climbed).
TEST_F(SampleTrack, BehindABermTheGroundFallsGentlyEnoughToRideBackUp)
{
    const Line &lap = layout.lap;
    int berms = 0;
    std::string steep;
    for (int k = 0; k < lap.n; k += 4) {
        const Centre &c = lap.c[k];
        if (fabsf(c.curvature) < 1.0f / 90)
            continue;
        berms++;
        float side = c.curvature > 0 ? -1.0f : 1.0f;        // the outside of the turn
        float worst = 0;
        for (float out = c.half_width; out < c.half_width + 45; out += k_stretch) {
            float a = side * out, b = side * (out + k_stretch);
            float drop = terrain_height(&t, c.x - c.tz * a, c.z + c.tx * a) - terrain_height(&t, c.x - c.tz * b, c.z + c.tx * b);
            worst = fmaxf(worst, drop / k_stretch);
        }
        if (worst > 0.75f) {
            char text[120];
            snprintf(text, sizeof text, "  (%.0f, %.0f): falls %.2f ft a ft\n", c.x, c.z, worst);
            steep += text;
        }
    }
    EXPECT_GT(berms, 10);
    EXPECT_EQ(steep, "") << "steep berm backs:\n" << steep;
}

// Shadows are cast away from the sun: a 10-ft block on a flat field shades the ground on its
// far side and nowhere on the sun's side or far away.
TEST(TrackShadows, ABlockShadesTheGroundAwayFromTheSun)
{
    std::string pattern = ::testing::TempDir() + "skshadowXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    std::string dir = buf.data();
    Terrain t = {};
    ASSERT_TRUE(terrain_create(&t, 7, 2.0f));
    auto at = [&](int i, int j) -> size_t { return (size_t)i + (size_t)j * t.dim; };
    const int c = 128;      // the block stands on vertices c - 2 .. c + 2 each way
    for (int j = c - 2; j <= c + 2; j++)
        for (int i = c - 2; i <= c + 2; i++)
            t.heights[at(i, j)] = 10;
    ASSERT_TRUE(write_track_common(&t, dir.c_str(), "block", true));
    // the sun stands at about 53 degrees towards +x +z: the shadow falls 7.5 ft towards -x -z
    int si = k_sun_vector[0] > 0 ? -1 : 1, sj = k_sun_vector[2] > 0 ? -1 : 1;
    EXPECT_GT(t.shadow[at(c + 3 * si, c + 3 * sj)], 100) << "next to the block, away from the sun";
    EXPECT_LT(t.shadow[at(c - 4 * si, c - 4 * sj)], 10) << "on the sun's side";
    EXPECT_LT(t.shadow[at(c + 8 * si, c + 8 * sj)], 10) << "beyond the shadow's reach";
    EXPECT_LT(t.shadow[at(10, 240)], 10);
    terrain_unload(&t);
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0)
        ADD_FAILURE() << "could not remove the temporary directory";
}

// A real start: the riders line up 3.3 ft apart across a start straight of their own, which
// joins the lap before the first corner. Laps pass neither the gate nor the start straight's
// checkpoints; the first lap passes those first, then the lap's from the join to the finish.
TEST_F(SampleTrack, TheGateStandsOnItsOwnStartStraight)
{
    ASSERT_EQ(timing->gate_count, 40);
    ASSERT_TRUE(timing->valid);
    const Line &lap = layout.lap;
    for (int i = 0; i < timing->gate_count; i++) {
        const StartGate &g = timing->gates[i];
        if (i > 0) {
            const StartGate &h = timing->gates[i - 1];
            EXPECT_NEAR(hypotf(g.x - h.x, g.z - h.z), 3.3f, 1e-3f) << i;
            // side by side: the line between neighbours is square to the way they face
            EXPECT_NEAR((g.x - h.x) * -sinf(g.heading) + (g.z - h.z) * -cosf(g.heading), 0, 1e-3f) << i;
        }
        EXPECT_NEAR(g.y, terrain_height(&t, g.x, g.z), 1e-3f) << i;
        int tile = tile_at(&t, g.x, g.z);
        EXPECT_TRUE(tile != 1 && tile != 3) << "place " << i << " stands on grass";
        float lateral, beyond;
        int k = line_nearest(&lap, g.x, g.z, 100, &lateral, &beyond);
        if (k >= 0) {
            EXPECT_GT(fabsf(lateral), lap.c[k].half_width + 12) << "place " << i << " stands on the lap";
        }
    }
    // the gate faces along the start straight
    const Centre &at = layout.start.c[line_sample_at(&layout.start, k_gate_along_start)];
    EXPECT_NEAR(-sinf(timing->gates[0].heading), at.tx, 1e-3f);
    EXPECT_NEAR(-cosf(timing->gates[0].heading), at.tz, 1e-3f);

    auto on_lap = [&](int checkpoint) {
        const Checkpoint &c = timing->checkpoints[checkpoint];
        float lateral, beyond;
        return line_nearest(&lap, c.centre.x, c.centre.z, 2, &lateral, &beyond) >= 0;
    };
    for (int k = 0; k < timing->normal_count; k++)
        EXPECT_TRUE(on_lap(timing->normal[k])) << "normal lap entry " << k;
    ASSERT_GT(timing->first_count, 2);
    EXPECT_FALSE(on_lap(timing->first[0]));
    EXPECT_FALSE(on_lap(timing->first[1]));
    // from the start straight onto the lap, then the normal lap's order up to its end
    int from = timing->normal_count - (timing->first_count - 2);
    for (int k = 2; k < timing->first_count; k++)
        EXPECT_EQ(timing->first[k], timing->normal[from + k - 2]) << "first lap entry " << k;
    EXPECT_EQ(timing->normal[timing->normal_count - 1], 0) << "checkpoint 0 is the finish line";
    // the finish lies on the lap before the join, so the first lap is the start straight and
    // almost a whole lap
    const Checkpoint &finish = timing->checkpoints[0];
    float lateral, beyond;
    int k = line_nearest(&lap, finish.centre.x, finish.centre.z, 2, &lateral, &beyond);
    EXPECT_NEAR(line_distance(&lap, k, layout.join), k_finish_before_join, 2);
    for (int g = 0; g < timing->gate_count; g++)
        for (int c = 0; c < timing->normal_count; c++)
            EXPECT_FALSE(checkpoint_inside(&timing->checkpoints[timing->normal[c]], timing->gates[g].x, timing->gates[g].z))
                << "gate place " << g << " lies in lap checkpoint " << timing->normal[c];
}

// The starting lines robots race by on a fresh install: every section has lines across the
// track that run on into the next section's, the first section one from every fourth gate
// place too, and a harder skill rides a faster lap.
TEST_F(SampleTrack, GeneratedLinesCoverEverySectionAndFasterSkillsLapFaster)
{
    ASSERT_TRUE(timing->valid);
    int first = timing->first_counting, normal = timing->normal_counting;
    double lap_seconds[3] = {};
    for (int skill = 0; skill < 3; skill++) {
        load_lines("sample", first, normal, skill);
        ASSERT_EQ(lines_store_slots(), first + normal);
        int grounded = 0, off_ground = 0;
        for (int slot = 0; slot < first + normal; slot++) {
            int lines = 0, best = 0;
            for (int i = 0; i < k_line_entries; i++) {
                const LineEntry *e = line_entry(slot, i);
                if (e->count == 0)
                    continue;
                lines++;
                EXPECT_EQ(e->trials, 0);
                best = best == 0 || e->recorded_time < best ? e->recorded_time : best;
                for (int k = 0; k < e->count; k++) {
                    const LinePoint &p = e->points[k];
                    ASSERT_LT(fabsf(p.lean), 1.3f) << slot << " " << i << " " << k;
                    if (p.speed > 0) {
                        grounded++;
                        float above = p.y - terrain_height(&t, p.x, p.z);
                        off_ground += above < 1.5f || above > 3;
                    }
                }
                // It links into a line of the next section (the last shared one into the first),
                // so that a chain of lines, and with it a designated lap, runs through it.
                if (slot + 1 < first + normal || slot >= first) {
                    int next = slot + 1 < first + normal ? slot + 1 : first;
                    bool links = false;
                    for (int j = 0; j < k_line_entries && !links; j++)
                        links = lines_link(e, line_entry(next, j));
                    EXPECT_TRUE(links) << "skill " << skill << " slot " << slot << " entry " << i;
                }
            }
            EXPECT_GE(lines, slot == 0 ? 15 : 5) << "slot " << slot;
            if (slot >= first)
                lap_seconds[skill] += best / 128.0;
        }
        EXPECT_LT(off_ground, grounded / 100) << "skill " << skill;
        EXPECT_GT(lap_seconds[skill], 40) << "skill " << skill;
        EXPECT_LT(lap_seconds[skill], 150) << "skill " << skill;
        lines_store_free();
    }
    EXPECT_LT(lap_seconds[2], 0.92 * lap_seconds[0]);
    EXPECT_LT(lap_seconds[1], lap_seconds[0]);
    EXPECT_LT(lap_seconds[2], lap_seconds[1]);
}

// Every gate place has a line of its own from where its bike stands, and lines that close in
// side by side over the start straight's merge are paced apart, so the field reaches the
// narrowing one behind another instead of abreast.
TEST_F(SampleTrack, EveryGatePlaceStartsALineAndNeighboursMergeAtDifferentPaces)
{
    ASSERT_TRUE(timing->valid);
    ASSERT_EQ(timing->gate_count, 40);
    for (int skill = 0; skill < 3; skill++) {
        load_lines("sample", timing->first_counting, timing->normal_counting, skill);
        for (int g = 0; g < timing->gate_count; g++) {
            bool own = false;
            for (int i = 0; i < k_line_entries && !own; i++) {
                const LineEntry *e = line_entry(0, i);
                own = e->count > 0 && hypotf(e->points[0].x - timing->gates[g].x, e->points[0].z - timing->gates[g].z) < 1;
            }
            EXPECT_TRUE(own) << "skill " << skill << " gate " << g;
        }
        // over the next section the merge's paces hold: lines ending it side by side differ
        float top[k_line_entries] = {};
        for (int i = 0; i < k_line_entries; i++)
            for (int k = 0; k < line_entry(1, i)->count; k++)
                top[i] = fmaxf(top[i], fabsf(line_entry(1, i)->points[k].speed));
        int abreast = 0;
        for (int i = 0; i < k_line_entries; i++)
            for (int j = i + 1; j < k_line_entries; j++) {
                const LineEntry *a = line_entry(1, i), *b = line_entry(1, j);
                if (a->count == 0 || b->count == 0)
                    continue;
                const LinePoint &p = a->points[a->count - 1], &q = b->points[b->count - 1];
                abreast += hypotf(p.x - q.x, p.z - q.z) < 3 && fabsf(top[i] - top[j]) < 2;
            }
        EXPECT_EQ(abreast, 0) << "skill " << skill;
        lines_store_free();
    }
}

// Every designed jump's take-off is ridden at a speed worked out for its landing, never at the
// straight's: flown at full speed the kickers throw a bike far past their landings, nose first.
TEST_F(SampleTrack, GeneratedLinesSlowForEveryJumpTakeOff)
{
    ASSERT_TRUE(timing->valid);
    int first = timing->first_counting, normal = timing->normal_counting;
    const float amateur_straight = 55;
    load_lines("sample", first, normal, 1);
    for (int k = 0; k < layout.feature_count; k++) {
        const LapFeature &f = layout.features[k];
        if (f.kind != k_feature_jump)
            continue;
        // the middle of the feature's first few feet: the face of a kicker
        const Centre &c = layout.lap.c[line_sample_at(&layout.lap, f.begin + 4)];
        float fastest = 0;
        for (int slot = 0; slot < first + normal; slot++) {
            for (int i = 0; i < k_line_entries; i++) {
                const LineEntry *e = line_entry(slot, i);
                for (int j = 0; j < e->count; j++) {
                    const LinePoint &p = e->points[j];
                    if (hypotf(p.x - c.x, p.z - c.z) < 8)
                        fastest = fmaxf(fastest, fabsf(p.speed));
                }
            }
        }
        EXPECT_GT(fastest, 0) << "jump at " << f.begin;
        EXPECT_LT(fastest, amateur_straight - 3) << "jump at " << f.begin;
    }
    lines_store_free();
}


// The lines ride every line's points within 'near' ft of the lap's centre between 'from' and 'to'
// ft along it: the slowest and fastest speeds there, whatever the skill's file.
struct SpeedRange {
    float slowest = 1e9f, fastest = 0;
    int points = 0;
    int airborne = 0;       // points marked as in flight
};

SpeedRange speeds_along(const TrackLayout &layout, float from, float to, float near, int slots)
{
    SpeedRange r;
    for (int slot = 0; slot < slots; slot++)
        for (int i = 0; i < k_line_entries; i++) {
            const LineEntry *e = line_entry(slot, i);
            for (int j = 0; j < e->count; j++) {
                const LinePoint &p = e->points[j];
                for (float s = from; s <= to; s += 2) {
                    const Centre &c = layout.lap.c[line_sample_at(&layout.lap, s)];
                    if (hypotf(p.x - c.x, p.z - c.z) < near) {
                        r.slowest = fminf(r.slowest, fabsf(p.speed));
                        r.fastest = fmaxf(r.fastest, fabsf(p.speed));
                        r.points++;
                        r.airborne += p.speed < 0;
                        break;
                    }
                }
            }
        }
    return r;
}

// A whoops section is rolled at its own pace from its first roller to its last: each roller's
// crest is no take-off to crawl over, and none is hit fast enough to be launched off. Nor is a
// roller's hop a flight: a lost robot is held in lost mode while a flight lies ahead.
TEST_F(SampleTrack, GeneratedLinesRollTheWhoopsAtTheirOwnPace)
{
    ASSERT_TRUE(timing->valid);
    int slots = timing->first_counting + timing->normal_counting;
    float begin = 1e9f, end = -1e9f;
    for (int k = 0; k < layout.feature_count; k++)
        if (layout.features[k].kind == k_feature_whoops) {
            begin = fminf(begin, layout.features[k].begin);
            end = fmaxf(end, layout.features[k].end);
        }
    ASSERT_LT(begin, end);
    float previous = 0;
    for (int skill = 0; skill < 3; skill++) {
        load_lines("sample", timing->first_counting, timing->normal_counting, skill);
        SpeedRange r = speeds_along(layout, begin + 10, end - 4, 8, slots);
        ASSERT_GT(r.points, 20) << "skill " << skill;
        EXPECT_GT(r.slowest, 15) << "skill " << skill;
        EXPECT_LT(r.fastest, 26) << "skill " << skill;
        EXPECT_EQ(r.airborne, 0) << "skill " << skill;
        EXPECT_GE(r.slowest, previous) << "skill " << skill;
        previous = r.slowest;
        lines_store_free();
    }
}

}  // namespace
