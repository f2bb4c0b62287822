// Drawing each bike with its rider from the physics state: the rigid parts at their bodies,
// the rider skinned to the figure's nine bones, the head turned to the direction of travel,
// the number plates and the chrome pass. The models and textures of a slot load as its bike is
// built, through the bike's render hooks.
#pragma once

struct BikeState;
struct Image;
struct Terrain;

enum { BIKE_VIEW_OUTSIDE, BIKE_VIEW_FIRST_PERSON_HIDDEN, BIKE_VIEW_FIRST_PERSON };

// Installs the bike's render hooks; the ground places dabbing feet (null: the foot heights
// stay where the figure puts them).
void bike_draw_init(void);
void bike_draw_shutdown(void);      // removes the hooks and releases every slot's looks
void bike_draw_set_ground(const Terrain *ground);
// The environment texture of the chrome pass and the "reflections" setting.
void bike_draw_set_reflections(unsigned environment_texture, bool on);

// view: BIKE_VIEW_*; alpha: the fade of the whole bike (1 opaque). Leaves lighting, blending
// and texturing on.
void draw_bike(BikeState *bike, int view, float alpha);

// The 128 x 128 RGBA number plate: digits of number (at most 7 characters, others skipped)
// painted from "@numbers.png" in the foreground colour over the background (0..1 each).
bool paint_number_plate(const char *number, const float background[3], const float foreground[3], Image *out);
// Plate colours from a bike texture's info text ("[numberbackground:r,g,b]",
// "[numberforeground:r,g,b]"); white and black when absent.
void plate_colours(const char *info, float background[3], float foreground[3]);
// The plate texture of a slot's bike (0 none), for tests and the HUD.
unsigned bike_plate_texture(int slot);
// A slot's texture set (BIKE_SET_*): the texture and its "_norm" and "_spec" maps (0 none).
// False outside the slots and sets.
enum { BIKE_SET_GRAPHICS, BIKE_SET_WHEELS, BIKE_SET_HELMET, BIKE_SET_GEAR };
bool bike_texture_set(int slot, int set, unsigned *texture, unsigned *normal_map, unsigned *specular_map);
