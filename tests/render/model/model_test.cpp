// The ".jm" reader, the cache with its levels of detail, CPU skinning and the mesh2 export,
// all without a GL context.
#include <gtest/gtest.h>

#include <dirent.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "../../fuzz/fuzz_targets.h"
#include "platform/log.h"
#include "render/model/model.h"
#include "vfs/vfs.h"

static std::vector<std::string> g_lines;
static void observe(const char *text) { g_lines.push_back(text); }

static int lines_with(const char *part)
{
    int n = 0;
    for (const std::string &l : g_lines)
        n += l.find(part) != std::string::npos;
    return n;
}

struct ModelLog : ::testing::Test {
    void SetUp() override
    {
        g_lines.clear();
        log_set_observer(observe);
    }
    void TearDown() override { log_set_observer(nullptr); }
    Model *read(const std::string &text) { return model_read_memory(text.data(), text.size(), "test.jm"); }
};

// Three vertices of a unit right triangle in the z = 0 plane, weights appended per vertex.
static std::string triangle_vertices(const char *weights)
{
    return std::string("0 0 0 0 0 1 0 0 ") + weights + "\n1 0 0 0 0 1 1 0 " + weights + "\n0 1 0 0 0 1 0 1 " +
           weights + "\n";
}

TEST_F(ModelLog, FiveInfluencesWarnOncePerMeshAndKeepTheReplacementRulesFour)
{
    // Bones 0..4 weigh 0.1..0.5: the fifth replaces the smallest slot (bone 0, slot 0).
    std::string text = "JM2\n5 bones\n0 1 1 1 1 3 1\n" + triangle_vertices("0.1 0.2 0.3 0.4 0.5") + "0 1 2\n";
    Model *m = read(text);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(lines_with("Warning: vertex with more than 4 bone influences in 'test.jm'"), 1);
    const Mesh *mesh = m->meshes;
    EXPECT_EQ(mesh->bone_count, 5);
    const int bones[4] = { 4, 1, 2, 3 };
    const float weights[4] = { 0.5f, 0.2f, 0.3f, 0.4f };
    for (int v = 0; v < 3; v++)
        for (int s = 0; s < 4; s++) {
            EXPECT_EQ(mesh->bones[v * 4 + s], bones[s]);
            EXPECT_NEAR(mesh->weights[v * 4 + s], weights[s] / 1.4f, 1e-6);
        }
    model_free(m);

    // No positive weight at all: four equal quarters.
    m = read("JM2\n2 b\n0 1 1 1 1 3 1\n" + triangle_vertices("0 -1") + "0 1 2\n");
    ASSERT_NE(m, nullptr);
    for (int s = 0; s < 4; s++)
        EXPECT_EQ(m->meshes->weights[s], 0.25f);
    model_free(m);
}

TEST_F(ModelLog, FormsMaterialsAndTextureFlip)
{
    Model *old = read("3 1\n" + triangle_vertices("") + "0 1 2\n");
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->meshes->shininess, 32);
    EXPECT_EQ(old->meshes->colour[3], 1);
    EXPECT_EQ(old->meshes->texcoords[5], 0);        // v = 1 in the file
    EXPECT_EQ(old->meshes->texcoords[1], 1);
    model_free(old);

    // Two meshes, the second reflective; an unparsable third header ends the list.
    Model *m = read("JM1\n8 0.5 1 0.5 0.25 3 1\n" + triangle_vertices("") + "0 1 2\n-1 0.3 1 1 1 3 1\n" +
                    triangle_vertices("") + "0 2 1\nend\n");
    ASSERT_NE(m, nullptr);
    const Mesh *a = m->meshes, *b = a->next;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->next, nullptr);
    EXPECT_EQ(mesh_mode(a), MESH_ORDINARY);
    EXPECT_EQ(a->reflectivity, 1);
    EXPECT_EQ(a->colour[2], 0.25f);
    EXPECT_EQ(mesh_mode(b), MESH_REFLECTIVE);
    EXPECT_EQ(b->reflectivity, 0.3f);
    EXPECT_EQ(m->triangles, 2);
    // u runs along +x, v (flipped) along -y: the tangent follows u.
    EXPECT_NEAR(a->tangents[0], 1, 1e-6);
    // Edges of 1 ft and sqrt(2) ft with du, dv of 1 each.
    EXPECT_NEAR(m->density_u, 1, 1e-6);
    EXPECT_NEAR(m->density_v, 1, 1e-6);
    model_free(m);
}

