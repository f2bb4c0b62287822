#include "bike/bike.h"

#include <math.h>
#include <string.h>

#include <initializer_list>

#include "bike/catalogue.h"
#include "bike/rider.h"
#include "bike/setup.h"
#include "bike/shape.h"
#include "bike/wheel.h"
#include "common/mem.h"
#include "platform/log.h"
#include "terrain/terrain.h"

static struct {
    dWorldID world;
    dJointGroupID contacts;
    BikeState *slots;               // BIKE_SLOTS, allocated once
    bool arcade_allowed;
    BikeRenderHooks render;
} g_bikes = { nullptr, nullptr, nullptr, true, { nullptr, nullptr } };

void bike_set_render_hooks(const BikeRenderHooks *hooks)
{
    g_bikes.render = hooks ? *hooks : BikeRenderHooks{ nullptr, nullptr };
}

static const double k_pi = 3.14159265358979323846;

bool bike_world_create(void)
{
    if (g_bikes.world)
        return true;
    if (!dInitODE2(0)) {
        log_printf("Can't initialise the physics library\n");
        return false;
    }
    g_bikes.world = dWorldCreate();
    dWorldSetGravity(g_bikes.world, 0, -32, 0);
    dWorldSetERP(g_bikes.world, 0.2);
    dWorldSetCFM(g_bikes.world, 1e-10);
    g_bikes.contacts = dJointGroupCreate(0);
    g_bikes.slots = (BikeState *)xcalloc(BIKE_SLOTS, sizeof(BikeState));
    for (int i = 0; i < BIKE_SLOTS; i++)
        g_bikes.slots[i].slot = i;
    return true;
}

void bike_world_destroy(void)
{
    if (!g_bikes.world)
        return;
    for (int i = 0; i < BIKE_SLOTS; i++)
        destroy_bike(&g_bikes.slots[i]);
    xfree(g_bikes.slots);
    dJointGroupDestroy(g_bikes.contacts);
    dWorldDestroy(g_bikes.world);
    dCloseODE();
    g_bikes.world = nullptr;
    g_bikes.contacts = nullptr;
    g_bikes.slots = nullptr;
}

dWorldID bike_world(void) { return g_bikes.world; }
dJointGroupID bike_contact_group(void) { return g_bikes.contacts; }

void bike_world_step(void)
{
    if (!g_bikes.world)
        return;
    dWorldStep(g_bikes.world, k_tic_seconds);
    dJointGroupEmpty(g_bikes.contacts);
    // The step takes the forces of the bodies it moves and leaves those of disabled bodies
    // standing: a frozen bike would gather them tic after tic and be flung when it wakes.
    for (int i = 0; i < BIKE_SLOTS; i++) {
        BikeState *bike = &g_bikes.slots[i];
        if (!bike->built || !bike_frozen(bike))
            continue;
        for (dBodyID body : bike->body)
            if (!dBodyIsEnabled(body)) {
                dBodySetForce(body, 0, 0, 0);
                dBodySetTorque(body, 0, 0, 0);
            }
    }
}

BikeState *bike_slot(int slot)
{
    if (!g_bikes.slots || slot < 0 || slot >= BIKE_SLOTS)
        return nullptr;
    return &g_bikes.slots[slot];
}

const BikeModel *bike_catalogue_row(const BikeState *bike)
{
    return bike && bike->built ? bike_model(bike->model) : nullptr;
}

const char *bike_class(const BikeState *bike)
{
    const BikeModel *m = bike_catalogue_row(bike);
    return m ? m->class_code : "";
}

// --- mass recipes ---

// Masses combined off-centre keep a rounding residue of their centre; the library wants it at
// the body origin.
static void centre_mass(dMass *m)
{
    dMassTranslate(m, -m->c[0], -m->c[1], -m->c[2]);
}

static void wheel_mass(dMass *m, const BikeWheelRow &w)
{
    dMassSetSphereTotal(m, w.hub_mass, w.hub_radius);
    for (int k = 0; k < 16; k++) {
        dMass s;
        double a = k * k_pi / 8;
        dMassSetSphereTotal(&s, w.ring_mass / 16, w.minor_radius);
        dMassTranslate(&s, 0, w.major_radius * cos(a), w.major_radius * sin(a));
        dMassAdd(m, &s);
    }
    centre_mass(m);
}

