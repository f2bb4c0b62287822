// The driver's capabilities, its extension entry points and the GLSL program table.
#include "render/gl.h"

#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include <SDL.h>

#include "platform/log.h"

GlFunctions glf;
GlCaps gl_caps;

enum { UNIFORM_NBONES, UNIFORM_BONE_C, UNIFORM_BONE_T, UNIFORM_BONE_R, UNIFORM_ENVMAT, UNIFORM_COUNT };
static const char *const k_uniform_names[UNIFORM_COUNT] = { "nbones", "bone_c", "bone_t", "bone_r", "envmat" };

static struct {
    GLhandleARB program[SHADER_SLOTS];
    GLhandleARB vertex[SHADER_SLOTS];
    GLhandleARB fragment[SHADER_SLOTS];
    int uniform[SHADER_SLOTS][UNIFORM_COUNT];
    bool looked_up[SHADER_SLOTS][UNIFORM_COUNT];
    int current;
    int switches;
} g_shaders;

bool gl_extension_in(const char *list, const char *name)
{
    if (!list || !name || !name[0] || strchr(name, ' '))
        return false;
    size_t n = strlen(name);
    for (const char *p = strstr(list, name); p; p = strstr(p + 1, name)) {
        bool starts = p == list || p[-1] == ' ';
        bool ends = p[n] == 0 || p[n] == ' ';
        if (starts && ends)
            return true;
    }
    return false;
}

bool gl_has_extension(const char *name)
{
    return gl_extension_in(gl_caps.extensions, name);
}

static void copy_string(char *dst, size_t size, GLenum which)
{
    const char *s = (const char *)glGetString(which);
    snprintf(dst, size, "%s", s ? s : "NULL");
}

void gl_probe(void)
{
    memset(&gl_caps, 0, sizeof gl_caps);
    memset(&glf, 0, sizeof glf);
    bool context = SDL_GL_GetCurrentContext() != nullptr;
    if (!context) {
        snprintf(gl_caps.vendor, sizeof gl_caps.vendor, "NULL");
        snprintf(gl_caps.renderer, sizeof gl_caps.renderer, "NULL");
        snprintf(gl_caps.version, sizeof gl_caps.version, "NULL");
        gl_caps.extensions = "NULL";
        gl_caps.texture_units = 1;
        return;
    }
    copy_string(gl_caps.vendor, sizeof gl_caps.vendor, GL_VENDOR);
    copy_string(gl_caps.renderer, sizeof gl_caps.renderer, GL_RENDERER);
    copy_string(gl_caps.version, sizeof gl_caps.version, GL_VERSION);
    const char *ext = (const char *)glGetString(GL_EXTENSIONS);
    gl_caps.extensions = ext ? ext : "NULL";
    if (sscanf(gl_caps.version, "%d.%d", &gl_caps.major, &gl_caps.minor) != 2)
        gl_caps.major = gl_caps.minor = 0;
    gl_caps.generate_mipmap = gl_has_extension("GL_SGIS_generate_mipmap");
    gl_caps.framebuffer_object = gl_has_extension("GL_EXT_framebuffer_object");
    gl_caps.multitexture = gl_has_extension("GL_ARB_multitexture");
    gl_caps.fragment_shader = gl_has_extension("GL_ARB_fragment_shader");
    gl_caps.vertex_shader = gl_has_extension("GL_ARB_vertex_shader");
    gl_caps.texture_units = 1;
    if (gl_caps.multitexture) {
        GLint units = 1;
        glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
        gl_caps.texture_units = units;
        log_printf("%d texture units\n", units);
    }
#define SK_GL_FETCH(type, name) glf.name = (type)SDL_GL_GetProcAddress(#name);
    SK_GL_ENTRY_POINTS(SK_GL_FETCH)
#undef SK_GL_FETCH
}

// ---------------------------------------------------------------------------------------
// Programs

static bool shader_functions_present(void)
{
    return glf.glCreateShaderObjectARB && glf.glShaderSourceARB && glf.glCompileShaderARB &&
           glf.glCreateProgramObjectARB && glf.glAttachObjectARB && glf.glLinkProgramARB &&
           glf.glUseProgramObjectARB && glf.glGetObjectParameterivARB && glf.glGetInfoLogARB &&
           glf.glDeleteObjectARB && glf.glGetUniformLocationARB && glf.glUniform1iARB &&
           glf.glUniform3fvARB && glf.glUniformMatrix3fvARB;
}

// Logs the object's info log when the driver wrote one.
static void log_info(GLhandleARB object, const char *what, const char *name)
{
    GLint length = 0;
    glf.glGetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
    if (length <= 1)
        return;
    static char text[8192];
    GLsizei got = 0;
    glf.glGetInfoLogARB(object, sizeof text, &got, text);
    text[got < (GLsizei)sizeof text ? (got < 0 ? 0 : got) : sizeof text - 1] = 0;
    if (text[0])
        log_printf("%s for %s:\n%s\n", what, name, text);
}

static bool compile(GLhandleARB shader, const char *source, const char *what, const char *name)
{
    const GLcharARB *text = source ? source : "";
    glf.glShaderSourceARB(shader, 1, &text, nullptr);
    glf.glCompileShaderARB(shader);
    log_info(shader, what, name);
    GLint ok = 0;
    glf.glGetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &ok);
    return ok != 0;
}