TEST_F(ModelLog, FlatAndOutOfRangeTrianglesAreDroppedAndCounted)
{
    Model *m = read("JM1\n0 1 1 1 1 3 3\n" + triangle_vertices("") + "0 0 1\n0 1 2\n0 1 3\n");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->meshes->nt, 1);
    EXPECT_EQ(m->meshes->triangles[2], 2);
    EXPECT_EQ(lines_with("2 degenerate triangles deleted in test.jm"), 1);
    model_free(m);
}

TEST_F(ModelLog, HostileFilesFailWholeAndCleanly)
{
    const char *bad[] = {
        "",                                                             // nothing
        "JM3\n0 1 1 1 1 0 0\n",                                         // unknown version
        "JM1\nnot a mesh\n",                                            // the first mesh must parse
        "JM1\n0 1 1 1 1 3 1\n0 0 0 0 0 1 0 0\n1 0 0",                   // truncated
        "JM1\n0 1 1 1 1 4000001 0\n",                                   // oversized count
        "JM1\n0 1 1 1 1 0 -1\n",
        "JM1\n0 1 1 1 1 3000000 3000000\n0 0 0\n",                      // huge claims, no data
        "JM2\n40 bones\n0 1 1 1 1 0 0\n",                               // more than 32 bones
        "JM1\n0 1 1 1 1 1 0\nnan 0 0 0 0 1 0 0\n",                      // not finite
        "JM1\ninf 1 1 1 1 0 0\n",
        "JM2\n1 b\n0 1 1 1 1 1 0\n0 0 0 0 0 1 0 0 1e999\n",
    };
    for (const char *text : bad) {
        SCOPED_TRACE(text);
        EXPECT_EQ(model_read_memory(text, strlen(text), "bad.jm"), nullptr);
    }
    EXPECT_EQ(lines_with("Error reading model 'bad.jm'"), (int)(sizeof bad / sizeof bad[0]));
    // Empty meshes are fine.
    Model *m = read("JM1\n0 1 1 1 1 0 0\n");
    ASSERT_NE(m, nullptr);
    model_free(m);
}

TEST(Model, CommittedCorpusReplaysThroughTheFuzzEntry)
{
    std::string dir = std::string(SK_TEST_DATA_DIR) + "/fuzz-corpus/model";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    int files = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        FILE *f = fopen((dir + "/" + e->d_name).c_str(), "rb");
        ASSERT_NE(f, nullptr);
        std::vector<uint8_t> bytes(1 << 16);
        size_t n = fread(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        fuzz_model(bytes.data(), n);
        files++;
    }
    closedir(d);
    EXPECT_GE(files, 8);
}

