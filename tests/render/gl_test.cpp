// The driver probe and the shader programs on Mesa's software OpenGL.
#include <string.h>

#include "gl_fixture.h"
#include "render/gl.h"
#include "render/screens.h"

TEST(GlExtension, WholeTokensOnly)
{
    const char *list = "GL_ARB_multitexture GL_EXT_framebuffer_object_blit GL_ARB_vertex_shader";
    EXPECT_FALSE(gl_extension_in(list, "GL_EXT_framebuffer_object"));
    EXPECT_TRUE(gl_extension_in(list, "GL_ARB_multitexture"));
    EXPECT_TRUE(gl_extension_in(list, "GL_ARB_vertex_shader"));
    EXPECT_FALSE(gl_extension_in(list, "ARB_multitexture"));
    EXPECT_FALSE(gl_extension_in(list, ""));
    EXPECT_FALSE(gl_extension_in(list, "GL_ARB_multitexture GL_ARB_vertex_shader"));
    EXPECT_TRUE(gl_extension_in("x GL_EXT_framebuffer_object_blit GL_EXT_framebuffer_object", "GL_EXT_framebuffer_object"));
}

struct Shaders : GlWorld {
    void SetUp() override
    {
        GlWorld::SetUp();
        if (IsSkipped())
            return;
        gl_probe();
    }
    void TearDown() override
    {
        shaders_delete();
        GlWorld::TearDown();
    }
};

TEST_F(Shaders, ProbeFindsTheFeaturesMesaOffers)
{
    EXPECT_TRUE(gl_caps.multitexture);
    EXPECT_TRUE(gl_caps.framebuffer_object);
    EXPECT_TRUE(gl_caps.fragment_shader);
    EXPECT_TRUE(gl_caps.vertex_shader);
    EXPECT_TRUE(gl_caps.generate_mipmap);
    EXPECT_GE(gl_caps.texture_units, 4);
    EXPECT_GE(gl_caps.major, 1);
    EXPECT_NE(glf.glActiveTextureARB, nullptr);
    EXPECT_NE(glf.glCreateShaderObjectARB, nullptr);
    EXPECT_NE(glf.glGenFramebuffersEXT, nullptr);
    char line[64];
    snprintf(line, sizeof line, "%d texture units\n", gl_caps.texture_units);
    EXPECT_TRUE(logged(line)) << g_gl_log;
}

TEST_F(Shaders, AllSevenCompileAndLink)
{
    ASSERT_TRUE(shaders_build()) << g_gl_log;
    for (int s = 1; s <= 7; s++)
        EXPECT_NE(shader_program(s), 0u) << k_shader_sources[s - 1].name;
    EXPECT_EQ(shader_program(0), 0u);
    EXPECT_EQ(shader_program(8), 0u);
    EXPECT_EQ(shader_current(), 0);
    // The normal-map sampler reads unit 1, the specular map unit 2, the base texture unit 1.
    GLint unit = -1;
    glf.glGetUniformivARB(shader_program(SHADER_NORM_SPEC_LIT), glf.glGetUniformLocationARB(shader_program(5), "smap"), &unit);
    EXPECT_EQ(unit, 2);
    glf.glGetUniformivARB(shader_program(SHADER_TERRAIN), glf.glGetUniformLocationARB(shader_program(7), "nmap"), &unit);
    EXPECT_EQ(unit, 1);
    glf.glGetUniformivARB(shader_program(SHADER_TERRAIN_NORMALS),
                          glf.glGetUniformLocationARB(shader_program(6), "base"), &unit);
    EXPECT_EQ(unit, 1);
}

TEST_F(Shaders, SwitchesCountOnlyRealChanges)
{
    ASSERT_TRUE(shaders_build());
    shader_reset_switch_count();
    shader_use(3);
    shader_use(3);
    EXPECT_EQ(shader_switch_count(), 1);
    shader_use(8);
    EXPECT_EQ(shader_current(), 3);
    EXPECT_EQ(shader_switch_count(), 1);
    GLhandleARB active = glf.glGetHandleARB(GL_PROGRAM_OBJECT_ARB);
    EXPECT_EQ(active, shader_program(3));
    shader_use(0);
    EXPECT_EQ(shader_switch_count(), 2);
}