static void fork_mass(dMass *m, const BikeModel &b)
{
    dMass leg;
    double length = b.fork_length * 2.0 / 3.0, radius = b.fork_spacing / 8.0;
    dMassSetCylinderTotal(m, b.fork_mass / 2, 3, radius, length);
    dMassTranslate(m, b.fork_spacing / 2, 0, 0);
    dMassSetCylinderTotal(&leg, b.fork_mass / 2, 3, radius, length);
    dMassTranslate(&leg, -b.fork_spacing / 2, 0, 0);
    dMassAdd(m, &leg);
    centre_mass(m);
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, atan((b.lower_fork_point[2] - b.head_point[2]) / (b.lower_fork_point[1] - b.head_point[1])));
    dMassRotate(m, r);
}

static void swingarm_mass(dMass *m, const BikeModel &b)
{
    double s = b.frame_size[0] / 4;
    double dy = b.rear.axle[1] - b.swingarm_pivot[1], dz = b.rear.axle[2] - b.swingarm_pivot[2];
    double dx = b.rear.axle[0] - b.swingarm_pivot[0];
    double length = sqrt(dx * dx + dy * dy + dz * dz);
    dMass arm;
    dMassSetBoxTotal(m, b.swingarm_mass, s, s, length);
    dMassTranslate(m, b.frame_size[0] / 2, 0, 0);
    dMassSetBoxTotal(&arm, b.swingarm_mass, s, s, length);
    dMassTranslate(&arm, -b.frame_size[0] / 2, 0, 0);
    dMassAdd(m, &arm);
    centre_mass(m);
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, -atan(dy / dz));
    dMassRotate(m, r);
}

static void set_frame_and_rider_mass(BikeState *bike, double rider_share)
{
    const BikeModel &b = *bike_model(bike->model);
    dMass m;
    dMassSetBoxTotal(&m, b.frame_mass + (1 - rider_share) * b.rider_mass, b.frame_size[0], b.frame_size[1], b.frame_size[2]);
    dBodySetMass(bike->body[BODY_FRAME], &m);
    dMassSetSphereTotal(&m, rider_share * b.rider_mass, 1.0);
    dBodySetMass(bike->body[BODY_RIDER], &m);
}

// --- building ---

static const float *body_home(const BikeModel &b, int body)
{
    switch (body) {
    case BODY_FRAME: return b.frame_position;
    case BODY_FRONT_WHEEL: return b.front.axle;
    case BODY_REAR_WHEEL: return b.rear.axle;
    case BODY_UPPER_FORK: return b.head_point;
    case BODY_LOWER_FORK: return b.lower_fork_point;
    case BODY_SWINGARM: return b.swingarm_position;
    default: return b.rider_position;
    }
}

static const int k_shape_file[BODY_COUNT] = {
    BIKE_FILE_FRAME_SHAPE, BIKE_FILE_FRONT_WHEEL_SHAPE, BIKE_FILE_REAR_WHEEL_SHAPE,
    BIKE_FILE_UPPER_FORK_SHAPE, BIKE_FILE_LOWER_FORK_SHAPE, BIKE_FILE_SWINGARM_SHAPE,
    BIKE_FILE_RIDER_SHAPE,
};

static void default_params(BikeState *bike)
{
    const BikeModel &b = *bike_model(bike->model);
    BikeParams &p = bike->params;
    p = {};
    p.fork_hs_compression = b.fork_damping[DAMP_HS_COMPRESSION];
    p.fork_ls_compression = 0;
    p.fork_hs_rebound = b.fork_damping[DAMP_HS_REBOUND];
    p.fork_ls_rebound = 0;
    p.fork_spring = (b.fork_spring[0] + b.fork_spring[1]) / 2;
    p.fork_preload = (b.fork_preload[0] + b.fork_preload[1]) / 2;
    p.fork_air_gap = b.fork_air_gap[0];
    p.shock_hs_compression = 2 * b.shock_damping[DAMP_HS_COMPRESSION];
    p.shock_ls_compression = 0;
    p.shock_hs_rebound = 2 * b.shock_damping[DAMP_HS_REBOUND];
    p.shock_ls_rebound = b.shock_damping[DAMP_LS_REBOUND];
    p.shock_spring = (b.shock_spring[0] + b.shock_spring[1]) / 2;
    p.shock_preload = (b.shock_preload[0] + b.shock_preload[1]) / 2;
    p.rider_yspring = p.rider_zspring = 0.5f;
    p.rider_ydamping = p.rider_zdamping = 0.75f;
    p.leveling = 20;
    p.roll_damping = 60;
    p.roll_limit_angle = (float)(k_pi / 4);
    p.roll_limit_factor = 10;
    p.steering_damping = 45;
    p.steering_strength = 75;
    p.max_steering_force = 400;
    p.auto_clutch_rpm = 5000;
    p.front_brake_torque = p.rear_brake_torque = 250;
    p.max_dab_speed = 30;
    p.direct_steering = 1;
    p.slow_damping_speed = 0;
    p.slow_damping_factor = 1;
    p.land_damping_falloff = 0.25f;
    p.land_damping_factor = 2;
    p.full_lock_speed = 10;
    p.restricted_lock_speed = 50;
    p.restricted_lock_angle = 0.08726646f;
    p.arcade = false;
    p.final_drive = b.rear_sprocket / b.front_sprocket;
    p.rider_mass_split = 1.0f / 3;
    bike->flags = BIKE_FLAG_STEERING | BIKE_FLAG_WHEELIE_BRAKE | BIKE_FLAG_FRONT_ANTILOCK | BIKE_FLAG_REALIGN;
}