TEST(Model, SkinningDropsBonesOutsideThePaletteAndRenormalises)
{
    std::string text = "JM2\n3 b\n0 1 1 1 1 3 1\n" + triangle_vertices("0.5 0.25 0.25") + "0 1 2\n";
    Model *m = model_read_memory(text.data(), text.size(), "skin.jm");
    ASSERT_NE(m, nullptr);
    BonePose palette[3] = {};
    for (int b = 0; b < 3; b++) {
        palette[b].rotation[0] = palette[b].rotation[4] = palette[b].rotation[8] = 1;
        palette[b].translation[0] = (float)(b + 1);     // bone b moves +x by b + 1
    }
    // A quarter turn about z on bone 1: column-major, x goes to +y.
    float *r = palette[1].rotation;
    r[0] = 0, r[1] = 1, r[3] = -1, r[4] = 0;
    float p[3], n[3];
    skin_vertex(m->meshes, 1, palette, 3, p, n);        // vertex (1, 0, 0)
    EXPECT_NEAR(p[0], 0.5f * 2 + 0.25f * 2 + 0.25f * 4, 1e-6);
    EXPECT_NEAR(p[1], 0.25f, 1e-6);
    // With two bones passed, bone 2 drops out and 0.5 : 0.25 scale up to 2/3 : 1/3.
    skin_vertex(m->meshes, 1, palette, 2, p, n);
    EXPECT_NEAR(p[0], (0.5f * 2 + 0.25f * 2) / 0.75f, 1e-6);
    EXPECT_NEAR(p[1], 0.25f / 0.75f, 1e-6);
    EXPECT_NEAR(n[2], 1, 1e-6);
    // None left: unmoved.
    skin_vertex(m->meshes, 1, palette, 0, p, n);
    EXPECT_EQ(p[0], 1);
    skin_mesh(m->meshes, palette, 3);
    EXPECT_NEAR(m->meshes->skinned_positions[3], 2.5f, 1e-6);
    model_free(m);
}