TEST_F(Shaders, BonesGoToTheCurrentProgram)
{
    ASSERT_TRUE(shaders_build());
    shader_use(SHADER_LIT);
    const float centres[6] = { 1, 2, 3, 4, 5, 6 }, moves[6] = { 0, 0, 0, 7, 8, 9 };
    float rot[18] = {};
    for (int b = 0; b < 2; b++)
        for (int k = 0; k < 9; k++)
            rot[b * 9 + k] = (float)(b * 9 + k);
    shader_set_bones(2, centres, moves, rot);
    unsigned p = shader_program(SHADER_LIT);
    GLint n = -1;
    glf.glGetUniformivARB(p, glf.glGetUniformLocationARB(p, "nbones"), &n);
    EXPECT_EQ(n, 2);
    float v[9];
    glf.glGetUniformfvARB(p, glf.glGetUniformLocationARB(p, "bone_c[1]"), v);
    EXPECT_FLOAT_EQ(v[0], 4);
    EXPECT_FLOAT_EQ(v[2], 6);
    glf.glGetUniformfvARB(p, glf.glGetUniformLocationARB(p, "bone_t[1]"), v);
    EXPECT_FLOAT_EQ(v[1], 8);
    glf.glGetUniformfvARB(p, glf.glGetUniformLocationARB(p, "bone_r[1]"), v);
    for (int k = 0; k < 9; k++)
        EXPECT_FLOAT_EQ(v[k], 9.0f + k);         // as given: not transposed
    shader_use(0);
    shader_set_bones(1, centres, moves, rot);     // slot 0 takes no bones
    glf.glGetUniformivARB(p, glf.glGetUniformLocationARB(p, "nbones"), &n);
    EXPECT_EQ(n, 2);
}

TEST_F(Shaders, EnvironmentMatrixArrivesTransposed)
{
    ASSERT_TRUE(shaders_build());
    // Row-major: the first row is (0, 1, 0).
    const float r[9] = { 0, 1, 0, -1, 0, 0, 0, 0, 1 };
    shader_set_envmat(r);
    EXPECT_EQ(shader_current(), 0);
    for (int slot : { SHADER_ENV, SHADER_NORM_ENV }) {
        unsigned p = shader_program(slot);
        float m[9];
        glf.glGetUniformfvARB(p, glf.glGetUniformLocationARB(p, "envmat"), m);
        // m is column-major: element (row i, column j) at m[j * 3 + i]; the transpose has
        // at (i, j) the rotation's (j, i).
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                EXPECT_FLOAT_EQ(m[j * 3 + i], r[j * 3 + i]) << i << "," << j;
        // (row 0, column 1) of the transpose is the rotation's (1, 0) = -1.
        EXPECT_FLOAT_EQ(m[1 * 3 + 0], -1);
    }
}

TEST_F(Shaders, BrokenSourceIsLoggedAndNothingIsKept)
{
    ShaderSource broken[7];
    memcpy(broken, k_shader_sources, sizeof broken);
    broken[2].fragment = "void main() { gl_FragColor = undefined_thing; }\n";
    EXPECT_FALSE(shaders_build_from(broken));
    EXPECT_TRUE(logged("fragment shader status for norm_lit:\n")) << g_gl_log;
    for (int s = 1; s <= 7; s++)
        EXPECT_EQ(shader_program(s), 0u);
    broken[2] = k_shader_sources[2];
    broken[6].vertex = "this is not GLSL";
    EXPECT_FALSE(shaders_build_from(broken));
    EXPECT_TRUE(logged("vertex shader status for terrain:\n"));
    EXPECT_TRUE(shaders_build());       // the game goes on and can build again
}

// With shaders off, the start-up step leaves every slot empty and the fixed-function
// pipeline stays bound whatever slot is asked for.
TEST_F(Shaders, FixedFunctionWhenSwitchedOff)
{
    shaders_setup(false);
    EXPECT_TRUE(logged("Drawing without shader programs"));
    for (int s = 1; s <= 7; s++)
        EXPECT_EQ(shader_program(s), 0u);
    shader_use(SHADER_LIT);          // a slot with no program: still the fixed pipeline
    EXPECT_EQ(glf.glGetHandleARB(GL_PROGRAM_OBJECT_ARB), 0u);
    shader_set_bones(1, nullptr, nullptr, nullptr);     // nothing to set, nothing breaks
    const float r[9] = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };
    shader_set_envmat(r);
    shader_set_sampler(SHADER_TERRAIN, "nmap", 1);
    shader_use(0);
    shaders_setup(true);
    EXPECT_NE(shader_program(SHADER_TERRAIN), 0u);
}