BikeState *build_bike(int slot, const char *model, const char *number, const char *rider_texture,
                      const char *head_texture, const char *bike_texture, const char *wheel_texture)
{
    BikeState *bike = bike_slot(slot);
    if (!bike)
        return nullptr;
    destroy_bike(bike);
    const BikeModel *row = select_bike_model(model);
    const BikeModel &b = *row;
    bike->model = bike_model_index(row);
    bike->slot = slot;
    dWorldID w = g_bikes.world;
    for (int i = 0; i < BODY_COUNT; i++) {
        bike->body[i] = dBodyCreate(w);
        bike->shape[i] = shape_load(b.files[k_shape_file[i]]);
    }
    dMass m;
    wheel_mass(&m, b.front);
    dBodySetMass(bike->body[BODY_FRONT_WHEEL], &m);
    wheel_mass(&m, b.rear);
    dBodySetMass(bike->body[BODY_REAR_WHEEL], &m);
    fork_mass(&m, b);
    dBodySetMass(bike->body[BODY_UPPER_FORK], &m);
    dBodySetMass(bike->body[BODY_LOWER_FORK], &m);
    swingarm_mass(&m, b);
    dBodySetMass(bike->body[BODY_SWINGARM], &m);
    {
        // Until a setup is applied two thirds of the rider ride on the frame.
        dMassSetBoxTotal(&m, b.frame_mass + 2.0 / 3.0 * b.rider_mass, b.frame_size[0], b.frame_size[1], b.frame_size[2]);
        dBodySetMass(bike->body[BODY_FRAME], &m);
        dMassSetSphereTotal(&m, b.rider_mass / 3.0, 1.0);
        dBodySetMass(bike->body[BODY_RIDER], &m);
    }
    for (int wheel : { BODY_FRONT_WHEEL, BODY_REAR_WHEEL }) {
        dBodySetFiniteRotationMode(bike->body[wheel], 1);
        dBodySetFiniteRotationAxis(bike->body[wheel], 0, 0, 0);
    }
    for (int i = 0; i < BODY_COUNT; i++) {
        const float *p = body_home(b, i);
        dBodySetPosition(bike->body[i], p[0], p[1], p[2]);
    }

    const float *head = b.head_point, *low = b.lower_fork_point;
    double sx = head[0] - low[0], sy = head[1] - low[1], sz = head[2] - low[2];
    dJointID j;
    j = bike->joint[JOINT_FRONT_AXLE] = dJointCreateHinge(w, 0);
    dJointAttach(j, bike->body[BODY_LOWER_FORK], bike->body[BODY_FRONT_WHEEL]);
    dJointSetHingeAnchor(j, b.front.axle[0], b.front.axle[1], b.front.axle[2]);
    dJointSetHingeAxis(j, 1, 0, 0);
    j = bike->joint[JOINT_REAR_AXLE] = dJointCreateHinge(w, 0);
    dJointAttach(j, bike->body[BODY_SWINGARM], bike->body[BODY_REAR_WHEEL]);
    dJointSetHingeAnchor(j, b.rear.axle[0], b.rear.axle[1], b.rear.axle[2]);
    dJointSetHingeAxis(j, 1, 0, 0);
    j = bike->joint[JOINT_STEERING] = dJointCreateHinge(w, 0);
    dJointAttach(j, bike->body[BODY_UPPER_FORK], bike->body[BODY_FRAME]);
    dJointSetHingeAnchor(j, head[0], head[1], head[2]);
    dJointSetHingeAxis(j, sx, sy, sz);
    dJointSetHingeParam(j, dParamLoStop, -k_pi / 4);
    dJointSetHingeParam(j, dParamHiStop, k_pi / 4);
    j = bike->joint[JOINT_FORK] = dJointCreateSlider(w, 0);
    dJointAttach(j, bike->body[BODY_UPPER_FORK], bike->body[BODY_LOWER_FORK]);
    dJointSetSliderAxis(j, sx, sy, sz);
    dJointSetSliderParam(j, dParamBounce, 0);
    dJointSetSliderParam(j, dParamLoStop, -b.fork_travel);
    dJointSetSliderParam(j, dParamHiStop, 0);
    j = bike->joint[JOINT_SWINGARM] = dJointCreateHinge(w, 0);
    dJointAttach(j, bike->body[BODY_SWINGARM], bike->body[BODY_FRAME]);
    dJointSetHingeAnchor(j, b.swingarm_pivot[0], b.swingarm_pivot[1], b.swingarm_pivot[2]);
    dJointSetHingeAxis(j, 1, 0, 0);
    dJointSetHingeParam(j, dParamBounce, 0);
    dJointSetHingeParam(j, dParamLoStop, -b.linkage[LINKAGE_TRAVEL_ANGLE]);
    dJointSetHingeParam(j, dParamHiStop, 0);
    bike->joint[JOINT_RIDER] = dJointCreateHinge2(w, 0);
    for (int i = 0; i < JOINT_COUNT; i++)
        dJointSetFeedback(bike->joint[i], &bike->feedback[i]);

    for (int i = 0; i < 2; i++) {
        const BikeWheelRow &row_wheel = i == 0 ? b.front : b.rear;
        WheelContact &c = bike->wheel[i];
        c = {};
        c.wheel = bike->body[i == 0 ? BODY_FRONT_WHEEL : BODY_REAR_WHEEL];
        c.axle = v3(1, 0, 0);
        c.major_radius = row_wheel.major_radius;
        c.minor_radius = row_wheel.minor_radius;
    }
    bike->built = true;
    default_params(bike);
    reset_bike(bike);
    if (g_bikes.render.load) {
        const BikeLooks looks = { number, rider_texture, head_texture, bike_texture, wheel_texture };
        g_bikes.render.load(bike, &looks);
    }
    return bike;
}

