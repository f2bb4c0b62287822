// The compiled-in bike catalogue: one row per production model, in feet, slugs, seconds,
// radians, lbf and lbf ft. A bike at rest faces -z (the front axle has the smaller z).
#pragma once

enum {
    BIKE_MODEL_COUNT = 80,
    BIKE_TORQUE_POINTS = 50,        // every 500 rpm from 0 to 24,500
    BIKE_FILE_COUNT = 23,
    BIKE_POSE_VALUES = 58,
};

// The order of the file names in a row.
enum BikeFile {
    BIKE_FILE_FRAME_MODEL, BIKE_FILE_FRAME_SHAPE, BIKE_FILE_BIKE_TEXTURE,
    BIKE_FILE_UPPER_FORK_MODEL, BIKE_FILE_UPPER_FORK_SHAPE,
    BIKE_FILE_LOWER_FORK_MODEL, BIKE_FILE_LOWER_FORK_SHAPE,
    BIKE_FILE_SWINGARM_MODEL, BIKE_FILE_SWINGARM_SHAPE,
    BIKE_FILE_FRONT_WHEEL_MODEL, BIKE_FILE_FRONT_WHEEL_SHAPE,
    BIKE_FILE_REAR_WHEEL_MODEL, BIKE_FILE_REAR_WHEEL_SHAPE,
    BIKE_FILE_WHEEL_TEXTURE,
    BIKE_FILE_HEAD_MODEL, BIKE_FILE_HEAD_TEXTURE, BIKE_FILE_BODY_MODEL,
    BIKE_FILE_FIRST_PERSON_BODY_MODEL, BIKE_FILE_RIDER_SHAPE, BIKE_FILE_BODY_TEXTURE,
    BIKE_FILE_SIDE_PLATES_MODEL, BIKE_FILE_FRONT_PLATE_MODEL, BIKE_FILE_RIDER_PLATE_MODEL,
};

// Axle x, y, z; torus major radius R and minor radius r; tyre ring mass; hub radius; hub mass.
struct BikeWheelRow {
    float axle[3];
    float major_radius, minor_radius;
    float ring_mass;
    float hub_radius, hub_mass;
};

// Rear linkage table: the shock's compression (ft) as two cubic pieces over the swingarm's
// travel s (0 extended, 1 fully compressed), joined at s = b: the shock travel at b and at full
// travel, the swingarm travel angle (rad), b (0 < b < 1), and the slopes dL/ds at 0, b and 1.
enum { LINKAGE_SHOCK_SPLIT, LINKAGE_SHOCK_FULL, LINKAGE_TRAVEL_ANGLE, LINKAGE_SPLIT, LINKAGE_SLOPE_START,
       LINKAGE_SLOPE_SPLIT, LINKAGE_SLOPE_FULL };

// Damping bases: high-speed compression, low-speed compression, high-speed rebound,
// low-speed rebound.
enum { DAMP_HS_COMPRESSION, DAMP_LS_COMPRESSION, DAMP_HS_REBOUND, DAMP_LS_REBOUND };

struct BikeModel {
    char name[16];                  // unique; the catalogue's key
    char class_code[16];            // "50", "125", "250", "250f" or "450f"
    BikeWheelRow front, rear;
    float frame_position[3];
    float frame_mass;               // without the rider
    float frame_size[3];
    float head_point[3];            // upper fork body and steering-head hinge
    float swingarm_position[3];
    float swingarm_pivot[3];
    float lower_fork_point[3];      // lower end of the steering axis
    float fork_spacing;
    float fork_length;              // each leg is 2/3 of this long
    float fork_mass;                // both legs
    float fork_spring[2];           // lbf/ft at settings 0 and 100, both legs
    float fork_preload[2];          // ft
    float fork_air_gap[2];          // ft, oil level 0 and 100
    float fork_damping[4];
    float fork_travel;
    float swingarm_mass;
    float shock_spring[2];
    float shock_preload[2];
    float shock_damping[4];
    float linkage[7];
    float primary_ratio;
    float front_sprocket, rear_sprocket;    // teeth
    float gears[6];                 // -1 in the sixth for five-speed boxes
    float engine_inertia;           // slug ft^2
    float driveline_stiffness;      // lbf ft/rad
    float driveline_damping;
    float closed_torque[BIKE_TORQUE_POINTS];
    float full_torque[BIKE_TORQUE_POINTS];
    float shift_points[3];          // down-shift, up-shift, rev limit (rpm)
    float zero;
    float brake_values[2];          // 1/12 each
    float rider_position[3];
    float rider_values[2];          // -2/3 and 1/2
    float rider_mass;
    char files[BIKE_FILE_COUNT][64];
    // Rider pose points: head p[0..2], shoulders p[3..8] and hips p[9..14] on the rider body;
    // grips p[15..20] on the upper fork; pegs p[21..26] on the frame (-x side first); upper
    // arm, forearm, thigh and shin lengths p[27..30]; the rest centres of the rider model's
    // nine bones p[31..57] (-x, +x forearm, upper arm, shin, thigh, then the torso).
    float rider_pose[BIKE_POSE_VALUES];
};

const BikeModel *bike_model(int index);                 // null outside 0..79
int  bike_model_index(const BikeModel *m);              // -1 when not a catalogue row
// The row named exactly name; null when none.
const BikeModel *find_bike_model(const char *name);
// As find_bike_model, but an unknown name falls back to the first "125" row (when the name
// holds "125") or the first "250f" row, after a console line. Never null.
const BikeModel *select_bike_model(const char *name);
// The model names in menu order (newest large four-strokes first, the 50s last).
const char *const *bike_menu_names(void);
// Gives the "Bike" setup choice the catalogue's names.
void bike_catalogue_offer(void);
