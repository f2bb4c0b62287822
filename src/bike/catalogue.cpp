#include "bike/catalogue.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "bike/setup.h"
#include "common/game_data.h"
#include "common/messages.h"

// Where the figures come from: manufacturer data sheets and owner's manuals (dry masses,
// gearbox and primary ratios, sprockets, spring rates of the stock springs), magazine dyno
// charts (peak torque, the rpm of the peak and the shape of the curve) and published rev
// limits. The frame mass is the dry mass less wheels, fork and swingarm. Spring rates are
// entered as the stock rate in kg/mm (per fork leg, shock); the setting range spans
// 0.2 kg/mm either side for the fork and 2 kg/mm for the shock (half the rate for soft
// springs). Geometry is one common set: the simulation scales every model to the same frame.

enum Family { FAM_125, FAM_250, FAM_250F, FAM_450F, FAM_50 };

enum GearSet { G_CR125, G_125, G_250, G_250F_A, G_250F_B, G_450F_A, G_450F_B, G_50 };

static const float k_gear_sets[][6] = {
    { 2.35714f, 1.86667f, 1.57895f, 1.29412f, 1.13333f, -1 },
    { 2.38462f, 1.85714f, 1.5f, 1.25f, 1.09091f, 0.96f },
    { 2.0f, 1.625f, 1.33333f, 1.125f, 0.96154f, -1 },
    { 2.14286f, 1.75f, 1.44444f, 1.22222f, 1.04167f, -1 },
    { 2.28571f, 1.73333f, 1.44444f, 1.25f, 1.09524f, -1 },
    { 1.78571f, 1.44444f, 1.2f, 1.0f, 0.88f, -1 },
    { 1.92308f, 1.5f, 1.23529f, 1.05f, 0.91304f, -1 },
    { 2.75f, 2.0f, 1.6f, 1.3125f, 1.1f, -1 },
};

struct Figures {
    const char *name;
    Family family;
    int year;
    float frame_mass;               // slug
    float fork_k, shock_k;          // stock rates, kg/mm
    float primary, front_teeth, rear_teeth;
    GearSet gears;
    float inertia;                  // slug ft^2
    float peak_torque, peak_rpm;    // lbf ft
    float down, up, limit;          // rpm
};