void destroy_bike(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    if (g_bikes.render.release)
        g_bikes.render.release(bike);
    for (dJointID &j : bike->joint) {
        dJointDestroy(j);
        j = nullptr;
    }
    for (dBodyID &b : bike->body) {
        dBodyDestroy(b);
        b = nullptr;
    }
    int slot = bike->slot;
    *bike = {};
    bike->slot = slot;
}

// --- placement ---

void reset_bike(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    const BikeModel &b = *bike_model(bike->model);
    dMatrix3 identity;
    dRSetIdentity(identity);
    for (int i = 0; i < BODY_COUNT; i++) {
        dBodyID body = bike->body[i];
        const float *p = body_home(b, i);
        dBodySetPosition(body, p[0], p[1], p[2]);
        dBodySetRotation(body, identity);
        dBodySetLinearVel(body, 0, 0, 0);
        dBodySetAngularVel(body, 0, 0, 0);
        dBodySetForce(body, 0, 0, 0);
        dBodySetTorque(body, 0, 0, 0);
    }
    bike->engine = {};
    bike->inputs = {};
    bike->suspension = {};
    bike->fall_timer = 0;
    bike->bump_timer = 0;
    bike->foot_down = 0;
    bike->land_multiplier = 1;
    bike->steer_indicator = 0;
    bike->sticky_dab = false;
    bike->sit_channel = 0;
    for (BikeFoot &f : bike->feet)
        f = {};
    bike->takeoff_tic = bike->landing_tic = -1;
    bike->contact_stamp = bike->collide_stamp = -1;
    for (Vec3 &v : bike->rider_velocity)
        v = v3(0, 0, 0);
    for (WheelContact &c : bike->wheel) {
        c.point = c.velocity = v3(0, 0, 0);
        c.normal = v3(0, 1, 0);
        c.depth = 0;
        c.feedback = {};
        erode_producer_clear(&c.erode);
    }
    // No brake, fork or shock force is left over from before: the control update sets them anew.
    dJointSetHingeParam(bike->joint[JOINT_FRONT_AXLE], dParamFMax, 0);
    dJointSetHingeParam(bike->joint[JOINT_REAR_AXLE], dParamFMax, 0);
    dJointSetSliderParam(bike->joint[JOINT_FORK], dParamFMax, 0);
    dJointSetHingeParam(bike->joint[JOINT_SWINGARM], dParamFMax, 0);
    reseat_rider(bike);
    bike_set_activity(bike, 1);
}

static void rotate(const dMatrix3 r, const dReal *v, dReal out[3])
{
    dMultiply0_331(out, r, v);
}

