// The HUD's texts and geometry without a window: the pit board's lines, the battle strip's
// filters, the race title, the rev counter's needle, the suspension graph's history and the
// track map; and the frame's world-space labels and view extents.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "render/frame.h"
#include "render/hud.h"

TEST(HudPanel, LinesUnderTheNumber)
{
    struct Case {
        PanelFacts facts;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        // Alone in practice: the gap of zero keeps its sign.
        { { true, 0, 1, 0, 0, 0 }, { "P1", "+0.0 " } },
        // A race: lap = completed + 1; a last lap but no best yet (lap 1 never counts).
        { { false, 1, 3, 1.26, 75.35, 0 }, { "L2 P3", "+1.3 ", "Last - 1:15.3 " } },
        { { false, 4, 2, 0.04, 61.99, 59.5 }, { "L5 P2", "+0.0 ", "Last - 1:01.9 ", "Best - 0:59.5" } },
        { { true, 2, 12, 10, 0, 600.05 }, { "P12", "+10.0 ", "Best - 10:00.0" } },
    };
    for (const Case &c : cases) {
        char lines[4][HUD_TEXT];
        int n = hud_panel_lines(&c.facts, lines);
        ASSERT_EQ(n, (int)c.lines.size());
        for (int i = 0; i < n; i++)
            EXPECT_EQ(lines[i], c.lines[i]);
    }
}

TEST(HudBattleStrip, OnlyCloseRecentBattles)
{
    char out[HUD_TEXT];
    const struct { double gap, since; bool shown; } cases[] = {
        { 2.5, 10, true }, { 3.0, 15, true }, { 0.05, 0, true },
        { 3.1, 1, false },      // too far ahead
        { 0, 1, false },        // level
        { -1, 1, false },
        { 1, 15.1, false },     // passed that gate too long ago
    };
    for (const auto &c : cases)
        EXPECT_EQ(battle_entry_text("Alexander", c.gap, c.since, out, sizeof out), c.shown) << c.gap << " " << c.since;
    ASSERT_TRUE(battle_entry_text("Alexander", 2.46, 3, out, sizeof out));
    EXPECT_STREQ(out, " Alexa (2.5) ");
    ASSERT_TRUE(battle_entry_text("Al", 1, 3, out, sizeof out));
    EXPECT_STREQ(out, " Al (1.0) ");
}

TEST(HudTitle, TextsAndFading)
{
    char a[128], b[128];
    float alpha = -1;
    ASSERT_TRUE(race_title("Sample Track", nullptr, 0, 5, 1.9, a, b, sizeof a, &alpha));
    EXPECT_STREQ(a, "Sample Track");
    EXPECT_STREQ(b, "5 laps");
    EXPECT_FLOAT_EQ(alpha, 1);
    ASSERT_TRUE(race_title("Sample Track", nullptr, 20 * 60 * 128, 0, 2.5, a, b, sizeof a, &alpha));
    EXPECT_STREQ(b, "20 minutes");
    EXPECT_FLOAT_EQ(alpha, 0.5f);
    ASSERT_TRUE(race_title("Sample Track", nullptr, 20 * 60 * 128, 2, 0, a, b, sizeof a, &alpha));
    EXPECT_STREQ(b, "20 minutes + 2 laps");
    EXPECT_FALSE(race_title("Sample Track", nullptr, 0, 5, 3.1, a, b, sizeof a, &alpha)) << "gone after three seconds";
    EXPECT_FLOAT_EQ(alpha, 0);
    ASSERT_TRUE(race_title("Sample Track", "Spring Cup: Round 2", 0, 5, 0.5, a, b, sizeof a, &alpha));
    EXPECT_STREQ(a, "Spring Cup: Round 2");
    EXPECT_STREQ(b, "");
}

