#include "bike/rider.h"

#include <math.h>

#include "bike/bike.h"
#include "bike/catalogue.h"

static const double k_h = 1.0 / 128;
static const double k_fore_aft_limit = 0.75;

static double clampd(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

void rider_rest_point(const BikeState *bike, double out[3])
{
    const BikeModel &b = *bike_model(bike->model);
    dBodyID frame = bike->body[BODY_FRAME];
    dVector3 p;
    dBodyGetRelPointPos(frame, b.rider_position[0] - b.frame_position[0], b.rider_position[1] - b.frame_position[1],
                        b.rider_position[2] - b.frame_position[2], p);
    out[0] = p[0];
    out[1] = p[1];
    out[2] = p[2];
}

// A one-sided soft contact along +-axis whose depth is |error|: as the sign follows the error
// every tic, it acts as a spring of stiffness k and damping c towards zero error.
static void spring_joint(BikeState *bike, const dReal *q, const dReal *axis, double error, double k, double c)
{
    if (!(k + c > 0) || !isfinite(error))
        return;
    double s = error < 0 ? -1 : 1;
    dContact contact = {};
    contact.surface.mode = dContactSoftERP | dContactSoftCFM;
    contact.surface.mu = 0;
    contact.surface.soft_erp = k_h * k / (k_h * k + c);
    contact.surface.soft_cfm = 1 / (k_h * k + c);
    for (int i = 0; i < 3; i++) {
        contact.geom.pos[i] = q[i];
        contact.geom.normal[i] = s * axis[i];
    }
    contact.geom.depth = fabs(error);
    dJointID j = dJointCreateContact(bike_world(), bike_contact_group(), &contact);
    dJointAttach(j, bike->body[BODY_RIDER], bike->body[BODY_FRAME]);
}

// The rider mount as built: its anchor 50 ft from the bike turns its swing about axis 2 into an
// almost straight up-and-down movement at the rider.
static const double k_mount_anchor_z = -50;
static const double k_mount_axis1[3] = { 0, 1, 1 }, k_mount_axis2[3] = { 1, 0, 0 };

void reseat_rider(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    const BikeModel &b = *bike_model(bike->model);
    dBodyID frame = bike->body[BODY_FRAME], rider = bike->body[BODY_RIDER];
    dJointID j = bike->joint[JOINT_RIDER];
    // The rider takes the rest point of the frame, turned and moving with it, and the mount is
    // laid out in the frame's own coordinates, wherever the bike stands and however it is turned.
    double p[3];
    rider_rest_point(bike, p);
    dVector3 v;
    dBodyGetPointVel(frame, p[0], p[1], p[2], v);
    dBodySetPosition(rider, p[0], p[1], p[2]);
    dBodySetRotation(rider, dBodyGetRotation(frame));
    dBodySetLinearVel(rider, v[0], v[1], v[2]);
    const dReal *w = dBodyGetAngularVel(frame);
    dBodySetAngularVel(rider, w[0], w[1], w[2]);
    dJointAttach(j, rider, frame);
    const float *f = b.frame_position;
    dVector3 anchor, axis1, axis2;
    dBodyGetRelPointPos(frame, -f[0], b.rider_position[1] - f[1], k_mount_anchor_z - f[2], anchor);
    dBodyVectorToWorld(frame, k_mount_axis1[0], k_mount_axis1[1], k_mount_axis1[2], axis1);
    dBodyVectorToWorld(frame, k_mount_axis2[0], k_mount_axis2[1], k_mount_axis2[2], axis2);
    dJointSetHinge2Anchor(j, anchor[0], anchor[1], anchor[2]);
    dJointSetHinge2Axes(j, axis1, axis2);
    dJointSetHinge2Param(j, dParamLoStop, 0);
    dJointSetHinge2Param(j, dParamHiStop, 0);
    dJointSetHinge2Param(j, dParamSuspensionERP, 0);
    dJointSetHinge2Param(j, dParamSuspensionCFM, 0);
}

void update_rider_mount(BikeState *bike)
{
    if (!bike || !bike->built || !bike_world())
        return;
    const BikeModel &b = *bike_model(bike->model);
    const BikeParams &pr = bike->params;
    dBodyID frame = bike->body[BODY_FRAME];
    dVector3 u, w;
    dBodyVectorToWorld(frame, 0, 1, 0, u);
    dBodyVectorToWorld(frame, 0, 0, 1, w);
    double p[3];
    rider_rest_point(bike, p);
    const dReal *q = dBodyGetPosition(bike->body[BODY_RIDER]);
    double d[3] = { p[0] - q[0], p[1] - q[1], p[2] - q[2] };
    double jump = d[0] * u[0] + d[1] * u[1] + d[2] * u[2];
    double fore = d[0] * w[0] + d[1] * w[1] + d[2] * w[2];
    double sit = bike->inputs.sit, lean = bike->inputs.lean;
    double scale = b.rider_mass * 0.21333333333333335;

    double target = clampd((1 + sit) * 0.5 * jump - lean, -k_fore_aft_limit, k_fore_aft_limit);
    double e = fore - target;
    double K, C;
    if (fore < -k_fore_aft_limit || fore > k_fore_aft_limit) {
        K = C = 2500;
    } else {
        K = 100 * fabs(e) + 600 * pr.rider_zspring;
        C = 0;
    }
    if (K * scale > 0)
        spring_joint(bike, q, w, e, K * scale, C * scale);

    double drop = 0.125 - 0.5 * sit + jump;
    if (jump > 0.5 || jump < -0.75) {
        K = C = 2500;
    } else {
        K = 400 * pr.rider_yspring;
        C = 100 * pr.rider_ydamping;
    }
    spring_joint(bike, q, u, drop, K * scale, C * scale);

    dJointID mount = bike->joint[JOINT_RIDER];
    if (mount && dJointGetBody(mount, 0)) {
        dJointSetHinge2Param(mount, dParamSuspensionERP, 0);
        dJointSetHinge2Param(mount, dParamSuspensionCFM, 1 / (scale * (30 * pr.rider_zdamping + 5)));
    }
}