void turn_bike(BikeState *bike, float ax, float ay, float az, float angle)
{
    if (!bike || !bike->built || !isfinite(ax) || !isfinite(ay) || !isfinite(az) || !isfinite(angle))
        return;
    if (ax * ax + ay * ay + az * az <= 0)
        return;
    dMatrix3 r;
    dRFromAxisAndAngle(r, ax, ay, az, angle);
    for (dBodyID body : bike->body) {
        dReal out[3];
        rotate(r, dBodyGetPosition(body), out);
        dBodySetPosition(body, out[0], out[1], out[2]);
        rotate(r, dBodyGetLinearVel(body), out);
        dBodySetLinearVel(body, out[0], out[1], out[2]);
        rotate(r, dBodyGetAngularVel(body), out);
        dBodySetAngularVel(body, out[0], out[1], out[2]);
        dMatrix3 turned;
        dMultiply0_333(turned, r, dBodyGetRotation(body));
        dBodySetRotation(body, turned);
    }
}

void move_bike(BikeState *bike, float dx, float dy, float dz)
{
    if (!bike || !bike->built || !isfinite(dx) || !isfinite(dy) || !isfinite(dz))
        return;
    for (dBodyID body : bike->body) {
        const dReal *p = dBodyGetPosition(body);
        dBodySetPosition(body, p[0] + dx, p[1] + dy, p[2] + dz);
    }
}

// Every part's shape against the solid scenery near the bike. A rider body that hits it faster
// than 20 ft/s, or touches it upside down faster than 5 ft/s, falls (unless already down).
static bool touches_solids(BikeState *bike)
{
    bike->scenery_mask = 0;
    bike->touched_solid_count = 0;
    bike->scenery_fall = false;
    for (int k = 0; k < bike->near_solid_count; k++) {
        const WorldSolid *solid = bike->near_solids[k];
        bool hit = false;
        for (int body = 0; body < BODY_COUNT; body++) {
            if (!shape_contact_placed(shape_get(bike->shape[body]), bike->body[body], solid->shape, &solid->place,
                                      SHAPE_JOINTS))
                continue;
            hit = true;
            bike->scenery_mask |= 1 << body;
            if (body != BODY_RIDER || bike->fall_timer > 0)
                continue;
            const dReal *v = dBodyGetLinearVel(bike->body[BODY_RIDER]);
            double speed2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
            dVector3 up;
            dBodyVectorToWorld(bike->body[BODY_RIDER], 0, 1, 0, up);
            if (speed2 > 400 || (up[1] < 0 && speed2 > 25))
                bike->scenery_fall = true;
        }
        if (hit && bike->touched_solid_count < BIKE_TOUCHED_SOLIDS)
            bike->touched_solids[bike->touched_solid_count++] = solid->object;
    }
    return bike->scenery_mask != 0;
}

bool bike_touches_world(BikeState *bike, const Terrain *t)
{
    if (!bike || !bike->built || !t || !t->heights)
        return false;
    float grip = 1;
    if (bike->params.arcade) {
        // The frame's roll: how far its lateral axis tips out of the horizontal.
        dVector3 side;
        dBodyVectorToWorld(bike->body[BODY_FRAME], 1, 0, 0, side);
        grip = arcade_grip_scale((float)asin(fmax(-1.0, fmin(1.0, side[1]))));
    }
    bool touched = create_wheel_contact(t, &bike->wheel[0], grip);
    touched |= create_wheel_contact(t, &bike->wheel[1], grip);
    // The rest of the bike and its rider meet the ground too: a bike on its side rests on its
    // bars, frame and rider instead of rolling over them into the ground.
    for (int body : { BODY_FRAME, BODY_UPPER_FORK, BODY_LOWER_FORK, BODY_SWINGARM, BODY_RIDER })
        touched |= shape_ground_contact(shape_get(bike->shape[body]), bike->body[body], t);
    return touches_solids(bike) || touched;
}

int place_bike(BikeState *bike, const Terrain *t, float x, float z, float heading)
{
    if (!bike || !bike->built || !t || !t->heights)
        return 0;
    reset_bike(bike);
    if (!isfinite(x) || !isfinite(z) || !isfinite(heading))
        return 0;
    turn_bike(bike, 0, 1, 0, heading);
    move_bike(bike, x, terrain_height(t, x, z), z);
    int rises = 0;
    // A hundred feet of rising: nothing on a track is taller.
    while (rises < 400 && bike_touches_world(bike, t)) {
        move_bike(bike, 0, 0.25f, 0);
        dJointGroupEmpty(g_bikes.contacts);
        rises++;
    }
    dJointGroupEmpty(g_bikes.contacts);
    for (WheelContact &c : bike->wheel)
        c.depth = 0;
    return rises;
}