TEST(HudTach, NeedleSweepsTheDialClockwise)
{
    const float cases[][2] = { { 0, 225 }, { 6000, 90 }, { 12000, -45 }, { 13000, -45 }, { -300, 225 }, { NAN, 225 } };
    for (const auto &c : cases)
        EXPECT_NEAR(tach_needle_degrees(c[0]), c[1], 1e-3f) << c[0] << " rpm";
    EXPECT_STREQ(gear_text(0), "1");
    EXPECT_STREQ(gear_text(5), "6");
    EXPECT_STREQ(gear_text(-1), "N");
    EXPECT_EQ(speed_mph(44), 30);
    EXPECT_EQ(speed_mph(-44), 30);
    EXPECT_EQ(speed_mph(NAN), 0);
}

TEST(HudGraph, KeepsTheLastWindowOfTics)
{
    SuspensionGraph g;
    graph_reset(&g);
    float r[GRAPH_STRIPS] = {};
    r[0] = 0.5f;
    graph_push(&g, 100, r);
    EXPECT_EQ(g.count, 1);
    // Three frames' worth of tics at once: every tic gets the reading.
    r[0] = -0.25f;
    graph_push(&g, 103, r);
    EXPECT_EQ(g.count, 4);
    EXPECT_FLOAT_EQ(graph_value(&g, 0, 0), 0.5f);
    EXPECT_FLOAT_EQ(graph_value(&g, 3, 0), -0.25f);
    // A long pause fills the window once, not more.
    r[0] = 1;
    graph_push(&g, 5000, r);
    EXPECT_EQ(g.count, GRAPH_TICS);
    EXPECT_FLOAT_EQ(graph_value(&g, 0, 0), 1);
    EXPECT_FLOAT_EQ(graph_value(&g, GRAPH_TICS, 0), 0) << "outside the window";
    EXPECT_STREQ(k_graph_labels[0], " Fork Position");
    EXPECT_STREQ(k_graph_labels[5], " Shock Speed (Low)");
}

TEST(HudMap, WholeFieldWithRowZeroAtZ0)
{
    float x, y;
    map_point(0, 0, 1024, 100, 20, 200, &x, &y);
    EXPECT_FLOAT_EQ(x, 100);
    EXPECT_FLOAT_EQ(y, 20);
    map_point(1024, 256, 1024, 100, 20, 200, &x, &y);
    EXPECT_FLOAT_EQ(x, 300);
    EXPECT_FLOAT_EQ(y, 70);
    map_point(-50, 5000, 1024, 100, 20, 200, &x, &y);
    EXPECT_FLOAT_EQ(x, 100) << "riders off the field stay on the map's edge";
    EXPECT_FLOAT_EQ(y, 220);
    EXPECT_FLOAT_EQ(map_scale_clamp(20), 8);
    EXPECT_FLOAT_EQ(map_scale_clamp(0.01f), 0.125f);
    EXPECT_FLOAT_EQ(map_scale_clamp(NAN), 1);
}

TEST(FrameLabels, SortedBackToFront)
{
    world_label(v3(0, 0, -5), "near");
    world_label(v3(0, 0, -50), "far");
    world_label(v3(20, 0, 0), "middle");
    int order[8];
    ASSERT_EQ(world_labels_sorted(v3(0, 0, 0), order, 8), 3);
    EXPECT_EQ(order[0], 1);
    EXPECT_EQ(order[1], 2);
    EXPECT_EQ(order[2], 0);
    renderer_tables_free();
    EXPECT_EQ(world_labels_sorted(v3(0, 0, 0), order, 8), 0);
}

TEST(FrameView, HalfExtentsFromTheVerticalFieldOfView)
{
    float w, h;
    view_half_extents(90, 16.0f / 9, &w, &h);
    EXPECT_NEAR(h, 1, 1e-5f);
    EXPECT_NEAR(w, 16.0f / 9, 1e-5f);
    view_half_extents(0, 1, &w, &h);
    EXPECT_NEAR(h, tanf(5 * 3.14159265f / 180), 1e-5f) << "a field of view of 0 is taken as 10";
}
