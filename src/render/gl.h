// What the OpenGL driver offers: its strings, the optional features the renderer uses, the
// extension entry points (fetched at run time; each may be null, callers test before use),
// and the seven GLSL programs with their switcher and uniform setters.
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>

// Every entry point fetched by name; X(type, name).
#define SK_GL_ENTRY_POINTS(X) \
    X(PFNGLACTIVETEXTUREARBPROC, glActiveTextureARB) \
    X(PFNGLCLIENTACTIVETEXTUREARBPROC, glClientActiveTextureARB) \
    X(PFNGLMULTITEXCOORD1DARBPROC, glMultiTexCoord1dARB) \
    X(PFNGLMULTITEXCOORD1DVARBPROC, glMultiTexCoord1dvARB) \
    X(PFNGLMULTITEXCOORD1FARBPROC, glMultiTexCoord1fARB) \
    X(PFNGLMULTITEXCOORD1FVARBPROC, glMultiTexCoord1fvARB) \
    X(PFNGLMULTITEXCOORD1IARBPROC, glMultiTexCoord1iARB) \
    X(PFNGLMULTITEXCOORD1IVARBPROC, glMultiTexCoord1ivARB) \
    X(PFNGLMULTITEXCOORD1SARBPROC, glMultiTexCoord1sARB) \
    X(PFNGLMULTITEXCOORD1SVARBPROC, glMultiTexCoord1svARB) \
    X(PFNGLMULTITEXCOORD2DARBPROC, glMultiTexCoord2dARB) \
    X(PFNGLMULTITEXCOORD2DVARBPROC, glMultiTexCoord2dvARB) \
    X(PFNGLMULTITEXCOORD2FARBPROC, glMultiTexCoord2fARB) \
    X(PFNGLMULTITEXCOORD2FVARBPROC, glMultiTexCoord2fvARB) \
    X(PFNGLMULTITEXCOORD2IARBPROC, glMultiTexCoord2iARB) \
    X(PFNGLMULTITEXCOORD2IVARBPROC, glMultiTexCoord2ivARB) \
    X(PFNGLMULTITEXCOORD2SARBPROC, glMultiTexCoord2sARB) \
    X(PFNGLMULTITEXCOORD2SVARBPROC, glMultiTexCoord2svARB) \
    X(PFNGLMULTITEXCOORD3DARBPROC, glMultiTexCoord3dARB) \
    X(PFNGLMULTITEXCOORD3DVARBPROC, glMultiTexCoord3dvARB) \
    X(PFNGLMULTITEXCOORD3FARBPROC, glMultiTexCoord3fARB) \
    X(PFNGLMULTITEXCOORD3FVARBPROC, glMultiTexCoord3fvARB) \
    X(PFNGLMULTITEXCOORD3IARBPROC, glMultiTexCoord3iARB) \
    X(PFNGLMULTITEXCOORD3IVARBPROC, glMultiTexCoord3ivARB) \
    X(PFNGLMULTITEXCOORD3SARBPROC, glMultiTexCoord3sARB) \
    X(PFNGLMULTITEXCOORD3SVARBPROC, glMultiTexCoord3svARB) \
    X(PFNGLMULTITEXCOORD4DARBPROC, glMultiTexCoord4dARB) \
    X(PFNGLMULTITEXCOORD4DVARBPROC, glMultiTexCoord4dvARB) \
    X(PFNGLMULTITEXCOORD4FARBPROC, glMultiTexCoord4fARB) \
    X(PFNGLMULTITEXCOORD4FVARBPROC, glMultiTexCoord4fvARB) \
    X(PFNGLMULTITEXCOORD4IARBPROC, glMultiTexCoord4iARB) \
    X(PFNGLMULTITEXCOORD4IVARBPROC, glMultiTexCoord4ivARB) \
    X(PFNGLMULTITEXCOORD4SARBPROC, glMultiTexCoord4sARB) \
    X(PFNGLMULTITEXCOORD4SVARBPROC, glMultiTexCoord4svARB) \
    X(PFNGLISRENDERBUFFEREXTPROC, glIsRenderbufferEXT) \
    X(PFNGLBINDRENDERBUFFEREXTPROC, glBindRenderbufferEXT) \
    X(PFNGLDELETERENDERBUFFERSEXTPROC, glDeleteRenderbuffersEXT) \
    X(PFNGLGENRENDERBUFFERSEXTPROC, glGenRenderbuffersEXT) \
    X(PFNGLRENDERBUFFERSTORAGEEXTPROC, glRenderbufferStorageEXT) \
    X(PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC, glGetRenderbufferParameterivEXT) \
    X(PFNGLISFRAMEBUFFEREXTPROC, glIsFramebufferEXT) \
    X(PFNGLBINDFRAMEBUFFEREXTPROC, glBindFramebufferEXT) \
    X(PFNGLDELETEFRAMEBUFFERSEXTPROC, glDeleteFramebuffersEXT) \
    X(PFNGLGENFRAMEBUFFERSEXTPROC, glGenFramebuffersEXT) \
    X(PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC, glCheckFramebufferStatusEXT) \
    X(PFNGLFRAMEBUFFERTEXTURE1DEXTPROC, glFramebufferTexture1DEXT) \
    X(PFNGLFRAMEBUFFERTEXTURE2DEXTPROC, glFramebufferTexture2DEXT) \
    X(PFNGLFRAMEBUFFERTEXTURE3DEXTPROC, glFramebufferTexture3DEXT) \
    X(PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC, glFramebufferRenderbufferEXT) \
    X(PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC, glGetFramebufferAttachmentParameterivEXT) \
    X(PFNGLGENERATEMIPMAPEXTPROC, glGenerateMipmapEXT) \
    X(PFNGLDELETEOBJECTARBPROC, glDeleteObjectARB) \
    X(PFNGLGETHANDLEARBPROC, glGetHandleARB) \
    X(PFNGLDETACHOBJECTARBPROC, glDetachObjectARB) \
    X(PFNGLCREATESHADEROBJECTARBPROC, glCreateShaderObjectARB) \
    X(PFNGLSHADERSOURCEARBPROC, glShaderSourceARB) \
    X(PFNGLCOMPILESHADERARBPROC, glCompileShaderARB) \
    X(PFNGLCREATEPROGRAMOBJECTARBPROC, glCreateProgramObjectARB) \
    X(PFNGLATTACHOBJECTARBPROC, glAttachObjectARB) \
    X(PFNGLLINKPROGRAMARBPROC, glLinkProgramARB) \
    X(PFNGLUSEPROGRAMOBJECTARBPROC, glUseProgramObjectARB) \
    X(PFNGLVALIDATEPROGRAMARBPROC, glValidateProgramARB) \
    X(PFNGLUNIFORM1FARBPROC, glUniform1fARB) \
    X(PFNGLUNIFORM1FVARBPROC, glUniform1fvARB) \
    X(PFNGLUNIFORM1IARBPROC, glUniform1iARB) \
    X(PFNGLUNIFORM1IVARBPROC, glUniform1ivARB) \
    X(PFNGLUNIFORM2FARBPROC, glUniform2fARB) \
    X(PFNGLUNIFORM2FVARBPROC, glUniform2fvARB) \
    X(PFNGLUNIFORM2IARBPROC, glUniform2iARB) \
    X(PFNGLUNIFORM2IVARBPROC, glUniform2ivARB) \
    X(PFNGLUNIFORM3FARBPROC, glUniform3fARB) \
    X(PFNGLUNIFORM3FVARBPROC, glUniform3fvARB) \
    X(PFNGLUNIFORM3IARBPROC, glUniform3iARB) \
    X(PFNGLUNIFORM3IVARBPROC, glUniform3ivARB) \
    X(PFNGLUNIFORM4FARBPROC, glUniform4fARB) \
    X(PFNGLUNIFORM4FVARBPROC, glUniform4fvARB) \
    X(PFNGLUNIFORM4IARBPROC, glUniform4iARB) \
    X(PFNGLUNIFORM4IVARBPROC, glUniform4ivARB) \
    X(PFNGLUNIFORMMATRIX2FVARBPROC, glUniformMatrix2fvARB) \
    X(PFNGLUNIFORMMATRIX3FVARBPROC, glUniformMatrix3fvARB) \
    X(PFNGLUNIFORMMATRIX4FVARBPROC, glUniformMatrix4fvARB) \
    X(PFNGLGETOBJECTPARAMETERFVARBPROC, glGetObjectParameterfvARB) \
    X(PFNGLGETOBJECTPARAMETERIVARBPROC, glGetObjectParameterivARB) \
    X(PFNGLGETINFOLOGARBPROC, glGetInfoLogARB) \
    X(PFNGLGETATTACHEDOBJECTSARBPROC, glGetAttachedObjectsARB) \
    X(PFNGLGETUNIFORMLOCATIONARBPROC, glGetUniformLocationARB) \
    X(PFNGLGETACTIVEUNIFORMARBPROC, glGetActiveUniformARB) \
    X(PFNGLGETUNIFORMFVARBPROC, glGetUniformfvARB) \
    X(PFNGLGETUNIFORMIVARBPROC, glGetUniformivARB) \
    X(PFNGLGETSHADERSOURCEARBPROC, glGetShaderSourceARB) \
    X(PFNGLVERTEXATTRIB1DARBPROC, glVertexAttrib1dARB) \
    X(PFNGLVERTEXATTRIB1DVARBPROC, glVertexAttrib1dvARB) \
    X(PFNGLVERTEXATTRIB1FARBPROC, glVertexAttrib1fARB) \
    X(PFNGLVERTEXATTRIB1FVARBPROC, glVertexAttrib1fvARB) \
    X(PFNGLVERTEXATTRIB1SARBPROC, glVertexAttrib1sARB) \
    X(PFNGLVERTEXATTRIB1SVARBPROC, glVertexAttrib1svARB) \
    X(PFNGLVERTEXATTRIB2DARBPROC, glVertexAttrib2dARB) \
    X(PFNGLVERTEXATTRIB2DVARBPROC, glVertexAttrib2dvARB) \
    X(PFNGLVERTEXATTRIB2FARBPROC, glVertexAttrib2fARB) \
    X(PFNGLVERTEXATTRIB2FVARBPROC, glVertexAttrib2fvARB) \
    X(PFNGLVERTEXATTRIB2SARBPROC, glVertexAttrib2sARB) \
    X(PFNGLVERTEXATTRIB2SVARBPROC, glVertexAttrib2svARB) \
    X(PFNGLVERTEXATTRIB3DARBPROC, glVertexAttrib3dARB) \
    X(PFNGLVERTEXATTRIB3DVARBPROC, glVertexAttrib3dvARB) \
    X(PFNGLVERTEXATTRIB3FARBPROC, glVertexAttrib3fARB) \
    X(PFNGLVERTEXATTRIB3FVARBPROC, glVertexAttrib3fvARB) \
    X(PFNGLVERTEXATTRIB3SARBPROC, glVertexAttrib3sARB) \
    X(PFNGLVERTEXATTRIB3SVARBPROC, glVertexAttrib3svARB) \
    X(PFNGLVERTEXATTRIB4NBVARBPROC, glVertexAttrib4NbvARB) \
    X(PFNGLVERTEXATTRIB4NIVARBPROC, glVertexAttrib4NivARB) \
    X(PFNGLVERTEXATTRIB4NSVARBPROC, glVertexAttrib4NsvARB) \
    X(PFNGLVERTEXATTRIB4NUBARBPROC, glVertexAttrib4NubARB) \
    X(PFNGLVERTEXATTRIB4NUBVARBPROC, glVertexAttrib4NubvARB) \
    X(PFNGLVERTEXATTRIB4NUIVARBPROC, glVertexAttrib4NuivARB) \
    X(PFNGLVERTEXATTRIB4NUSVARBPROC, glVertexAttrib4NusvARB) \
    X(PFNGLVERTEXATTRIB4BVARBPROC, glVertexAttrib4bvARB) \
    X(PFNGLVERTEXATTRIB4DARBPROC, glVertexAttrib4dARB) \
    X(PFNGLVERTEXATTRIB4DVARBPROC, glVertexAttrib4dvARB) \
    X(PFNGLVERTEXATTRIB4FARBPROC, glVertexAttrib4fARB) \
    X(PFNGLVERTEXATTRIB4FVARBPROC, glVertexAttrib4fvARB) \
    X(PFNGLVERTEXATTRIB4IVARBPROC, glVertexAttrib4ivARB) \
    X(PFNGLVERTEXATTRIB4SARBPROC, glVertexAttrib4sARB) \
    X(PFNGLVERTEXATTRIB4SVARBPROC, glVertexAttrib4svARB) \
    X(PFNGLVERTEXATTRIB4UBVARBPROC, glVertexAttrib4ubvARB) \
    X(PFNGLVERTEXATTRIB4UIVARBPROC, glVertexAttrib4uivARB) \
    X(PFNGLVERTEXATTRIB4USVARBPROC, glVertexAttrib4usvARB) \
    X(PFNGLVERTEXATTRIBDIVISORARBPROC, glVertexAttribDivisorARB) \
    X(PFNGLVERTEXATTRIBL1UI64ARBPROC, glVertexAttribL1ui64ARB) \
    X(PFNGLVERTEXATTRIBL1UI64VARBPROC, glVertexAttribL1ui64vARB) \
    X(PFNGLVERTEXATTRIBPOINTERARBPROC, glVertexAttribPointerARB) \
    X(PFNGLENABLEVERTEXATTRIBARRAYARBPROC, glEnableVertexAttribArrayARB) \
    X(PFNGLDISABLEVERTEXATTRIBARRAYARBPROC, glDisableVertexAttribArrayARB) \
    X(PFNGLBINDATTRIBLOCATIONARBPROC, glBindAttribLocationARB) \
    X(PFNGLGETACTIVEATTRIBARBPROC, glGetActiveAttribARB) \
    X(PFNGLGETATTRIBLOCATIONARBPROC, glGetAttribLocationARB) \
    X(PFNGLCOMPRESSEDTEXIMAGE2DARBPROC, glCompressedTexImage2DARB) \
    X(PFNGLGETCOMPRESSEDTEXIMAGEARBPROC, glGetCompressedTexImageARB)