int settle_bike(BikeState *bike, const Terrain *t)
{
    if (!bike || !bike->built || !t || !t->heights)
        return 0;
    move_bike(bike, 0, 0.125f, 0);
    int rises = 0;
    while (rises < 400 && bike_touches_world(bike, t)) {
        move_bike(bike, 0, 0.25f, 0);
        dJointGroupEmpty(g_bikes.contacts);
        rises++;
    }
    dJointGroupEmpty(g_bikes.contacts);
    move_bike(bike, 0, -0.125f, 0);
    for (WheelContact &c : bike->wheel)
        c.depth = 0;
    return rises;
}

void bike_contacts_empty(void)
{
    if (g_bikes.contacts)
        dJointGroupEmpty(g_bikes.contacts);
}

// --- bike against bike ---

static bool is_wheel(int body) { return body == BODY_FRONT_WHEEL || body == BODY_REAR_WHEEL; }

static bool shape_against_part(BikeState *a, int pa, BikeState *b, int pb, ShapeResponse response)
{
    const Shape *sa = shape_get(a->shape[pa]);
    if (is_wheel(pb))
        return tyre_shape_contact(sa, a->body[pa], &b->wheel[pb == BODY_FRONT_WHEEL ? 0 : 1], response);
    return shape_contact(sa, a->body[pa], shape_get(b->shape[pb]), b->body[pb], response);
}

bool collide_bikes(BikeState *a, BikeState *b, bool online, int tic, int *mask_a, int *mask_b)
{
    int ma = 0, mb = 0;
    if (a && b && a != b && a->built && b->built) {
        ShapeResponse response = a->collide_stamp == tic || b->collide_stamp == tic ? SHAPE_FORCE : SHAPE_JOINTS;
        const int behind = 1 << BODY_REAR_WHEEL | 1 << BODY_FRAME | 1 << BODY_SWINGARM | 1 << BODY_RIDER;
        const int ahead = 1 << BODY_FRONT_WHEEL | 1 << BODY_UPPER_FORK | 1 << BODY_LOWER_FORK;
        for (int pa = 0; pa < BODY_COUNT; pa++)
            for (int pb = 0; pb < BODY_COUNT; pb++) {
                ShapeResponse r = online && (behind >> pa & 1) && (ahead >> pb & 1) ? SHAPE_TEST : response;
                if (shape_against_part(a, pa, b, pb, r)) {
                    ma |= 1 << pa;
                    mb |= 1 << pb;
                }
            }
        if (ma) {
            a->collide_stamp = tic;
            b->collide_stamp = tic;
        }
    }
    if (mask_a)
        *mask_a = ma;
    if (mask_b)
        *mask_b = mb;
    return ma != 0;
}

float bike_reach(const BikeState *bike)
{
    if (!bike || !bike->built)
        return 0;
    const dReal *f = dBodyGetPosition(bike->body[BODY_FRAME]);
    double reach = 0;
    for (int i = 0; i < BODY_COUNT; i++) {
        const dReal *p = dBodyGetPosition(bike->body[i]);
        double d = sqrt((p[0] - f[0]) * (p[0] - f[0]) + (p[1] - f[1]) * (p[1] - f[1]) + (p[2] - f[2]) * (p[2] - f[2]));
        const Shape *s = shape_get(bike->shape[i]);
        double part = s ? s->bound : 0;
        if (is_wheel(i)) {
            const WheelContact &w = bike->wheel[i == BODY_FRONT_WHEEL ? 0 : 1];
            part = fmax(part, (double)w.major_radius + w.minor_radius);
        }
        reach = fmax(reach, d + part);
    }
    return (float)reach;
}

void correct_internal_forces(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    for (dJointID j : bike->joint)
        if (!dJointGetBody(j, 0) || !dJointGetBody(j, 1))
            return;
    const dReal *c = dBodyGetPosition(bike->body[BODY_FRAME]);
    double force[3] = { 0, 0, 0 }, torque[3] = { 0, 0, 0 };
    for (int i = 0; i < JOINT_COUNT; i++) {
        const dJointFeedback &fb = bike->feedback[i];
        const dReal *p1 = dBodyGetPosition(dJointGetBody(bike->joint[i], 0));
        const dReal *p2 = dBodyGetPosition(dJointGetBody(bike->joint[i], 1));
        double r1[3] = { p1[0] - c[0], p1[1] - c[1], p1[2] - c[2] };
        double r2[3] = { p2[0] - c[0], p2[1] - c[1], p2[2] - c[2] };
        for (int k = 0; k < 3; k++) {
            int u = (k + 1) % 3, v = (k + 2) % 3;
            force[k] += fb.f1[k] + fb.f2[k];
            torque[k] += fb.t1[k] + fb.t2[k] + r1[u] * fb.f1[v] - r1[v] * fb.f1[u] + r2[u] * fb.f2[v] - r2[v] * fb.f2[u];
        }
    }
    if (!isfinite(force[0] + force[1] + force[2] + torque[0] + torque[1] + torque[2]))
        return;
    dBodyAddForce(bike->body[BODY_FRAME], -force[0], -force[1], -force[2]);
    dBodyAddTorque(bike->body[BODY_FRAME], -torque[0], -torque[1], -torque[2]);
}

