// Learning and testing riding lines as the bikes ride: every bike not driven by the autopilot
// samples its path four times a second into the buffer of the section it rides, and each
// counting checkpoint it passes offers the section before as a new line; a robot's pass
// instead judges the line it picked. Per slot, the state lives here, not in the bike.
#pragma once
#include <stdint.h>

#include "robots/lines.h"

struct Timing;

enum {
    k_sample_tics = 32,             // a line point every 0.25 s
    k_sample_limit = 4096,          // points in one section's buffer; past it the buffer is spoiled
    k_pending_trials = 4,           // indexed by section mod 4
};

// A bike's samples of one section.
struct SampleBuffer {
    LinePoint *points;
    int count, room;
    bool spoiled;
};

struct LineRecording {
    SampleBuffer buffer[2];         // section s uses buffer s mod 2
    bool trouble;                   // raised for this tic
    bool trouble_asked;             // a scenery touch raises it in the next record step
    int pending[k_pending_trials];  // identities of the lines a robot picked; 0 none
    bool finished;                  // the race is over for the bike: nothing more is recorded
    int contact_tic;                // race tic of the last touch of another bike; -1 none
};

// The robot's path as the autopilot keeps it: what the success test and the finish use.
struct RobotPath {
    LinePoint *points;
    int count, room;
    int target;                     // index of the target point
};

LineRecording *line_recording(int slot);        // null outside 0..159
RobotPath *robot_path(int slot);                // null outside 0..159
// Empties the buffers and the path, forgets the trials and the trouble of one slot or all.
void lines_clear_slot(int slot);
void lines_clear_all_progress(void);
void lines_free_all_progress(void);             // and gives their memory back

// Lap order arithmetic: counting positions before position k, and the position of the
// counting checkpoint number n (-1 without timing).
int  counting_before(const Timing *t, int k);
int  counting_position(const Timing *t, int n);

// Per tic for a bike after its control update and gate passing. passed: the position passed
// this tic (-1 none); expected: the position that was next before it.
void record_lines(int slot, int passed, int expected);
// Books a failure for the line the robot picked for the section holding that position of the
// lap order, and forgets that trial.
void line_failure(int slot, int position);
// Forgets every pending trial of the slot: a bike contact or a slow-down for traffic left the
// lines neither better nor worse known.
void lines_forget_trials(int slot);
// The bike touched another bike in this tic: its trials are forgotten and the tic kept.
void record_bike_contact(int slot);
int  last_bike_contact_tic(int slot);           // -1 never
// The bike's frame, fork, swingarm or rider touched solid scenery.
void record_scenery_touch(int slot);
// The autopilot picked a line for a section: its trial is pending until the section is judged.
void lines_note_pick(int slot, int section, int identity);

// Where along its path the robot is: the index of the last path point behind the frame (seen
// along the heading), and the fraction of the way to the next; -1 for an empty path.
int  path_position(const RobotPath *path, float x, float z, float heading_x, float heading_z, float *fraction);
// The success test at a counting checkpoint: the frame within 4 ft of the line through the two
// path points round its path position, no faster than 1/0.9375 of their larger speed.
bool robot_pass_succeeds(const RobotPath *path, float x, float y, float z, float heading_x, float heading_z,
                         float speed);
// The end of a robot's race: its path's speeds from the path position on fall to a quarter.
void scale_path_to_finish(RobotPath *path, int from);