TEST(Model, Mesh2TextByteForByte)
{
    std::string jm = "JM1\n0 1 1 1 1 4 2\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n1 1 0 0 0 1 1 1\n"
                     "0 1 0 0 0 1 0 1\n0 1 2\n0 2 3\n";
    Model *m = model_read_memory(jm.data(), jm.size(), "pov.jm");
    ASSERT_NE(m, nullptr);
    std::string path = testing::TempDir() + "sk_pov_test.pov";
    DataFile *out = open_data_file(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(model_export_pov(m, out));
    close_data_file(out);
    FILE *f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char text[4096];
    text[fread(text, 1, sizeof text - 1, f)] = 0;
    fclose(f);
    remove(path.c_str());
    EXPECT_STREQ(text,
                 "mesh2 {\n"
                 "\tvertex_vectors {\n\t\t4\n"
                 "\t\t<0.000000,0.000000,0.000000>,\n\t\t<1.000000,0.000000,0.000000>,\n"
                 "\t\t<1.000000,1.000000,0.000000>,\n\t\t<0.000000,1.000000,0.000000>\n\t}\n"
                 "\tnormal_vectors {\n\t\t4\n"
                 "\t\t<0.000000,0.000000,1.000000>,\n\t\t<0.000000,0.000000,1.000000>,\n"
                 "\t\t<0.000000,0.000000,1.000000>,\n\t\t<0.000000,0.000000,1.000000>\n\t}\n"
                 "\tuv_vectors {\n\t\t4\n"
                 "\t\t<0.000000,1.000000>,\n\t\t<1.000000,1.000000>,\n"
                 "\t\t<1.000000,0.000000>,\n\t\t<0.000000,0.000000>\n\t}\n"
                 "\tface_indices {\n\t\t2\n"
                 "\t\t<0,1,2>,\n\t\t<0,2,3>\n\t}\n"
                 "}\n");
    model_free(m);
}

// A data folder of model files for the cache.
struct ModelCache : ModelLog {
    std::string root;
    void SetUp() override
    {
        ModelLog::SetUp();
        char tmpl[512];
        snprintf(tmpl, sizeof tmpl, "%ssk_model_XXXXXX", testing::TempDir().c_str());
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        setenv("SK_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
        ASSERT_EQ(system(("mkdir -p '" + root + "/data'").c_str()), 0);
        std::string tri = "JM1\n0 1 1 1 1 3 1\n" + triangle_vertices("") + "0 1 2\n";
        for (const char *name : { "wheel.jm", "wheel_lod6.jm", "wheel_lod4.jm", "wheel_lodx.jm", "garbage.jm" }) {
            FILE *f = fopen((root + "/data/" + name).c_str(), "wb");
            ASSERT_NE(f, nullptr);
            fputs(strcmp(name, "garbage.jm") == 0 ? "JM1\n\x01\x02" : tri.c_str(), f);
            fclose(f);
        }
        vfs_reset_for_tests();
        model_set_lod(1, 0);
    }
    void TearDown() override
    {
        model_release_stale(true);
        vfs_reset_for_tests();
        ASSERT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
        ModelLog::TearDown();
    }
};

TEST_F(ModelCache, CaseMismatchGarbageAndGenerations)
{
    Model *m = model_get("@wheel.jm");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(model_get("@wheel.jm"), m);
    EXPECT_EQ(lines_with("case mismatch"), 0);
    EXPECT_EQ(model_get("@WHEEL.JM"), m);
    EXPECT_EQ(lines_with("Warning: case mismatch on '@WHEEL.JM'"), 1);
    EXPECT_EQ(model_get("@garbage.jm"), nullptr);
    EXPECT_EQ(lines_with("Warning: Can't load @garbage.jm"), 1);
    EXPECT_EQ(model_get("@missing.jm"), nullptr);
    EXPECT_EQ(model_cache_count(), 1);

    // A new session that does not ask for it lets it go; one that does keeps it.
    model_new_generation();
    EXPECT_EQ(model_get("@wheel.jm"), m);
    model_release_stale(false);
    EXPECT_EQ(model_cache_count(), 1);
    model_new_generation();
    model_set_verbosity(1);
    model_release_stale(false);
    EXPECT_EQ(model_cache_count(), 0);
    EXPECT_EQ(lines_with("deleting model @wheel.jm"), 1);
}

TEST_F(ModelCache, LevelsSwitchInByDistanceScaleAndBias)
{
    Model *m = model_get("@wheel.jm");
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->lod, nullptr);
    ASSERT_NE(m->lod->lod, nullptr);
    EXPECT_EQ(m->lod->lod->lod, nullptr);           // "_lodx" is no level
    EXPECT_EQ(m->lod->lod_distance, 16);
    EXPECT_EQ(m->lod->lod->lod_distance, 64);
    const Model *l4 = m->lod, *l6 = m->lod->lod;
    struct { int detail; float near4, far4, near6, far6; } cases[] = {
        // detail 50: f = 1, b = 0.
        { 50, 15.9f, 16.1f, 63.9f, 64.1f },
        // detail 25: f = 1.5^3 = 3.375, b = 12.5: (16 - 12.5) / 3.375 and (64 - 12.5) / 3.375.
        { 25, 1.037f * 0.99f, 1.037f * 1.01f, 15.259f * 0.99f, 15.259f * 1.01f },
        // detail 75: f = 0.5, b = 0: twice the distances.
        { 75, 31.9f, 32.1f, 127.9f, 128.1f },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.detail);
        float f, b;
        model_lod_from_detail(c.detail, &f, &b);
        model_set_lod(f, b);
        EXPECT_EQ(model_choose_lod(m, c.near4 * c.near4), m);
        EXPECT_EQ(model_choose_lod(m, c.far4 * c.far4), l4);
        EXPECT_EQ(model_choose_lod(m, c.near6 * c.near6), l4);
        EXPECT_EQ(model_choose_lod(m, c.far6 * c.far6), l6);
    }
    // Detail 0 biases by 50 ft: both coarse levels are in at once... at 16 - 50 < 0 and
    // (64 - 50) = 14 <= D f with f = 8.
    float f, b;
    model_lod_from_detail(0, &f, &b);
    EXPECT_EQ(f, 8);
    EXPECT_EQ(b, 50);
    model_set_lod(f, b);
    EXPECT_EQ(model_choose_lod(m, 1.7f * 1.7f), l4);
    EXPECT_EQ(model_choose_lod(m, 1.8f * 1.8f), l6);
    model_lod_from_detail(100, &f, &b);
    EXPECT_EQ(f, 0);
    model_set_lod(f, b);
    EXPECT_EQ(model_choose_lod(m, 1e12f), m);
}