struct GlFunctions {
#define SK_GL_MEMBER(type, name) type name;
    SK_GL_ENTRY_POINTS(SK_GL_MEMBER)
#undef SK_GL_MEMBER
};
extern GlFunctions glf;

struct GlCaps {
    char vendor[256], renderer[256], version[256];
    const char *extensions;             // the driver's string, "NULL" when it gave none
    int major, minor;                   // from the version, "%d.%d"; 0 when unreadable
    bool generate_mipmap;               // GL_SGIS_generate_mipmap
    bool framebuffer_object;            // GL_EXT_framebuffer_object
    bool multitexture;                  // GL_ARB_multitexture
    bool fragment_shader;               // GL_ARB_fragment_shader
    bool vertex_shader;                 // GL_ARB_vertex_shader
    int texture_units;                  // 1 without multitexture
};
extern GlCaps gl_caps;

// Fills gl_caps from the current context and fetches the entry points. Without a context
// every string reads "NULL" and every flag is off.
void gl_probe(void);
// True when name is one whole blank-separated token of the extension string.
bool gl_has_extension(const char *name);
// The same over any extension list (for tests and for gl_has_extension).
bool gl_extension_in(const char *list, const char *name);

enum {
    SHADER_FIXED = 0, SHADER_LIT, SHADER_ENV, SHADER_NORM_LIT, SHADER_NORM_ENV, SHADER_NORM_SPEC_LIT,
    SHADER_TERRAIN_NORMALS, SHADER_TERRAIN, SHADER_SLOTS,
    MAX_BONE = 32,
};