static bool build_program(int slot, const ShaderSource *src)
{
    g_shaders.vertex[slot] = glf.glCreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
    g_shaders.fragment[slot] = glf.glCreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    if (!g_shaders.vertex[slot] || !g_shaders.fragment[slot])
        return false;
    if (!compile(g_shaders.vertex[slot], src->vertex, "vertex shader status", src->name))
        return false;
    if (!compile(g_shaders.fragment[slot], src->fragment, "fragment shader status", src->name))
        return false;
    GLhandleARB program = glf.glCreateProgramObjectARB();
    if (!program)
        return false;
    g_shaders.program[slot] = program;
    glf.glAttachObjectARB(program, g_shaders.vertex[slot]);
    glf.glAttachObjectARB(program, g_shaders.fragment[slot]);
    glf.glLinkProgramARB(program);
    log_info(program, "link status", src->name);
    GLint ok = 0;
    glf.glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &ok);
    return ok != 0;
}

static void clear_table(void)
{
    memset(g_shaders.program, 0, sizeof g_shaders.program);
    memset(g_shaders.vertex, 0, sizeof g_shaders.vertex);
    memset(g_shaders.fragment, 0, sizeof g_shaders.fragment);
    memset(g_shaders.looked_up, 0, sizeof g_shaders.looked_up);
    for (int s = 0; s < SHADER_SLOTS; s++)
        for (int u = 0; u < UNIFORM_COUNT; u++)
            g_shaders.uniform[s][u] = -1;
}

void shaders_delete(void)
{
    if (glf.glDeleteObjectARB) {
        if (glf.glUseProgramObjectARB && g_shaders.current != 0)
            glf.glUseProgramObjectARB(0);
        for (int s = 1; s < SHADER_SLOTS; s++) {
            if (g_shaders.program[s])
                glf.glDeleteObjectARB(g_shaders.program[s]);
            if (g_shaders.vertex[s])
                glf.glDeleteObjectARB(g_shaders.vertex[s]);
            if (g_shaders.fragment[s])
                glf.glDeleteObjectARB(g_shaders.fragment[s]);
        }
    }
    clear_table();
    g_shaders.current = 0;
}

bool shaders_build_from(const ShaderSource *sources)
{
    if (!gl_caps.fragment_shader || !gl_caps.vertex_shader || !shader_functions_present())
        return false;
    shaders_delete();
    for (int s = 1; s < SHADER_SLOTS; s++) {
        if (!build_program(s, &sources[s - 1])) {
            shaders_delete();
            return false;
        }
    }
    for (int s : { SHADER_NORM_LIT, SHADER_NORM_ENV, SHADER_NORM_SPEC_LIT, SHADER_TERRAIN })
        shader_set_sampler(s, "nmap", 1);
    for (int s : { SHADER_NORM_SPEC_LIT, SHADER_TERRAIN })
        shader_set_sampler(s, "smap", 2);
    shader_set_sampler(SHADER_TERRAIN_NORMALS, "base", 1);
    return true;
}

bool shaders_build(void)
{
    return shaders_build_from(k_shader_sources);
}

void shader_use(int slot)
{
    if (slot < 0 || slot >= SHADER_SLOTS || slot == g_shaders.current)
        return;
    g_shaders.current = slot;
    g_shaders.switches++;
    if (glf.glUseProgramObjectARB)
        glf.glUseProgramObjectARB(g_shaders.program[slot]);
}

int shader_current(void)
{
    return g_shaders.current;
}

unsigned shader_program(int slot)
{
    return slot >= 1 && slot < SHADER_SLOTS ? g_shaders.program[slot] : 0;
}

int shader_switch_count(void)
{
    return g_shaders.switches;
}

void shader_reset_switch_count(void)
{
    g_shaders.switches = 0;
}

void shader_set_sampler(int slot, const char *sampler, int unit)
{
    if (!shader_program(slot) || !sampler)
        return;
    shader_use(slot);
    GLint at = glf.glGetUniformLocationARB(g_shaders.program[slot], sampler);
    if (at >= 0)
        glf.glUniform1iARB(at, unit);
    shader_use(0);
}

static int uniform_at(int slot, int which)
{
    if (!g_shaders.looked_up[slot][which]) {
        g_shaders.looked_up[slot][which] = true;
        g_shaders.uniform[slot][which] = glf.glGetUniformLocationARB(g_shaders.program[slot], k_uniform_names[which]);
    }
    return g_shaders.uniform[slot][which];
}

void shader_set_envmat(const float rotation[9])
{
    for (int slot : { SHADER_ENV, SHADER_NORM_ENV }) {
        if (!shader_program(slot))
            continue;
        shader_use(slot);
        int at = uniform_at(slot, UNIFORM_ENVMAT);
        // GL reads the nine values column by column, so the rows arrive as columns: the
        // program sees the transpose.
        if (at >= 0)
            glf.glUniformMatrix3fvARB(at, 1, GL_FALSE, rotation);
    }
    shader_use(0);
}

void shader_set_bones(int count, const float *centres, const float *translations, const float *rotations)
{
    int slot = g_shaders.current;
    if (slot < 1 || slot >= SHADER_SLOTS || !g_shaders.program[slot])
        return;
    if (count < 0)
        count = 0;
    if (count > MAX_BONE)
        count = MAX_BONE;
    int at = uniform_at(slot, UNIFORM_NBONES);
    if (at >= 0)
        glf.glUniform1iARB(at, count);
    if (count < 1 || !centres || !translations || !rotations)
        return;
    if ((at = uniform_at(slot, UNIFORM_BONE_C)) >= 0)
        glf.glUniform3fvARB(at, count, centres);
    if ((at = uniform_at(slot, UNIFORM_BONE_T)) >= 0)
        glf.glUniform3fvARB(at, count, translations);
    if ((at = uniform_at(slot, UNIFORM_BONE_R)) >= 0)
        glf.glUniformMatrix3fvARB(at, count, GL_FALSE, rotations);
}