// Catalogue order: the 125s first, then the 250 two-strokes, the 250 and 450 four-strokes
// and the 50s.
static const Figures k_figures[BIKE_MODEL_COUNT] = {
    { "cr125(2002)", FAM_125, 2002, 3.65375f, 0.44f, 4.7f, 3.15f, 13, 52, G_CR125, 0.00488281f, 15.97f, 10000, 9400, 12000, 12750 },
    { "cr125(2004)", FAM_125, 2004, 3.62f, 0.43f, 4.7f, 3.15f, 13, 52, G_CR125, 0.00488f, 16.1f, 10000, 9400, 12000, 12750 },
    { "cr125(2007)", FAM_125, 2007, 3.60f, 0.43f, 4.8f, 3.15f, 13, 51, G_CR125, 0.00488f, 16.3f, 10250, 9500, 12100, 12900 },
    { "yz125(2002)", FAM_125, 2002, 3.70f, 0.41f, 4.6f, 3.44f, 13, 50, G_125, 0.0050f, 15.6f, 10250, 9300, 11900, 12600 },
    { "yz125(2005)", FAM_125, 2005, 3.66f, 0.41f, 4.6f, 3.44f, 13, 50, G_125, 0.0050f, 15.9f, 10250, 9300, 11900, 12700 },
    { "yz125(2008)", FAM_125, 2008, 3.64f, 0.42f, 4.6f, 3.44f, 13, 50, G_125, 0.0049f, 16.0f, 10500, 9400, 12000, 12800 },
    { "yz125(2012)", FAM_125, 2012, 3.64f, 0.42f, 4.6f, 3.44f, 13, 50, G_125, 0.0049f, 16.0f, 10500, 9400, 12000, 12800 },
    { "yz125(2015)", FAM_125, 2015, 3.62f, 0.43f, 4.6f, 3.44f, 13, 50, G_125, 0.0049f, 16.2f, 10500, 9400, 12100, 12800 },
    { "yz125(2019)", FAM_125, 2019, 3.58f, 0.43f, 4.7f, 3.44f, 13, 50, G_125, 0.0048f, 16.6f, 10500, 9500, 12200, 12900 },
    { "kx125(2003)", FAM_125, 2003, 3.70f, 0.41f, 4.6f, 3.12f, 13, 51, G_125, 0.0050f, 15.5f, 10000, 9200, 11800, 12500 },
    { "kx125(2007)", FAM_125, 2007, 3.66f, 0.42f, 4.6f, 3.12f, 13, 51, G_125, 0.0050f, 15.8f, 10250, 9300, 11900, 12600 },
    { "rm125(2003)", FAM_125, 2003, 3.68f, 0.41f, 4.5f, 3.09f, 13, 50, G_125, 0.0050f, 15.4f, 10000, 9200, 11800, 12500 },
    { "rm125(2008)", FAM_125, 2008, 3.66f, 0.42f, 4.6f, 3.09f, 13, 50, G_125, 0.0050f, 15.7f, 10250, 9300, 11900, 12600 },
    { "sx125(2012)", FAM_125, 2012, 3.55f, 0.42f, 4.8f, 3.42f, 13, 50, G_125, 0.0047f, 17.0f, 10750, 9600, 12300, 13000 },
    { "sx125(2016)", FAM_125, 2016, 3.50f, 0.42f, 4.8f, 3.42f, 13, 50, G_125, 0.0047f, 17.4f, 10750, 9600, 12400, 13100 },
    { "sx125(2019)", FAM_125, 2019, 3.47f, 0.43f, 4.9f, 3.42f, 13, 50, G_125, 0.0046f, 17.6f, 11000, 9700, 12500, 13200 },

    { "cr250(2002)", FAM_250, 2002, 4.08f, 0.43f, 5.3f, 2.95f, 14, 50, G_250, 0.0078f, 31.5f, 7750, 6000, 8500, 9500 },
    { "cr250(2005)", FAM_250, 2005, 4.05f, 0.43f, 5.3f, 2.95f, 14, 50, G_250, 0.0078f, 32.0f, 7750, 6000, 8500, 9500 },
    { "cr250(2007)", FAM_250, 2007, 4.03f, 0.43f, 5.4f, 2.95f, 14, 50, G_250, 0.0077f, 32.2f, 8000, 6100, 8600, 9600 },
    { "yz250(2002)", FAM_250, 2002, 4.10f, 0.43f, 5.2f, 3.20f, 14, 48, G_250, 0.0080f, 31.0f, 7750, 6000, 8400, 9400 },
    { "yz250(2006)", FAM_250, 2006, 4.06f, 0.43f, 5.3f, 3.20f, 14, 48, G_250, 0.0079f, 31.8f, 7750, 6000, 8500, 9500 },
    { "yz250(2012)", FAM_250, 2012, 4.04f, 0.43f, 5.3f, 3.20f, 14, 48, G_250, 0.0079f, 32.0f, 8000, 6000, 8500, 9500 },
    { "yz250(2016)", FAM_250, 2016, 4.02f, 0.43f, 5.4f, 3.20f, 14, 48, G_250, 0.0078f, 32.4f, 8000, 6100, 8600, 9600 },
    { "yz250(2019)", FAM_250, 2019, 4.00f, 0.43f, 5.4f, 3.20f, 14, 48, G_250, 0.0078f, 32.6f, 8000, 6100, 8600, 9600 },
    { "kx250(2004)", FAM_250, 2004, 4.12f, 0.43f, 5.2f, 2.93f, 14, 50, G_250, 0.0080f, 30.8f, 7750, 5900, 8400, 9400 },
    { "kx250(2007)", FAM_250, 2007, 4.08f, 0.43f, 5.3f, 2.93f, 14, 50, G_250, 0.0079f, 31.4f, 7750, 6000, 8500, 9500 },
    { "rm250(2004)", FAM_250, 2004, 4.10f, 0.43f, 5.2f, 2.96f, 14, 49, G_250, 0.0080f, 31.0f, 7750, 5900, 8400, 9400 },
    { "rm250(2008)", FAM_250, 2008, 4.07f, 0.43f, 5.3f, 2.96f, 14, 49, G_250, 0.0079f, 31.5f, 7750, 6000, 8500, 9500 },
    { "sx250(2013)", FAM_250, 2013, 3.92f, 0.43f, 5.4f, 3.10f, 14, 50, G_250, 0.0076f, 33.5f, 8000, 6200, 8700, 9700 },
    { "sx250(2017)", FAM_250, 2017, 3.88f, 0.43f, 5.5f, 3.10f, 14, 50, G_250, 0.0075f, 34.0f, 8250, 6200, 8800, 9800 },

    { "crf250(2008)", FAM_250F, 2008, 4.42f, 0.44f, 5.0f, 3.35f, 13, 48, G_250F_A, 0.0066f, 19.6f, 9500, 8400, 12200, 13200 },
    { "kx250f(2008)", FAM_250F, 2008, 4.45f, 0.44f, 4.9f, 3.32f, 14, 51, G_250F_A, 0.0067f, 19.8f, 9750, 8500, 12300, 13300 },
    { "rmz250(2008)", FAM_250F, 2008, 4.43f, 0.44f, 4.9f, 3.40f, 13, 48, G_250F_B, 0.0066f, 19.5f, 9500, 8400, 12200, 13200 },
    { "yz250f(2008)", FAM_250F, 2008, 4.40f, 0.43f, 4.8f, 3.35f, 13, 49, G_250F_B, 0.0066f, 19.7f, 9750, 8500, 12300, 13200 },
    { "crf250(2004)", FAM_250F, 2004, 4.48f, 0.43f, 4.9f, 3.35f, 13, 48, G_250F_A, 0.0067f, 18.9f, 9250, 8300, 12000, 13000 },
    { "crf250(2010)", FAM_250F, 2010, 4.45f, 0.44f, 5.0f, 3.35f, 13, 48, G_250F_A, 0.0066f, 19.8f, 9750, 8500, 12300, 13300 },
    { "crf250(2014)", FAM_250F, 2014, 4.40f, 0.44f, 5.0f, 3.35f, 13, 48, G_250F_A, 0.0065f, 20.2f, 10000, 8600, 12500, 13500 },
    { "crf250(2018)", FAM_250F, 2018, 4.36f, 0.44f, 5.2f, 3.35f, 13, 49, G_250F_A, 0.0063f, 20.6f, 10500, 9000, 13000, 14000 },
    { "yz250f(2001)", FAM_250F, 2001, 4.50f, 0.43f, 4.7f, 3.35f, 13, 49, G_250F_B, 0.0068f, 18.6f, 9000, 8200, 11800, 12800 },
    { "yz250f(2006)", FAM_250F, 2006, 4.44f, 0.43f, 4.8f, 3.35f, 13, 49, G_250F_B, 0.0067f, 19.3f, 9500, 8400, 12100, 13100 },
    { "yz250f(2011)", FAM_250F, 2011, 4.42f, 0.43f, 4.8f, 3.35f, 13, 49, G_250F_B, 0.0066f, 19.9f, 9750, 8500, 12300, 13300 },
    { "yz250f(2014)", FAM_250F, 2014, 4.44f, 0.44f, 4.9f, 3.35f, 13, 48, G_250F_B, 0.0066f, 20.4f, 10000, 8600, 12500, 13500 },
    { "yz250f(2017)", FAM_250F, 2017, 4.42f, 0.44f, 4.9f, 3.35f, 13, 48, G_250F_B, 0.0065f, 20.6f, 10250, 8700, 12600, 13600 },
    { "yz250f(2019)", FAM_250F, 2019, 4.38f, 0.44f, 5.0f, 3.35f, 13, 48, G_250F_B, 0.0064f, 21.0f, 10500, 8800, 12800, 13800 },
    { "kx250f(2006)", FAM_250F, 2006, 4.47f, 0.43f, 4.8f, 3.32f, 14, 51, G_250F_A, 0.0068f, 19.2f, 9500, 8400, 12000, 13000 },
    { "kx250f(2011)", FAM_250F, 2011, 4.42f, 0.44f, 4.9f, 3.32f, 14, 51, G_250F_A, 0.0066f, 20.0f, 10000, 8600, 12500, 13500 },
    { "kx250f(2017)", FAM_250F, 2017, 4.36f, 0.44f, 5.0f, 3.32f, 14, 50, G_250F_A, 0.0064f, 20.8f, 10500, 8800, 12900, 14000 },
    { "rmz250(2007)", FAM_250F, 2007, 4.46f, 0.43f, 4.8f, 3.40f, 13, 48, G_250F_B, 0.0067f, 19.0f, 9250, 8300, 12000, 13000 },
    { "rmz250(2010)", FAM_250F, 2010, 4.42f, 0.44f, 4.9f, 3.40f, 13, 48, G_250F_B, 0.0066f, 19.8f, 9750, 8500, 12300, 13300 },
    { "rmz250(2016)", FAM_250F, 2016, 4.40f, 0.44f, 5.0f, 3.40f, 13, 48, G_250F_B, 0.0065f, 20.3f, 10000, 8600, 12500, 13500 },
    { "sxf250(2013)", FAM_250F, 2013, 4.20f, 0.44f, 5.0f, 3.52f, 13, 48, G_250F_A, 0.0062f, 20.9f, 11000, 9200, 13300, 14200 },
    { "sxf250(2016)", FAM_250F, 2016, 4.15f, 0.44f, 5.2f, 3.52f, 13, 48, G_250F_A, 0.0061f, 21.4f, 11250, 9300, 13500, 14500 },

    { "crf450(2002)", FAM_450F, 2002, 4.85f, 0.46f, 5.4f, 2.65f, 13, 48, G_450F_A, 0.0108f, 33.8f, 7000, 5800, 9500, 10500 },
    { "crf450(2005)", FAM_450F, 2005, 4.82f, 0.47f, 5.4f, 2.65f, 13, 48, G_450F_A, 0.0107f, 34.4f, 7000, 5800, 9600, 10600 },
    { "crf450(2009)", FAM_450F, 2009, 4.78f, 0.47f, 5.5f, 2.65f, 13, 48, G_450F_A, 0.0105f, 35.0f, 7250, 5900, 9700, 10800 },
    { "crf450(2013)", FAM_450F, 2013, 4.75f, 0.47f, 5.5f, 2.65f, 13, 48, G_450F_A, 0.0104f, 35.4f, 7250, 6000, 9800, 10900 },
    { "crf450(2017)", FAM_450F, 2017, 4.73f, 0.47f, 5.6f, 2.65f, 13, 49, G_450F_A, 0.0102f, 36.4f, 7500, 6100, 10200, 11300 },
    { "crf450(2019)", FAM_450F, 2019, 4.70f, 0.47f, 5.6f, 2.65f, 13, 49, G_450F_A, 0.0101f, 36.8f, 7500, 6200, 10300, 11500 },
    { "yz450f(2003)", FAM_450F, 2003, 4.95f, 0.46f, 5.3f, 2.77f, 13, 49, G_450F_B, 0.0110f, 33.4f, 6750, 5700, 9400, 10400 },
    { "yz450f(2006)", FAM_450F, 2006, 4.90f, 0.47f, 5.4f, 2.77f, 13, 49, G_450F_B, 0.0109f, 34.0f, 7000, 5800, 9500, 10500 },
    { "yz450f(2010)", FAM_450F, 2010, 4.95f, 0.47f, 5.5f, 2.77f, 13, 48, G_450F_B, 0.0108f, 34.8f, 7000, 5800, 9600, 10600 },
    { "yz450f(2014)", FAM_450F, 2014, 4.85f, 0.47f, 5.6f, 2.77f, 13, 48, G_450F_B, 0.0106f, 35.6f, 7250, 5900, 9800, 10800 },
    { "yz450f(2018)", FAM_450F, 2018, 4.78f, 0.47f, 5.6f, 2.77f, 13, 49, G_450F_B, 0.0104f, 36.2f, 7250, 6000, 10000, 11000 },
    { "kx450f(2006)", FAM_450F, 2006, 4.92f, 0.46f, 5.4f, 2.68f, 13, 50, G_450F_A, 0.0109f, 33.9f, 7000, 5800, 9500, 10500 },
    { "kx450f(2009)", FAM_450F, 2009, 4.88f, 0.47f, 5.4f, 2.68f, 13, 50, G_450F_A, 0.0107f, 34.6f, 7000, 5800, 9600, 10600 },
    { "kx450f(2012)", FAM_450F, 2012, 4.85f, 0.47f, 5.5f, 2.68f, 13, 50, G_450F_A, 0.0106f, 35.2f, 7250, 5900, 9700, 10800 },
    { "kx450f(2016)", FAM_450F, 2016, 4.80f, 0.47f, 5.6f, 2.68f, 13, 50, G_450F_A, 0.0104f, 35.8f, 7250, 6000, 9900, 10900 },
    { "kx450f(2019)", FAM_450F, 2019, 4.76f, 0.47f, 5.7f, 2.68f, 13, 50, G_450F_A, 0.0102f, 36.6f, 7500, 6100, 10100, 11200 },
    { "rmz450(2005)", FAM_450F, 2005, 4.94f, 0.46f, 5.3f, 2.70f, 13, 48, G_450F_B, 0.0110f, 33.6f, 6750, 5700, 9400, 10400 },
    { "rmz450(2008)", FAM_450F, 2008, 4.90f, 0.47f, 5.4f, 2.70f, 13, 48, G_450F_B, 0.0108f, 34.2f, 7000, 5800, 9500, 10500 },
    { "rmz450(2013)", FAM_450F, 2013, 4.86f, 0.47f, 5.5f, 2.70f, 13, 49, G_450F_B, 0.0106f, 34.9f, 7000, 5900, 9700, 10700 },
    { "rmz450(2018)", FAM_450F, 2018, 4.80f, 0.47f, 5.6f, 2.70f, 13, 49, G_450F_B, 0.0104f, 35.7f, 7250, 6000, 9900, 10900 },
    { "sxf450(2013)", FAM_450F, 2013, 4.55f, 0.47f, 5.6f, 2.72f, 13, 48, G_450F_A, 0.0100f, 36.0f, 7500, 6100, 10300, 11400 },
    { "sxf450(2016)", FAM_450F, 2016, 4.50f, 0.47f, 5.7f, 2.72f, 13, 48, G_450F_A, 0.0098f, 37.0f, 7750, 6200, 10500, 11600 },

    { "pw50(2010)", FAM_50, 2010, 1.10f, 0.10f, 1.9f, 3.00f, 10, 38, G_50, 0.0016f, 2.4f, 6500, 4500, 7200, 8000 },
    { "ktm50sx(2010)", FAM_50, 2010, 1.25f, 0.11f, 2.1f, 3.00f, 11, 40, G_50, 0.0019f, 3.6f, 9000, 6000, 10500, 11500 },
    { "ktm50sx(2016)", FAM_50, 2016, 1.22f, 0.11f, 2.1f, 3.00f, 11, 40, G_50, 0.0019f, 3.9f, 9500, 6200, 11000, 12000 },
    { "cobra50(2012)", FAM_50, 2012, 1.28f, 0.11f, 2.1f, 3.10f, 11, 41, G_50, 0.0020f, 3.8f, 9250, 6000, 10800, 11800 },
    { "jr50(2015)", FAM_50, 2015, 1.20f, 0.10f, 2.0f, 3.05f, 10, 39, G_50, 0.0018f, 3.0f, 8000, 5500, 9500, 10500 },
    { "ttr50(2014)", FAM_50, 2014, 1.30f, 0.10f, 1.9f, 3.10f, 10, 38, G_50, 0.0017f, 2.6f, 7000, 4800, 7800, 8800 },
};

