#include "race/roster.h"

#include <stdlib.h>
#include <string.h>

#include "common/mt.h"

// Two in five ride a 125 two-stroke, the rest a 250 four-stroke; numbers 2..99, each once.
static const RosterEntry k_roster[ROSTER_SIZE] = {
    { "43", "crf250(2008)", "@rider_body-white.png", "@crf250-green.png", "@wheels-gold.png", "@rider_head-green.png", "hunter" },
    { "21", "rm125(2008)", "@rider_body-red.png", "@rm125-blue.png", "@wheels-gold.png", "@rider_head-black.png", "cruiser" },
    { "52", "rmz250(2008)", "@rider_body-purple.png", "@rmz250-purple.png", "@wheels-black.png", "@rider_head-blue.png", "hunter" },
    { "85", "rm125(2008)", "@rider_body-blue.png", "@rm125-red.png", "@wheels-gold.png", "@rider_head-purple.png", "hunter" },
    { "8", "yz250f(2008)", "@rider_body-black.png", "@yz250f-red.png", "@wheels-blue.png", "@rider_head-black.png", "steady" },
    { "11", "crf250(2008)", "@rider_body-purple.png", "@crf250-red.png", "@wheels-silver.png", "@rider_head-orange.png", "steady" },
    { "70", "yz125(2008)", "@rider_body-white.png", "@yz125-white.png", "@wheels-blue.png", "@rider_head-blue.png", "steady" },
    { "14", "yz250f(2008)", "@rider_body-white.png", "@yz250f-orange.png", "@wheels-silver.png", "@rider_head-white.png", "cruiser" },
    { "48", "kx125(2007)", "@rider_body-white.png", "@kx125-black.png", "@wheels-blue.png", "@rider_head-yellow.png", "steady" },
    { "76", "crf250(2008)", "@rider_body-green.png", "@crf250-green.png", "@wheels-silver.png", "@rider_head-yellow.png", "steady" },
    { "9", "yz250f(2008)", "@rider_body-green.png", "@yz250f-orange.png", "@wheels-gold.png", "@rider_head-red.png", "steady" },
    { "66", "rm125(2008)", "@rider_body-black.png", "@rm125-black.png", "@wheels-silver.png", "@rider_head-red.png", "hunter" },
    { "29", "yz250f(2008)", "@rider_body-white.png", "@yz250f-white.png", "@wheels-blue.png", "@rider_head-blue.png", "hunter" },
    { "6", "rm125(2008)", "@rider_body-red.png", "@rm125-yellow.png", "@wheels-black.png", "@rider_head-yellow.png", "hunter" },
    { "13", "kx250f(2008)", "@rider_body-blue.png", "@kx250f-black.png", "@wheels-black.png", "@rider_head-blue.png", "steady" },
    { "57", "kx250f(2008)", "@rider_body-blue.png", "@kx250f-black.png", "@wheels-black.png", "@rider_head-blue.png", "steady" },
    { "55", "rm125(2008)", "@rider_body-green.png", "@rm125-orange.png", "@wheels-gold.png", "@rider_head-black.png", "hunter" },
    { "10", "crf250(2008)", "@rider_body-blue.png", "@crf250-purple.png", "@wheels-blue.png", "@rider_head-purple.png", "hunter" },
    { "32", "kx125(2007)", "@rider_body-blue.png", "@kx125-green.png", "@wheels-black.png", "@rider_head-black.png", "cruiser" },
    { "96", "rmz250(2008)", "@rider_body-purple.png", "@rmz250-green.png", "@wheels-black.png", "@rider_head-yellow.png", "cruiser" },
    { "72", "rmz250(2008)", "@rider_body-green.png", "@rmz250-red.png", "@wheels-gold.png", "@rider_head-blue.png", "cruiser" },
    { "56", "kx125(2007)", "@rider_body-black.png", "@kx125-green.png", "@wheels-gold.png", "@rider_head-yellow.png", "cruiser" },
    { "89", "rmz250(2008)", "@rider_body-yellow.png", "@rmz250-yellow.png", "@wheels-silver.png", "@rider_head-white.png", "cruiser" },
    { "74", "yz125(2008)", "@rider_body-yellow.png", "@yz125-purple.png", "@wheels-gold.png", "@rider_head-red.png", "steady" },
    { "17", "rmz250(2008)", "@rider_body-purple.png", "@rmz250-orange.png", "@wheels-silver.png", "@rider_head-black.png", "hunter" },
    { "30", "rmz250(2008)", "@rider_body-black.png", "@rmz250-blue.png", "@wheels-silver.png", "@rider_head-blue.png", "steady" },
    { "77", "rm125(2008)", "@rider_body-yellow.png", "@rm125-black.png", "@wheels-silver.png", "@rider_head-purple.png", "cruiser" },
    { "97", "crf250(2008)", "@rider_body-purple.png", "@crf250-black.png", "@wheels-black.png", "@rider_head-blue.png", "hunter" },
    { "95", "yz125(2008)", "@rider_body-purple.png", "@yz125-green.png", "@wheels-blue.png", "@rider_head-black.png", "steady" },
    { "90", "yz250f(2008)", "@rider_body-purple.png", "@yz250f-white.png", "@wheels-black.png", "@rider_head-green.png", "steady" },
    { "7", "kx250f(2008)", "@rider_body-red.png", "@kx250f-green.png", "@wheels-blue.png", "@rider_head-green.png", "cruiser" },
    { "19", "rm125(2008)", "@rider_body-black.png", "@rm125-green.png", "@wheels-silver.png", "@rider_head-red.png", "steady" },
    { "39", "crf250(2008)", "@rider_body-green.png", "@crf250-white.png", "@wheels-silver.png", "@rider_head-yellow.png", "steady" },
    { "83", "kx125(2007)", "@rider_body-yellow.png", "@kx125-orange.png", "@wheels-silver.png", "@rider_head-black.png", "hunter" },
    { "20", "yz250f(2008)", "@rider_body-green.png", "@yz250f-red.png", "@wheels-gold.png", "@rider_head-purple.png", "cruiser" },
    { "36", "yz250f(2008)", "@rider_body-green.png", "@yz250f-green.png", "@wheels-black.png", "@rider_head-purple.png", "steady" },
    { "73", "cr125(2007)", "@rider_body-green.png", "@cr125-green.png", "@wheels-silver.png", "@rider_head-purple.png", "cruiser" },
    { "38", "crf250(2008)", "@rider_body-red.png", "@crf250-black.png", "@wheels-blue.png", "@rider_head-blue.png", "cruiser" },
    { "98", "cr125(2007)", "@rider_body-yellow.png", "@cr125-yellow.png", "@wheels-gold.png", "@rider_head-red.png", "steady" },
    { "37", "yz250f(2008)", "@rider_body-red.png", "@yz250f-blue.png", "@wheels-blue.png", "@rider_head-black.png", "cruiser" },
    { "54", "kx250f(2008)", "@rider_body-orange.png", "@kx250f-purple.png", "@wheels-blue.png", "@rider_head-yellow.png", "cruiser" },
    { "45", "kx125(2007)", "@rider_body-yellow.png", "@kx125-purple.png", "@wheels-silver.png", "@rider_head-white.png", "steady" },
    { "80", "yz250f(2008)", "@rider_body-purple.png", "@yz250f-black.png", "@wheels-black.png", "@rider_head-yellow.png", "hunter" },
    { "71", "cr125(2007)", "@rider_body-yellow.png", "@cr125-orange.png", "@wheels-black.png", "@rider_head-green.png", "cruiser" },
    { "67", "rmz250(2008)", "@rider_body-green.png", "@rmz250-orange.png", "@wheels-silver.png", "@rider_head-purple.png", "steady" },
    { "62", "crf250(2008)", "@rider_body-white.png", "@crf250-purple.png", "@wheels-silver.png", "@rider_head-yellow.png", "steady" },
    { "42", "rm125(2008)", "@rider_body-white.png", "@rm125-black.png", "@wheels-blue.png", "@rider_head-yellow.png", "hunter" },
    { "92", "rmz250(2008)", "@rider_body-blue.png", "@rmz250-black.png", "@wheels-black.png", "@rider_head-black.png", "cruiser" },
    { "25", "rm125(2008)", "@rider_body-purple.png", "@rm125-red.png", "@wheels-blue.png", "@rider_head-black.png", "cruiser" },
    { "78", "rmz250(2008)", "@rider_body-blue.png", "@rmz250-blue.png", "@wheels-silver.png", "@rider_head-blue.png", "steady" },
    { "60", "rmz250(2008)", "@rider_body-orange.png", "@rmz250-red.png", "@wheels-silver.png", "@rider_head-orange.png", "steady" },
    { "47", "rm125(2008)", "@rider_body-orange.png", "@rm125-white.png", "@wheels-silver.png", "@rider_head-purple.png", "cruiser" },
    { "86", "rmz250(2008)", "@rider_body-blue.png", "@rmz250-orange.png", "@wheels-black.png", "@rider_head-green.png", "hunter" },
    { "59", "cr125(2007)", "@rider_body-orange.png", "@cr125-red.png", "@wheels-black.png", "@rider_head-orange.png", "steady" },
    { "5", "kx250f(2008)", "@rider_body-blue.png", "@kx250f-orange.png", "@wheels-black.png", "@rider_head-purple.png", "steady" },
    { "41", "rmz250(2008)", "@rider_body-white.png", "@rmz250-orange.png", "@wheels-silver.png", "@rider_head-red.png", "cruiser" },
    { "15", "yz125(2008)", "@rider_body-blue.png", "@yz125-green.png", "@wheels-gold.png", "@rider_head-red.png", "steady" },
    { "33", "kx250f(2008)", "@rider_body-orange.png", "@kx250f-orange.png", "@wheels-silver.png", "@rider_head-orange.png", "hunter" },
    { "64", "yz125(2008)", "@rider_body-orange.png", "@yz125-black.png", "@wheels-black.png", "@rider_head-orange.png", "steady" },
    { "87", "crf250(2008)", "@rider_body-red.png", "@crf250-yellow.png", "@wheels-blue.png", "@rider_head-yellow.png", "hunter" },
    { "22", "crf250(2008)", "@rider_body-white.png", "@crf250-purple.png", "@wheels-blue.png", "@rider_head-orange.png", "cruiser" },
    { "31", "yz125(2008)", "@rider_body-yellow.png", "@yz125-black.png", "@wheels-silver.png", "@rider_head-green.png", "hunter" },
    { "46", "rmz250(2008)", "@rider_body-red.png", "@rmz250-green.png", "@wheels-black.png", "@rider_head-blue.png", "cruiser" },
    { "51", "kx125(2007)", "@rider_body-white.png", "@kx125-green.png", "@wheels-black.png", "@rider_head-blue.png", "cruiser" },
    { "61", "yz250f(2008)", "@rider_body-orange.png", "@yz250f-yellow.png", "@wheels-gold.png", "@rider_head-red.png", "hunter" },
    { "75", "kx250f(2008)", "@rider_body-green.png", "@kx250f-orange.png", "@wheels-blue.png", "@rider_head-red.png", "hunter" },
    { "84", "kx125(2007)", "@rider_body-black.png", "@kx125-black.png", "@wheels-silver.png", "@rider_head-red.png", "hunter" },
    { "24", "kx250f(2008)", "@rider_body-black.png", "@kx250f-green.png", "@wheels-black.png", "@rider_head-black.png", "hunter" },
    { "26", "cr125(2007)", "@rider_body-purple.png", "@cr125-orange.png", "@wheels-silver.png", "@rider_head-yellow.png", "cruiser" },
    { "63", "crf250(2008)", "@rider_body-blue.png", "@crf250-orange.png", "@wheels-black.png", "@rider_head-green.png", "hunter" },
    { "4", "crf250(2008)", "@rider_body-white.png", "@crf250-red.png", "@wheels-gold.png", "@rider_head-orange.png", "cruiser" },
    { "65", "yz125(2008)", "@rider_body-blue.png", "@yz125-green.png", "@wheels-blue.png", "@rider_head-black.png", "cruiser" },
    { "94", "yz250f(2008)", "@rider_body-green.png", "@yz250f-orange.png", "@wheels-silver.png", "@rider_head-red.png", "cruiser" },
    { "18", "rm125(2008)", "@rider_body-green.png", "@rm125-red.png", "@wheels-silver.png", "@rider_head-blue.png", "steady" },
    { "34", "crf250(2008)", "@rider_body-green.png", "@crf250-black.png", "@wheels-black.png", "@rider_head-white.png", "hunter" },
    { "12", "crf250(2008)", "@rider_body-red.png", "@crf250-yellow.png", "@wheels-blue.png", "@rider_head-orange.png", "steady" },
    { "16", "rm125(2008)", "@rider_body-blue.png", "@rm125-blue.png", "@wheels-black.png", "@rider_head-purple.png", "hunter" },
    { "27", "crf250(2008)", "@rider_body-orange.png", "@crf250-yellow.png", "@wheels-silver.png", "@rider_head-yellow.png", "cruiser" },
    { "35", "rm125(2008)", "@rider_body-purple.png", "@rm125-white.png", "@wheels-black.png", "@rider_head-purple.png", "cruiser" },
    { "40", "rmz250(2008)", "@rider_body-red.png", "@rmz250-yellow.png", "@wheels-black.png", "@rider_head-green.png", "hunter" },
};