struct ShaderSource {
    const char *name;
    const char *vertex, *fragment;
};
// The game's own sources of slots 1..7 (index 0 is slot 1).
extern const ShaderSource k_shader_sources[SHADER_SLOTS - 1];

// Compiles and links slots 1..7; true when all seven succeed. On any failure (logged with the
// driver's info log) everything built so far is deleted and false returned.
bool shaders_build(void);
// The same from other sources (seven entries, slot order).
bool shaders_build_from(const ShaderSource *sources);
void shaders_delete(void);                  // back to the fixed-function pipeline
// Switches program only when slot differs from the current one; slots above 7 are ignored.
void shader_use(int slot);
int  shader_current(void);
unsigned shader_program(int slot);          // 0 outside 1..7 or when not built
int  shader_switch_count(void);
void shader_reset_switch_count(void);
// One sampler uniform of a program; switches to it and back to slot 0.
void shader_set_sampler(int slot, const char *sampler, int unit);
// Loads the transpose of a row-major 3x3 rotation into "envmat" of slots 2 and 4.
void shader_set_envmat(const float rotation[9]);
// For the current program (1..7): "nbones" = count, and with count >= 1 the centres and
// translations (count vec3 each) and rotations (count mat3, not transposed). Counts above
// MAX_BONE are cut to MAX_BONE.
void shader_set_bones(int count, const float *centres, const float *translations, const float *rotations);