// Per family: wheel masses, fork and swingarm masses, damping bases, rider mass, the rear
// linkage, the idle and the gearing.
struct FamilyFigures {
    const char *class_code;
    float front_ring, front_hub, rear_ring, rear_hub;
    float fork_mass, swingarm_mass;
    float fork_damping[4], shock_damping[4];
    float rider_mass;
    bool two_stroke;
    int menu_rank;                  // menu order: large four-strokes first, the 50s last
    // The rear linkage's slope dL/ds at full extension (ft of shock travel per swingarm travel);
    // it rises to twice that at full compression, so that the rider sags a third of the travel.
    float linkage_slope;
    float idle_rpm;                 // where the closed-throttle curve crosses zero
    float idle_torque;              // closed-throttle torque at 0 rpm, a share of the peak
    // The stock primary reduction is multiplied by this: without air drag a bike's top speed
    // in top gear is where its full-throttle curve runs out past the rev limit, so the overall
    // gearing is shorter than stock to put that speed where drag would hold a real bike.
    float gearing;
    // The drive-line's torsional spring (lbf ft/rad) and damping: softer on the light 50s, whose
    // small rear wheel on a long gearing would otherwise ring against the engine.
    float driveline_stiffness, driveline_damping;
};

static const FamilyFigures k_families[] = {
    { "125", 0.50f, 0.25f, 0.60f, 0.35f, 0.55f, 0.30f, { 60, 60, 30, 30 }, { 160, 32, 200, 40 }, 4.6875f, true, 3,
      0.39f, 1500, 0.1f, 1.0f, 7500, 0.75f },
    { "250", 0.52f, 0.26f, 0.64f, 0.37f, 0.60f, 0.33f, { 64, 64, 32, 32 }, { 175, 35, 215, 43 }, 4.6875f, true, 2,
      0.375f, 1400, 0.1f, 1.0f, 7500, 0.75f },
    { "250f", 0.52f, 0.26f, 0.64f, 0.37f, 0.60f, 0.33f, { 64, 64, 32, 32 }, { 175, 35, 215, 43 }, 4.6875f, false, 1,
      0.39f, 2000, 0.1f, 1.12f, 7500, 0.75f },
    { "450f", 0.54f, 0.27f, 0.66f, 0.38f, 0.65f, 0.35f, { 68, 68, 34, 34 }, { 190, 38, 230, 46 }, 4.6875f, false, 0,
      0.383f, 1800, 0.1f, 1.42f, 7500, 0.75f },
    { "50", 0.20f, 0.10f, 0.25f, 0.12f, 0.25f, 0.12f, { 26, 26, 13, 13 }, { 70, 14, 85, 17 }, 2.1875f, true, 4,
      0.39f, 2000, 0.1f, 2.0f, 3000, 0.25f },
};

