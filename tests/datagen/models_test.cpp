// The generated bikes and riders as the game loads them: every catalogue row's files open,
// the texture choices exist, the tyres fit the physics and the rider's skin follows its bones.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "bike/catalogue.h"
#include "bike/figure.h"
#include "render/image/image.h"
#include "render/model/model.h"
#include "vfs/vfs.h"

namespace {

struct GameData : ::testing::Test {
    void SetUp() override
    {
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        setenv("XDG_DATA_HOME", (::testing::TempDir() + "sk_models_home").c_str(), 1);
        vfs_reset_for_tests();
    }
    void TearDown() override
    {
        model_release_stale(true);
        vfs_reset_for_tests();
    }
};

int total(const Model *m) { return m ? m->triangles : 0; }

TEST_F(GameData, EveryRowsFilesOpenAndModelsRead)
{
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
        const BikeModel *row = bike_model(i);
        SCOPED_TRACE(row->name);
        for (int f = 0; f < BIKE_FILE_COUNT; f++) {
            const char *name = row->files[f];
            DataFile *file = open_data_file(name, "rb");
            EXPECT_NE(file, nullptr) << name;
            close_data_file(file);
            if (strstr(name, ".jm")) {
                EXPECT_NE(model_get(name), nullptr) << name;
            }
        }
        // The plate colours ride in the bike graphics' text.
        DataFile *f = open_data_file(row->files[BIKE_FILE_BIKE_TEXTURE], "rb");
        ImageFile img;
        ASSERT_TRUE(image_decode(f, row->files[BIKE_FILE_BIKE_TEXTURE], &img));
        close_data_file(f);
        ASSERT_EQ(img.kind, IMAGE_PICTURE);
        EXPECT_EQ(img.image.width, 512);
        ASSERT_NE(img.image.info, nullptr);
        EXPECT_NE(strstr(img.image.info, "[numberbackground:"), nullptr);
        EXPECT_NE(strstr(img.image.info, "[numberforeground:"), nullptr);
        image_file_free(&img);
    }
}

TEST_F(GameData, TextureChoicesExistAndHoldTheDefaults)
{
    const char *const *names = file_index_names();
    ASSERT_NE(names, nullptr);
    const BikeModel *row = bike_model(0);
    char bike_prefix[32];
    snprintf(bike_prefix, sizeof bike_prefix, "mx%s-", row->class_code);
    const struct { const char *prefix; int file; } lists[] = {
        { "rider_body-", BIKE_FILE_BODY_TEXTURE }, { "rider_head-", BIKE_FILE_HEAD_TEXTURE },
        { "wheels-", BIKE_FILE_WHEEL_TEXTURE }, { bike_prefix, -1 } };
    for (auto &l : lists) {
        SCOPED_TRACE(l.prefix);
        int members = 0;
        bool default_listed = l.file < 0;
        for (int i = 0; names[i]; i++) {
            if (strncmp(names[i], l.prefix, strlen(l.prefix)) != 0)
                continue;
            members++;
            default_listed = default_listed || strcmp(names[i], row->files[l.file] + 1) == 0;
        }
        EXPECT_GE(members, 3);
        EXPECT_TRUE(default_listed);
    }
}

TEST_F(GameData, TyresReachTheCataloguesRadiusAndBikesKeepTheirBudgets)
{
    const BikeModel *row = bike_model(0);
    const BikeWheelRow *wheels[2] = { &row->front, &row->rear };
    for (int w = 0; w < 2; w++) {
        const Model *m = model_get(row->files[w ? BIKE_FILE_REAR_WHEEL_MODEL : BIKE_FILE_FRONT_WHEEL_MODEL]);
        ASSERT_NE(m, nullptr);
        float reach = 0, side = 0;
        const Mesh *tyre = m->meshes;
        for (int v = 0; v < tyre->nv; v++) {
            const float *p = &tyre->positions[v * 3];
            reach = fmaxf(reach, sqrtf(p[1] * p[1] + p[2] * p[2]));
            side = fmaxf(side, fabsf(p[0]));
        }
        float want = wheels[w]->major_radius + wheels[w]->minor_radius;
        EXPECT_NEAR(reach, want, 0.02f * want);
        EXPECT_NEAR(side, wheels[w]->minor_radius, 0.02f * want);
    }
    // Full detail within the frame budget; the levels near 40 % and 15 % of it.
    const char *const classes[] = { "50", "125", "250", "250f", "450f" };
    for (const char *c : classes) {
        SCOPED_TRACE(c);
        char frame[64];
        snprintf(frame, sizeof frame, "@mx%s_frame.jm", c);
        const char *parts[6] = { frame, "@mx_ufork.jm", "@mx_lfork.jm", "@mx_swingarm.jm", "@mx_fwheel.jm", "@mx_rwheel.jm" };
        int level[3] = {};
        for (const char *p : parts) {
            const Model *m = model_get(p);
            ASSERT_NE(m, nullptr) << p;
            ASSERT_NE(m->lod, nullptr) << p;
            ASSERT_NE(m->lod->lod, nullptr) << p;
            EXPECT_EQ(m->lod->lod_distance, 32);
            EXPECT_EQ(m->lod->lod->lod_distance, 128);
            level[0] += total(m);
            level[1] += total(m->lod);
            level[2] += total(m->lod->lod);
        }
        EXPECT_LE(level[0], 2400);
        EXPECT_NEAR((float)level[1] / level[0], 0.4f, 0.12f);
        EXPECT_NEAR((float)level[2] / level[0], 0.15f, 0.08f);
        // Reflective meshes come after all others.
        const Model *m = model_get(frame);
        bool seen_chrome = false;
        for (const Mesh *mesh = m->meshes; mesh; mesh = mesh->next) {
            EXPECT_FALSE(seen_chrome && mesh_mode(mesh) != MESH_REFLECTIVE);
            seen_chrome = seen_chrome || mesh_mode(mesh) == MESH_REFLECTIVE;
        }
        EXPECT_TRUE(seen_chrome);
    }
}

TEST_F(GameData, RiderSkinBlendsAtMostTwoBonesAndEveryBoneCarriesWeight)
{
    const Model *body = model_get(bike_model(0)->files[BIKE_FILE_BODY_MODEL]);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->bone_count, RIDER_BONES);
    EXPECT_LE(body->triangles, 1300);
    ASSERT_NE(body->lod, nullptr);
    EXPECT_NEAR((float)body->lod->triangles / body->triangles, 0.4f, 0.12f);
    float carried[RIDER_BONES] = {};
    int blended = 0;
    for (const Mesh *m = body->meshes; m; m = m->next) {
        for (int v = 0; v < m->nv; v++) {
            int nonzero = 0;
            for (int s = 0; s < 4; s++) {
                float w = m->weights[v * 4 + s];
                if (w > 0 && m->weights[v * 4 + s] != 0.25f) {
                    nonzero++;
                    carried[m->bones[v * 4 + s]] += w;
                }
            }
            EXPECT_LE(nonzero, 2);
            blended += nonzero == 2;
        }
    }
    for (int b = 0; b < RIDER_BONES; b++)
        EXPECT_GT(carried[b], 5) << "bone " << b;
    EXPECT_GT(blended, 20) << "the joints blend";
}

}   // namespace
