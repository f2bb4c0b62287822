// Ruts from the wheels. The producer turns each wheel's ground force into erode points,
// averaged along its path, and packs them into erode records; the consumer queues the points
// of every record, whatever its source (this machine, the server, a demo), and applies a
// bounded number of them per main-loop pass: an outer and an inner dig around each point and
// a deposit of the same material a short way off. Only records carry ruts, so every machine
// and every replay digs the same ground.
#pragma once
#include <stdint.h>

#include "common/vecmath.h"

struct Terrain;

enum {
    k_erode_buffer_points = 64,         // points per record at most
    k_erode_accumulator_samples = 16,   // wheel samples averaged into one point at most
    k_erode_queue_points = 0x20000,
    k_erode_record_version = 1,
    k_erode_record_header = 17,         // bytes of a one-point record
    k_erode_record_max = k_erode_record_header + 4 * (k_erode_buffer_points - 1),     // 269
    k_erode_idle_tics = 64,             // a quiet wheel sends its points after this many tics
    k_erode_defer_tics = 256,           // the longest a point waits near the rider
    k_erode_defer_budget = 8192,        // beyond this many queued points nothing waits
};

// One point of a rut (20 bytes, as queued).
struct ErodePoint {
    float x, z;                         // feet
    float dx, dz;                       // push direction, length 0.125 .. 1 (0 .. 1 once decoded)
    int32_t count;                      // wheel samples averaged, 0 .. 16 (15 once decoded)
};

// The producer's state of one wheel; all zero is empty.
struct ErodeProducer {
    double sum_x, sum_z, sum_dx, sum_dz;
    int samples;                        // 0 .. 16
    float distance;                     // feet travelled since the accumulation began
    float last_x, last_z;               // the last sample
    int points;                         // buffered, 0 .. 64
    ErodePoint buffer[k_erode_buffer_points];
    float min_dx, min_dz, max_dx, max_dz;   // differences between consecutive buffered points
    int32_t last_tic;                   // the last point added (or the accumulation begun)
};

// One wheel in contact after the step: contact point, the wheel body's linear velocity, the
// contact's slip velocity and the contact joint's force on the wheel. May add a sample, a
// point and send a record; a wheel whose push is too weak is idle this tic. push (may be null)
// gets the push (x, z) on the wheel that the sample came from, 0 when none was computed.
// True when a sample was taken.
bool erode_sample(ErodeProducer *p, const Terrain *t, Vec3 point, Vec3 velocity, Vec3 slip, Vec3 force, bool front,
                  int32_t tic, float push[2]);
// A wheel that took no sample this tic: after 64 quiet tics its points go out as a record and
// its state is cleared.
void erode_flush_idle(ErodeProducer *p, const Terrain *t, int32_t tic);
void erode_producer_clear(ErodeProducer *p);

// Packs k (1 .. 64) points for a field of world size w; returns the length (17 + 4 (k - 1)),
// 0 for a bad count. out holds k_erode_record_max bytes.
int  erode_pack(const ErodePoint *points, int k, float world_size, uint8_t *out);
// Decodes a record into at most max points; returns how many the record holds (0 when it is
// malformed: shorter than 17 bytes or not version 1).
int  erode_decode(const uint8_t *record, int length, float world_size, ErodePoint *out, int max);

// Where records go besides the local queue. Every entry may be null.
struct ErodeRecordHooks {
    // With a server connection the record travels in the next outgoing message instead of
    // the local queue, and the ground changes only by what the server relays: true when taken.
    bool (*send_to_server)(const uint8_t *record, int length);
    void (*record_demo)(const uint8_t *record, int length);    // every record produced here
};
void erode_set_record_hooks(const ErodeRecordHooks *hooks);   // null: none
// Tools and tests: sees every record given to erode_send_record, in order (null: none).
void erode_set_record_tap(void (*tap)(const uint8_t *record, int length));

// A record made here: to the demo, and to the server or else the local queue.
void erode_send_record(const Terrain *t, const uint8_t *record, int length);
// Decodes a record into the queue; returns the points queued. Malformed records queue
// nothing, silently; a full queue drops points ("Erode queue full!" once per run).
int  erode_queue_record(const Terrain *t, const uint8_t *record, int length);

// One main-loop pass: applies queued points while the budget lasts (4, plus one per 512
// queued, plus one per 64 beyond 8,192). rider: the first human-driven bike's (x, z), or null;
// points within 10 ft of it wait up to 256 tics. rate: the session's erosion rate, fixed point
// (1024 = 1 %); 0 or less consumes nothing. tic: the race tic.
void erode_apply(Terrain *t, const float *rider, int rate, int32_t tic);
// Empties the queue and clears the deferral deadline (every session start and reset).
void erode_reset(void);

struct ErodeStats {
    long long records_sent, points_sent;    // through erode_send_record
    long long points_queued, points_dropped, points_applied;
};
int  erode_queue_length(void);
const ErodeStats *erode_stats(void);
void erode_reset_for_tests(void);           // queue, deadline, stats and the once-per-run message