// Full-throttle dyno shape up to the torque peak: (rpm / peak rpm, torque / peak torque).
static const float k_two_stroke_rise[][2] = {
    { 0, 0.31f }, { 0.4f, 0.36f }, { 0.6f, 0.52f }, { 0.75f, 0.78f }, { 0.9f, 0.96f }, { 1, 1 } };
static const float k_four_stroke_rise[][2] = {
    { 0, 0.45f }, { 0.3f, 0.62f }, { 0.5f, 0.8f }, { 0.75f, 0.94f }, { 0.9f, 0.99f }, { 1, 1 } };

// The 125 two-stroke in the first row, read off its dyno chart every 500 rpm.
static const float k_cr125_full[BIKE_TORQUE_POINTS] = {
    5.00f, 5.15f, 5.30f, 5.45f, 5.60f, 5.75f, 5.90f, 6.10f, 6.40f, 6.80f,
    7.30f, 7.95f, 8.70f, 9.55f, 10.45f, 11.40f, 12.40f, 13.45f, 14.50f, 15.40f,
    15.97f, 15.60f, 14.40f, 12.40f, 9.60f, 2.10f, -0.50f, -1.20f, -1.80f, -2.30f,
    -2.70f, -3.00f, -3.30f, -3.55f, -3.80f, -4.00f, -4.20f, -4.40f, -4.60f, -4.80f,
    -5.00f, -5.20f, -5.40f, -5.60f, -5.80f, -6.00f, -6.20f, -6.40f, -6.60f, -6.80f,
};