// --- activity ---

void bike_set_activity(BikeState *bike, float level)
{
    if (!bike || !bike->built || isnan(level))
        return;
    bike->activity = fminf(fmaxf(level, 0), 1);
    bool frozen = bike->activity <= 0.25f;
    for (dBodyID body : bike->body) {
        if (frozen) {
            dBodyDisable(body);
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
        } else {
            dBodyEnable(body);
        }
    }
}

bool bike_frozen(const BikeState *bike)
{
    return bike && bike->built && bike->activity <= 0.25f;
}

void bike_wake(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    if (bike->activity == 0)
        bike_set_activity(bike, 1);
    else if (bike->activity <= 0.25f)
        bike_set_activity(bike, 0.25f);
}

void bike_fade(BikeState *bike)
{
    if (bike && bike->built && bike->activity > 0)
        bike_set_activity(bike, bike->activity - (float)k_tic_seconds);
}

// --- setup ---

void bike_allow_arcade(bool allowed) { g_bikes.arcade_allowed = allowed; }

static float clampf(double v, double lo, double hi)
{
    if (!(v >= lo))
        return (float)lo;
    return (float)(v > hi ? hi : v);
}

static bool yes(const ChoiceItem &c, const char *label) { return strcmp(choice_label(&c), label) == 0; }

