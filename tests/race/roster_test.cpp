// The robot roster and the order a session hands it out in.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "bike/catalogue.h"
#include "common/mt.h"
#include "race/roster.h"

TEST(Roster, EightyDistinctRidersWithBothClasses)
{
    std::set<std::string> numbers;
    int small = 0, big = 0;
    for (int i = 0; i < ROSTER_SIZE; i++) {
        const RosterEntry *e = roster_entry(i);
        ASSERT_NE(e, nullptr);
        EXPECT_LE(strlen(e->number), 3u);
        numbers.insert(e->number);
        small += strstr(e->bike, "125") != nullptr;
        big += strstr(e->bike, "250") != nullptr;
        // a bike the catalogue lacks would ride as a substitute
        EXPECT_NE(find_bike_model(e->bike), nullptr) << "rider " << e->number << " rides " << e->bike;
    }
    EXPECT_EQ(numbers.size(), 80u);
    EXPECT_EQ(small + big, 80);
    EXPECT_GT(small, 0);
    EXPECT_EQ(roster_entry(80), nullptr);
    EXPECT_EQ(roster_entry(-1), nullptr);
}

TEST(Roster, ShuffleSwapsFromTheTopWithTheGeneratorsDraws)
{
    mt_seed(99);
    uint32_t first = mt_next();
    mt_seed(99);
    RosterDraw d;
    roster_shuffle(&d);
    // the first swap puts entry j = (draw / 65536) mod 79 into place 79
    EXPECT_EQ(d.order[79], (int)((first / 65536u) % 79u));
    std::set<int> seen(d.order, d.order + ROSTER_SIZE);
    EXPECT_EQ(seen.size(), 80u);
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 79);
    EXPECT_EQ(d.cursor, 0);
}

TEST(Roster, PlainRequestsTakeTheOrderAndWrapAfterEighty)
{
    mt_seed(7);
    RosterDraw d;
    roster_shuffle(&d);
    int order[ROSTER_SIZE];
    memcpy(order, d.order, sizeof order);
    std::set<int> taken;
    for (int i = 0; i < 80; i++) {
        int e = roster_take(&d, 2);
        EXPECT_EQ(e, order[i]);
        taken.insert(e);
    }
    EXPECT_EQ(taken.size(), 80u);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(roster_take(&d, 2), order[i]) << "request " << 81 + i;
}

TEST(Roster, ClassRequestsBringTheFirstMatchForward)
{
    mt_seed(3);
    RosterDraw d;
    roster_shuffle(&d);
    int small = 0;
    for (int i = 0; i < ROSTER_SIZE; i++)
        small += strstr(roster_entry(i)->bike, "125") != nullptr;
    std::set<int> got;
    for (int i = 0; i < small; i++) {
        int e = roster_take(&d, 3);
        EXPECT_NE(strstr(roster_entry(e)->bike, "125"), nullptr);
        got.insert(e);
    }
    EXPECT_EQ((int)got.size(), small);
    // every 125 is out: the next entry in order, whatever it rides
    int before = d.order[d.cursor];
    EXPECT_EQ(roster_take(&d, 3), before);
    EXPECT_NE(strstr(roster_entry(roster_take(&d, 4))->bike, "250"), nullptr);
}

TEST(Roster, NumberedRequestsFindTheRiderOrTakeTheNext)
{
    mt_seed(11);
    RosterDraw d;
    roster_shuffle(&d);
    const RosterEntry *wanted = roster_entry(d.order[40]);
    int n = atoi(wanted->number);
    int e = roster_take(&d, 1000 + n);
    EXPECT_STREQ(roster_entry(e)->number, wanted->number);
    // nobody rides number 0 or 999
    int next = d.order[d.cursor];
    EXPECT_EQ(roster_take(&d, 1000), next);
    next = d.order[d.cursor];
    EXPECT_EQ(roster_take(&d, 1999), next);
    // the same number again: no longer remaining, so the next entry
    next = d.order[d.cursor];
    EXPECT_EQ(roster_take(&d, 1000 + n), next);
}