// The rider pose points, each in its own body's coordinates: head, shoulders and hips on the
// rider body; grips on the upper fork; pegs on the frame (-x side first); then the upper arm,
// forearm, thigh and shin lengths. The bones' rest centres follow from them (rider_pose_bones).
static const float k_rider_pose[31] = {
    0.0f, 1.40f, -0.45f,                    // head
    -0.60f, 0.80f, -0.35f, 0.60f, 0.80f, -0.35f,   // shoulders
    -0.40f, -0.30f, 0.20f, 0.40f, -0.30f, 0.20f,   // hips
    -0.85f, 0.55f, 0.25f, 0.85f, 0.55f, 0.25f,     // grips
    -0.55f, -0.40f, 0.0f, 0.55f, -0.40f, 0.0f,     // pegs
    1.00f, 0.95f, 1.45f, 1.50f,                    // upper arm, forearm, thigh, shin
};

// The nine bones' rest centres in the rider model's rest pose (rider body coordinates, arms and
// legs hanging straight down): each bone starts at its joint, forearms at the elbows below the
// shoulders, upper arms at the shoulders, shins at the knees below the hips, thighs at the hips
// and the torso at the body's origin.
static void rider_pose_bones(BikeModel *m)
{
    float *p = m->rider_pose;
    float *bones = p + 31;
    for (int side = 0; side < 2; side++) {
        const float *shoulder = p + 3 + 3 * side, *hip = p + 9 + 3 * side;
        for (int i = 0; i < 3; i++) {
            bones[3 * side + i] = shoulder[i] - (i == 1 ? p[27] : 0);
            bones[6 + 3 * side + i] = shoulder[i];
            bones[12 + 3 * side + i] = hip[i] - (i == 1 ? p[29] : 0);
            bones[18 + 3 * side + i] = hip[i];
        }
    }
    for (int i = 0; i < 3; i++)
        bones[24 + i] = 0;
}