const RosterEntry *roster_entry(int index)
{
    return index >= 0 && index < ROSTER_SIZE ? &k_roster[index] : nullptr;
}

void roster_shuffle(RosterDraw *d)
{
    for (int i = 0; i < ROSTER_SIZE; i++)
        d->order[i] = i;
    for (int i = ROSTER_SIZE - 1; i >= 1; i--) {
        int j = (int)((mt_next() / 65536u) % (uint32_t)i);
        int swap = d->order[i];
        d->order[i] = d->order[j];
        d->order[j] = swap;
    }
    d->cursor = 0;
}

static bool numbered(const RosterEntry *e, int n)
{
    char *end;
    long v = strtol(e->number, &end, 10);
    return *e->number && !*end && v == n;
}

static bool matches(const RosterEntry *e, int request)
{
    if (request == 3)
        return strstr(e->bike, "125") != nullptr;
    if (request == 4)
        return strstr(e->bike, "250") != nullptr;
    if (request >= 1000)
        return numbered(e, request - 1000);
    return true;
}

int roster_take(RosterDraw *d, int request)
{
    int at = d->cursor % ROSTER_SIZE;
    if (at < 0)
        at += ROSTER_SIZE;
    d->cursor = at + 1;
    // only the entries not yet handed out in this round count as remaining
    for (int i = at; i < ROSTER_SIZE; i++)
        if (matches(&k_roster[d->order[i]], request)) {
            int swap = d->order[at];
            d->order[at] = d->order[i];
            d->order[i] = swap;
            break;
        }
    return d->order[at];
}
