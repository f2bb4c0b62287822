// Until the frame composition owns the cameras, the bikes set their own: a perspective of the
// configured field of view and a camera on the viewed bike.
#include "driver/bike_view.h"

#include <GL/gl.h>
#include <math.h>
#include <string.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "driver/config.h"
#include "driver/loop.h"
#include "race/session.h"
#include "race/world.h"
#include "render/bike_draw.h"
#include "render/lighting.h"
#include "render/model_draw.h"

static Vec3 body_point(dBodyID body, float x, float y, float z)
{
    dVector3 w;
    dBodyGetRelPointPos(body, x, y, z, w);
    return v3((float)w[0], (float)w[1], (float)w[2]);
}

static Vec3 body_axis(dBodyID body, float x, float y, float z)
{
    dVector3 w;
    dBodyVectorToWorld(body, x, y, z, w);
    return v3((float)w[0], (float)w[1], (float)w[2]);
}

// A view matrix looking from eye along forward with up roughly up.
static void look(Vec3 eye, Vec3 forward, Vec3 up)
{
    Vec3 f = v3_normalize(forward), s = v3_normalize(v3_cross(f, up)), u = v3_cross(s, f);
    const float m[16] = { s.x, u.x, -f.x, 0, s.y, u.y, -f.y, 0, s.z, u.z, -f.z, 0, 0, 0, 0, 1 };
    glLoadMatrixf(m);
    glTranslatef(-eye.x, -eye.y, -eye.z);
}

void draw_bikes_in_view(int view, int width, int height)
{
    if (view != VIEW_RIDER && view != VIEW_CHASE && view != VIEW_CAMERA)
        return;
    const RiderSlot *viewed = rider_slot(viewed_slot());
    if (!viewed || !viewed->bike || !viewed->bike->built || height <= 0)
        return;
    BikeState *own = viewed->bike;
    bool first_person = view == VIEW_RIDER;
    dBodyID frame = own->body[BODY_FRAME];
    Vec3 forward = body_axis(frame, 0, 0, -1), up = v3(0, 1, 0), eye;
    if (first_person) {
        const float *p = bike_catalogue_row(own)->rider_pose;
        // From the goggles, looking down a little over the bars.
        eye = body_point(own->body[BODY_RIDER], p[0], p[1] - 0.1f, p[2] - 0.35f);
        up = body_axis(frame, 0, 1, 0);
        forward = v3_madd(forward, up, -0.36f);
    } else {
        Vec3 flat = v3_normalize(v3(forward.x, 0, forward.z));
        eye = v3_add(body_point(frame, 0, 0, 0), v3(-flat.x * 9, 3.5f, -flat.z * 9));
        forward = v3_sub(body_point(frame, 0, 0.5f, 0), eye);
    }

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    float fov = (float)g_settings.fov.value, near_plane = lighting()->near_plane, far_plane = lighting()->far_plane;
    // The field of view is across the screen.
    float right = near_plane * tanf(fov * (float)M_PI / 360), top = right * height / width;
    glFrustum(-right, right, -top, top, near_plane, far_plane);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    look(eye, forward, up);
    lighting_light0();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_NORMALIZE);
    lighting_fog_on();
    model_set_camera(eye.x, eye.y, eye.z);
    bike_draw_set_ground(session_terrain());
    bool hide = strcmp(choice_label(&g_settings.hide_rider), "Yes") == 0;
    for (int i = 0; i < RIDER_SLOTS; i++) {
        const RiderSlot *s = rider_slot(i);
        if (!s || !s->bike || !s->bike->built)
            continue;
        int type = BIKE_VIEW_OUTSIDE;
        if (s == viewed && first_person)
            type = hide ? BIKE_VIEW_FIRST_PERSON_HIDDEN : BIKE_VIEW_FIRST_PERSON;
        draw_bike(s->bike, type, 1);
    }
    lighting_fog_off();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