static const double k_fork_kgmm_per_lbf_ft = 0.0007440819724087572;
static const double k_shock_kgmm_per_lbf_ft = 0.0014881639448175144;

static struct {
    bool built;
    BikeModel rows[BIKE_MODEL_COUNT];
    const char *menu[BIKE_MODEL_COUNT];
} g_catalogue;

static void set3(float *out, float x, float y, float z)
{
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

// Rising shape to the peak, a fall to about half the peak at the rev limit, nothing a
// quarter of the way to the next 500 rpm step, and growing pumping losses past it.
static float full_torque_at(const Figures &f, bool two_stroke, float rpm)
{
    const float(*rise)[2] = two_stroke ? k_two_stroke_rise : k_four_stroke_rise;
    if (rpm <= f.peak_rpm) {
        float r = rpm / f.peak_rpm;
        for (int i = 1; i < 6; i++)
            if (r <= rise[i][0]) {
                float t = (r - rise[i - 1][0]) / (rise[i][0] - rise[i - 1][0]);
                return f.peak_torque * (rise[i - 1][1] + t * (rise[i][1] - rise[i - 1][1]));
            }
        return f.peak_torque;
    }
    if (rpm <= f.limit) {
        float t = (rpm - f.peak_rpm) / (f.limit - f.peak_rpm);
        return f.peak_torque * (1.0f - 0.5f * t * t);
    }
    float over = (rpm - f.limit) / 250.0f;
    if (over <= 1)
        return f.peak_torque * 0.5f * (1.0f - over);
    return -f.peak_torque * (0.03f + 0.01f * (over - 1));
}

static void fill_files(BikeModel *m)
{
    const char *c = m->class_code;
    char(*f)[64] = m->files;
    snprintf(f[BIKE_FILE_FRAME_MODEL], 64, SK_BIKE_FRAME_MODEL, c);
    snprintf(f[BIKE_FILE_BIKE_TEXTURE], 64, SK_BIKE_TEXTURE, c);
    const struct { int file; const char *name; } fixed[] = {
        { BIKE_FILE_FRAME_SHAPE, "@generic_frame.shp" },
        { BIKE_FILE_UPPER_FORK_MODEL, SK_BIKE_UPPER_FORK_MODEL }, { BIKE_FILE_UPPER_FORK_SHAPE, "@generic_ufork.shp" },
        { BIKE_FILE_LOWER_FORK_MODEL, SK_BIKE_LOWER_FORK_MODEL }, { BIKE_FILE_LOWER_FORK_SHAPE, "@generic_lfork.shp" },
        { BIKE_FILE_SWINGARM_MODEL, SK_BIKE_SWINGARM_MODEL }, { BIKE_FILE_SWINGARM_SHAPE, "@generic_swingarm.shp" },
        { BIKE_FILE_FRONT_WHEEL_MODEL, SK_BIKE_FRONT_WHEEL_MODEL }, { BIKE_FILE_FRONT_WHEEL_SHAPE, "@generic_fwheel.shp" },
        { BIKE_FILE_REAR_WHEEL_MODEL, SK_BIKE_REAR_WHEEL_MODEL }, { BIKE_FILE_REAR_WHEEL_SHAPE, "@generic_rwheel.shp" },
        { BIKE_FILE_WHEEL_TEXTURE, SK_WHEEL_TEXTURE },
        { BIKE_FILE_HEAD_MODEL, SK_RIDER_HEAD_MODEL }, { BIKE_FILE_HEAD_TEXTURE, SK_RIDER_HEAD_TEXTURE },
        { BIKE_FILE_BODY_MODEL, SK_RIDER_BODY_MODEL }, { BIKE_FILE_FIRST_PERSON_BODY_MODEL, SK_RIDER_FIRST_PERSON_MODEL },
        { BIKE_FILE_RIDER_SHAPE, "@rider.shp" }, { BIKE_FILE_BODY_TEXTURE, SK_RIDER_BODY_TEXTURE },
        { BIKE_FILE_SIDE_PLATES_MODEL, SK_SIDE_PLATES_MODEL }, { BIKE_FILE_FRONT_PLATE_MODEL, SK_FRONT_PLATE_MODEL },
        { BIKE_FILE_RIDER_PLATE_MODEL, SK_RIDER_PLATE_MODEL },
    };
    for (const auto &x : fixed)
        snprintf(f[x.file], 64, "%s", x.name);
}

static void build_row(BikeModel *m, const Figures &f)
{
    const FamilyFigures &fam = k_families[f.family];
    memset(m, 0, sizeof *m);
    snprintf(m->name, sizeof m->name, "%s", f.name);
    snprintf(m->class_code, sizeof m->class_code, "%s", fam.class_code);

    // Geometry shared by every row.
    m->front = { { 0, 1.09f, 1.11f }, 0.8333f, 0.3333f, fam.front_ring, 0.25f, fam.front_hub };
    m->rear = { { 0, 1.04f, 6.0f }, 0.75f, 0.3333f, fam.rear_ring, 0.25f, fam.rear_hub };
    set3(m->frame_position, 0, 2.4f, 3.6f);
    set3(m->frame_size, 0.8f, 1.2f, 3.2f);
    set3(m->head_point, 0, 3.35f, 2.05f);
    set3(m->lower_fork_point, 0, 1.75f, 1.24f);
    set3(m->swingarm_pivot, 0, 2.05f, 4.05f);
    set3(m->swingarm_position, 0, (2.05f + 1.04f) / 2, (4.05f + 6.0f) / 2);
    m->fork_spacing = 0.6f;
    m->fork_length = 1.5f;
    m->fork_travel = 1.0f;
    set3(m->rider_position, 0, 3.9f, 3.7f);

    m->frame_mass = f.frame_mass;
    m->fork_mass = fam.fork_mass;
    m->swingarm_mass = fam.swingarm_mass;
    // Soft stock springs (the 50s) get a range of half their rate either way.
    double fork_span = fmin(0.2, f.fork_k / 2), shock_span = fmin(2.0, f.shock_k / 2);
    m->fork_spring[0] = (float)((f.fork_k - fork_span) / k_fork_kgmm_per_lbf_ft);
    m->fork_spring[1] = (float)((f.fork_k + fork_span) / k_fork_kgmm_per_lbf_ft);
    m->shock_spring[0] = (float)((f.shock_k - shock_span) / k_shock_kgmm_per_lbf_ft);
    m->shock_spring[1] = (float)((f.shock_k + shock_span) / k_shock_kgmm_per_lbf_ft);
    m->fork_preload[0] = 0;
    m->fork_preload[1] = 3 / 304.8f;        // 3 mm
    m->shock_preload[0] = 0;
    m->shock_preload[1] = 20 / 304.8f;
    m->fork_air_gap[0] = 3.0f;              // low oil: long air column, soft end stroke
    m->fork_air_gap[1] = 0.25f;
    memcpy(m->fork_damping, fam.fork_damping, sizeof m->fork_damping);
    memcpy(m->shock_damping, fam.shock_damping, sizeof m->shock_damping);
    // Two cubic pieces that together are the parabola whose slope rises from a to 2a; the swingarm
    // (about 2.2 ft long) travels 0.47 rad, a foot at the axle.
    float a = fam.linkage_slope;
    const float linkage[7] = { 0.625f * a, 1.5f * a, 0.47f, 0.5f, a, 1.5f * a, 2 * a };
    memcpy(m->linkage, linkage, sizeof linkage);

    m->primary_ratio = f.primary * fam.gearing;
    m->front_sprocket = f.front_teeth;
    m->rear_sprocket = f.rear_teeth;
    memcpy(m->gears, k_gear_sets[f.gears], sizeof m->gears);
    m->engine_inertia = f.inertia;
    m->driveline_stiffness = fam.driveline_stiffness;
    m->driveline_damping = fam.driveline_damping;
    // Shut, the engine pulls itself up to its idle and brakes above it, four-strokes harder.
    float braking = fam.two_stroke ? 1.0f : 1.6f;
    for (int i = 0; i < BIKE_TORQUE_POINTS; i++) {
        float rpm = 500.0f * i;
        m->full_torque[i] = full_torque_at(f, fam.two_stroke, rpm);
        if (rpm <= fam.idle_rpm)
            m->closed_torque[i] = fam.idle_torque * f.peak_torque * (1 - rpm / fam.idle_rpm);
        else
            m->closed_torque[i] = -braking * f.peak_torque * 0.016f * (rpm - fam.idle_rpm) / 1000;
    }
    if (strcmp(f.name, "cr125(2002)") == 0)
        memcpy(m->full_torque, k_cr125_full, sizeof m->full_torque);
    set3(m->shift_points, f.down, f.up, f.limit);
    m->zero = 0;
    m->brake_values[0] = m->brake_values[1] = 1.0f / 12;
    m->rider_values[0] = -2.0f / 3;
    m->rider_values[1] = 0.5f;
    m->rider_mass = fam.rider_mass;
    fill_files(m);
    memcpy(m->rider_pose, k_rider_pose, sizeof k_rider_pose);
    rider_pose_bones(m);
}

static void build_catalogue(void)
{
    if (g_catalogue.built)
        return;
    for (int i = 0; i < BIKE_MODEL_COUNT; i++)
        build_row(&g_catalogue.rows[i], k_figures[i]);
    // Menu order: by class rank, newest first, then by name.
    int order[BIKE_MODEL_COUNT];
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        int j = i;
        while (j > 0) {
            const Figures &a = k_figures[order[j - 1]], &b = k_figures[i];
            int ra = k_families[a.family].menu_rank, rb = k_families[b.family].menu_rank;
            bool after = ra > rb || (ra == rb && (a.year < b.year || (a.year == b.year && strcmp(a.name, b.name) > 0)));
            if (!after)
                break;
            order[j] = order[j - 1];
            j--;
        }
        order[j] = i;
    }
    for (int i = 0; i < BIKE_MODEL_COUNT; i++)
        g_catalogue.menu[i] = g_catalogue.rows[order[i]].name;
    g_catalogue.built = true;
}

