// One frame of the world from a camera: scenery upkeep, the ground textures, projection, sky,
// fog, light, terrain, the bikes of every slot, statues, billboards and roost, ghosts, robot
// lines, world-space labels and lens flares, in that order. Also the per-frame camera values
// the scenery, particles and terrain read.
#pragma once
#include "common/vecmath.h"
#include "render/cameras.h"

// What the driver's settings say about drawing.
struct FrameOptions {
    bool flat_shading;              // "--fugly": colour cleared, no sky
    int verbosity;                  // 2 draws the robots' lines
    bool hide_rider;                // "Hide 1st Person Rider"
    bool reflections;               // "reflections"
    bool spectating;                // a server race watched without a slot of our own
};
void  frame_configure(const FrameOptions *options);
const FrameOptions *frame_options(void);

// Calls the layers above make into the frame. Null entries do nothing.
struct FrameHooks {
    // After each stage: "rendertex", "drawsky", "drawterrain", "drawbikes", "drawstatues",
    // "drawbillboards", "drawghosts", "drawflares" (the stutter checks, the benchmark's clock).
    void (*stage_done)(const char *label);
    void (*ghosts_draw)(const float eye[3]);                // faded replays of the time trial
    void (*robot_lines_draw)(const float eye[3]);           // at verbosity 2, line strips
};
void  frame_set_hooks(const FrameHooks *hooks);             // null: none

// The window's size in pixels and the configured field of view.
void  set_projection(int width, int height, float fov_degrees);
void  frame_size(int *width, int *height);

// The values every drawing step of this frame reads.
struct FrameView {
    Camera camera;
    float half_width, half_height;  // of the view at distance 1
    int width, height;
};
const FrameView *frame_view(void);
// The view's half extents at distance 1 for a vertical field of view and an aspect (w / h).
void  view_half_extents(float fov_degrees, float aspect, float *half_width, float *half_height);

// The world from a camera. first_person: the watched bike is seen from its rider's eyes.
void  frame_draw(const Camera *camera, bool first_person);

// A label over a world position for this frame only (a rider's name, a marker); drawn back to
// front in the next frame_draw. Text is cut to 63 characters; at most 256 a frame.
void  world_label(Vec3 position, const char *text);
// The labels queued, nearest last, as frame_draw will draw them; returns the count.
int   world_labels_sorted(Vec3 eye, int *order, int room);

// Shutdown: the renderer's tables (cameras, labels).
void  renderer_tables_free(void);