void apply_setup_to_bike(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    const Setup &s = g_setup;
    const BikeModel &b = *bike_model(bike->model);
    BikeParams &p = bike->params;
    const double deg = k_pi / 180;
    p.leveling = clampf(s.leveling.value, 0, 100);
    p.roll_damping = clampf(s.roll_damping.value, 0, 100);
    p.steering_damping = clampf(s.steering_damping.value, 0, 100);
    p.steering_strength = clampf(s.steering_strength.value, 0, 100);
    p.roll_limit_angle = clampf(s.roll_limit_angle.value * deg, 0, k_pi);
    p.roll_limit_factor = clampf(s.roll_limit_factor.value, 0, 64);
    p.max_steering_force = clampf(s.max_steering_force.value, 0, 1000);
    p.direct_steering = clampf(s.direct_steering.value, 0, 1);
    p.slow_damping_speed = clampf(s.slow_damping_speed.value, 0, 100);
    p.slow_damping_factor = clampf(s.slow_damping_factor.value, 1, 10);
    p.land_damping_falloff = clampf(s.land_damping_falloff.value, 0, 0.5);
    p.land_damping_factor = clampf(s.land_damping_factor.value, 1, 3);
    p.full_lock_speed = clampf(s.full_lock_speed.value, 1, 100);
    p.restricted_lock_speed = clampf(s.restricted_lock_speed.value, 1, 100);
    p.restricted_lock_angle = clampf(s.restricted_lock.value * deg, 0, k_pi / 4);
    p.arcade = yes(s.arcade, "Yes") && g_bikes.arcade_allowed;

    uint8_t flags = bike->flags & BIKE_FLAG_STEERING;
    if (yes(s.stop_wheelies, "Yes"))
        flags |= BIKE_FLAG_WHEELIE_THROTTLE | BIKE_FLAG_WHEELIE_BRAKE;
    else if (yes(s.stop_wheelies, "Front Only"))
        flags |= BIKE_FLAG_WHEELIE_BRAKE;
    if (yes(s.front_brake, "Antilock"))
        flags |= BIKE_FLAG_FRONT_ANTILOCK;
    if (yes(s.rear_brake, "Antilock"))
        flags |= BIKE_FLAG_REAR_ANTILOCK;
    if (yes(s.auto_shift, "Yes"))
        flags |= BIKE_FLAG_AUTO_SHIFT;
    if (yes(s.auto_dab, "Yes"))
        flags |= BIKE_FLAG_AUTO_DAB;
    if (yes(s.auto_align, "Yes"))
        flags |= BIKE_FLAG_REALIGN;
    bike->flags = flags;

    p.auto_clutch_rpm = clampf(s.auto_clutch_rpms.value, 0, 5000);
    p.front_brake_torque = clampf(s.brake_torque.value, 0, 500);
    p.rear_brake_torque = clampf(s.rear_brake_torque.value, 0, 500);
    p.max_dab_speed = clampf(s.max_dab_speed.value * 1.4666667, 7, 100);
    double rear = fmax(3, floor(b.rear_sprocket + clampf(s.rear_sprocket_adjustment.value, -2, 2)));
    double front = fmax(3, floor(b.front_sprocket + clampf(s.front_sprocket_adjustment.value, -2, 2)));
    p.final_drive = (float)(rear / front);

    auto high = [](double base, double setting) { return (float)(base * clampf(exp2(setting * 0.04 - 2), 0.25, 4)); };
    auto low = [](double base, double setting) { return (float)(base * clampf(setting * 0.02 - 1, -1, 1)); };
    auto range = [](const float r[2], double setting) { return (float)(r[0] + clampf(setting / 100, 0, 1) * (r[1] - r[0])); };
    p.fork_hs_compression = high(b.fork_damping[DAMP_HS_COMPRESSION], s.fork_compression_adjustment.value);
    p.fork_ls_compression = low(b.fork_damping[DAMP_LS_COMPRESSION], s.fork_slow_compression_adjustment.value);
    p.fork_hs_rebound = high(b.fork_damping[DAMP_HS_REBOUND], s.fork_rebound_adjustment.value);
    p.fork_ls_rebound = low(b.fork_damping[DAMP_LS_REBOUND], s.fork_slow_rebound_adjustment.value);
    p.fork_spring = range(b.fork_spring, s.fork_spring_rate_adjustment.value);
    p.fork_preload = range(b.fork_preload, s.fork_preload_adjustment.value);
    p.fork_air_gap = range(b.fork_air_gap, s.fork_oil_level_adjustment.value);
    p.shock_hs_compression = high(b.shock_damping[DAMP_HS_COMPRESSION], s.shock_compression_adjustment.value);
    p.shock_ls_compression = low(b.shock_damping[DAMP_LS_COMPRESSION], s.shock_slow_compression_adjustment.value);
    p.shock_hs_rebound = high(b.shock_damping[DAMP_HS_REBOUND], s.shock_rebound_adjustment.value);
    p.shock_ls_rebound = low(b.shock_damping[DAMP_LS_REBOUND], s.shock_slow_rebound_adjustment.value);
    p.shock_spring = range(b.shock_spring, s.shock_spring_rate_adjustment.value);
    p.shock_preload = range(b.shock_preload, s.shock_preload_adjustment.value);
    p.rider_yspring = clampf(s.rider_yspring.value / 100, 0, 1);
    p.rider_ydamping = clampf(s.rider_ydamping.value / 100, 0, 1);
    p.rider_zspring = clampf(s.rider_zspring.value / 100, 0, 1);
    p.rider_zdamping = clampf(s.rider_zdamping.value / 100, 0, 1);
    p.rider_mass_split = clampf(s.rider_mass_distribution.value, 0.33, 0.5);
    set_frame_and_rider_mass(bike, p.rider_mass_split);
}

float bike_engine_rpm(const BikeState *bike)
{
    return bike ? (float)(bike->engine.speed * 9.549296585513721) : 0;
}

int bike_gear(const BikeState *bike) { return bike ? bike->engine.gear : 0; }
float bike_throttle(const BikeState *bike) { return bike ? bike->inputs.throttle : 0; }
float bike_clutch_engagement(const BikeState *bike) { return bike ? bike->engine.clutch : 0; }
float bike_front_brake(const BikeState *bike) { return bike ? bike->inputs.front_brake : 0; }
float bike_rear_brake(const BikeState *bike) { return bike ? bike->inputs.rear_brake : 0; }
BikeSuspension bike_suspension(const BikeState *bike) { return bike ? bike->suspension : BikeSuspension{}; }

bool bike_is_finite(const BikeState *bike)
{
    if (!bike || !bike->built)
        return false;
    if (!isfinite(bike->engine.speed) || !isfinite(bike->engine.angle))
        return false;
    for (dBodyID body : bike->body) {
        const dReal *v[4] = { dBodyGetPosition(body), dBodyGetLinearVel(body), dBodyGetAngularVel(body), dBodyGetQuaternion(body) };
        for (int k = 0; k < 4; k++)
            for (int i = 0; i < (k == 3 ? 4 : 3); i++)
                if (!isfinite(v[k][i]))
                    return false;
    }
    return true;
}