const BikeModel *bike_model(int index)
{
    if (index < 0 || index >= BIKE_MODEL_COUNT)
        return nullptr;
    build_catalogue();
    return &g_catalogue.rows[index];
}

int bike_model_index(const BikeModel *m)
{
    build_catalogue();
    if (m < g_catalogue.rows || m >= g_catalogue.rows + BIKE_MODEL_COUNT)
        return -1;
    return (int)(m - g_catalogue.rows);
}

const BikeModel *find_bike_model(const char *name)
{
    if (!name)
        return nullptr;
    build_catalogue();
    for (const BikeModel &m : g_catalogue.rows)
        if (strcmp(m.name, name) == 0)
            return &m;
    return nullptr;
}

static const BikeModel *first_containing(const char *text)
{
    for (const BikeModel &m : g_catalogue.rows)
        if (strstr(m.name, text))
            return &m;
    return nullptr;
}

const BikeModel *select_bike_model(const char *name)
{
    const BikeModel *m = find_bike_model(name);
    if (m)
        return m;
    build_catalogue();
    const char *want = name ? name : "";
    m = strstr(want, "125") ? first_containing("125") : first_containing("250f");
    char line[128];
    snprintf(line, sizeof line, "bike info for '%.20s' not found using '%.20s' instead", want, m->name);
    post_message(line);
    return m;
}

const char *const *bike_menu_names(void)
{
    build_catalogue();
    return g_catalogue.menu;
}

void bike_catalogue_offer(void)
{
    setup_set_bike_list(bike_menu_names(), BIKE_MODEL_COUNT);
}
