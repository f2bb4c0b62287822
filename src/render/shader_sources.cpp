// The GLSL sources of the seven programs (GLSL 1.10 over the fixed-function state: one sun in
// light 0, the front material, exponential fog). Each begins with the bone palette's size.
#include "render/gl.h"

#define HEAD "#define MAX_BONE 32\n"

// Skinning: four weights in texture-coordinate set 2, four bone indices in set 3.
#define SKIN_DECL \
    "uniform int nbones;\n" \
    "uniform vec3 bone_c[MAX_BONE];\n" \
    "uniform vec3 bone_t[MAX_BONE];\n" \
    "uniform mat3 bone_r[MAX_BONE];\n" \
    "void add_bone(float w, float index, inout vec3 p, inout vec3 n, inout vec3 t) {\n" \
    "    int b = int(clamp(index, 0.0, float(MAX_BONE - 1)));\n" \
    "    p += w * (bone_r[b] * (gl_Vertex.xyz - bone_c[b]) + bone_t[b]);\n" \
    "    n += w * (bone_r[b] * gl_Normal);\n" \
    "    t += w * (bone_r[b] * gl_MultiTexCoord1.xyz);\n" \
    "}\n" \
    "void skin(out vec4 pos, out vec3 nrm, out vec3 tan) {\n" \
    "    if (nbones == 0) {\n" \
    "        pos = gl_Vertex; nrm = gl_Normal; tan = gl_MultiTexCoord1.xyz;\n" \
    "        return;\n" \
    "    }\n" \
    "    vec3 p = vec3(0.0), n = vec3(0.0), t = vec3(0.0);\n" \
    "    vec4 w = gl_MultiTexCoord2, b = gl_MultiTexCoord3;\n" \
    "    add_bone(w.x, b.x, p, n, t);\n" \
    "    add_bone(w.y, b.y, p, n, t);\n" \
    "    add_bone(w.z, b.z, p, n, t);\n" \
    "    add_bone(w.w, b.w, p, n, t);\n" \
    "    pos = vec4(p, 1.0); nrm = n; tan = t;\n" \
    "}\n"

static const char k_skinned_vertex[] = HEAD SKIN_DECL
    "varying vec3 normal;\n"
    "varying vec3 viewer;\n"
    "void main() {\n"
    "    vec4 pos; vec3 nrm, tan;\n"
    "    skin(pos, nrm, tan);\n"
    "    gl_Position = gl_ModelViewProjectionMatrix * pos;\n"
    "    normal = gl_NormalMatrix * nrm;\n"
    "    viewer = vec3(gl_ModelViewMatrix * pos);\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "    gl_FrontColor = gl_Color;\n"
    "}\n";

static const char k_tangent_vertex[] = HEAD SKIN_DECL
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    "varying vec3 viewer;\n"
    "void main() {\n"
    "    vec4 pos; vec3 nrm, tan;\n"
    "    skin(pos, nrm, tan);\n"
    "    gl_Position = gl_ModelViewProjectionMatrix * pos;\n"
    "    normal = gl_NormalMatrix * nrm;\n"
    "    tangent = gl_NormalMatrix * tan;\n"
    "    viewer = vec3(gl_ModelViewMatrix * pos);\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "    gl_FrontColor = gl_Color;\n"
    "}\n";

// e^(-density z) written as a power of two.
#define FOG \
    "vec4 fogged(vec4 c) {\n" \
    "    float z = gl_FragCoord.z / gl_FragCoord.w;\n" \
    "    float f = clamp(exp2(-1.4426950408889634 * gl_Fog.density * z), 0.0, 1.0);\n" \
    "    return vec4(mix(gl_Fog.color.rgb, c.rgb, f), c.a);\n" \
    "}\n"

#define LIGHT \
    "vec3 sun() { return normalize(gl_LightSource[0].position.xyz); }\n" \
    "vec4 ambient_term(bool with_model) {\n" \
    "    vec4 a = gl_FrontMaterial.ambient * gl_LightSource[0].ambient;\n" \
    "    if (with_model) a += gl_LightModel.ambient * gl_FrontMaterial.ambient;\n" \
    "    a.a = min(a.a, 1.0);\n" \
    "    return a;\n" \
    "}\n" \
    "float reflected(vec3 N, vec3 L, float nl) {\n" \
    "    if (nl < 0.0) return 0.0;\n" \
    "    return max(dot(reflect(normalize(viewer), N), L), 0.0);\n" \
    "}\n"

// Tangent space: the normal map's rgb * 2 - 1 brought to eye space by (t, b, n).
#define TANGENT_SPACE \
    "uniform sampler2D nmap;\n" \
    "vec3 mapped_normal() {\n" \
    "    vec3 n = normalize(normal);\n" \
    "    vec3 t = normalize(tangent - n * dot(n, tangent));\n" \
    "    vec3 b = cross(n, t);\n" \
    "    vec3 m = texture2D(nmap, gl_TexCoord[0].st).rgb * 2.0 - 1.0;\n" \
    "    return normalize(mat3(t, b, n) * m);\n" \
    "}\n"

// The angular map: direction v at normalize(v.xz) * acos(v.y) / (2 pi) + 0.5.
#define ENV \
    "uniform mat3 envmat;\n" \
    "vec4 environment(vec3 N) {\n" \
    "    vec3 v = normalize(envmat * reflect(viewer, N));\n" \
    "    float l = length(v.xz);\n" \
    "    vec2 d = l > 0.0 ? v.xz / l : vec2(0.0);\n" \
    "    vec2 uv = d * acos(clamp(v.y, -1.0, 1.0)) * 0.15915494309189535 + 0.5;\n" \
    "    return texture2D(tex, uv) * gl_Color;\n" \
    "}\n"

static const char k_lit_fragment[] = HEAD
    "uniform sampler2D tex;\n"
    "varying vec3 normal;\n"
    "varying vec3 viewer;\n" FOG LIGHT
    "void main() {\n"
    "    vec3 N = normalize(normal);\n"
    "    vec3 L = sun();\n"
    "    float nl = dot(N, L);\n"
    "    vec4 diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;\n"
    "    vec4 c = (ambient_term(true) + diffuse * max(nl, 0.0)) * texture2D(tex, gl_TexCoord[0].st);\n"
    "    float r = reflected(N, L, nl);\n"
    "    c.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb * pow(r, gl_FrontMaterial.shininess);\n"
    "    gl_FragColor = fogged(c);\n"
    "}\n";

static const char k_env_fragment[] = HEAD
    "uniform sampler2D tex;\n"
    "varying vec3 normal;\n"
    "varying vec3 viewer;\n" ENV
    "void main() {\n"
    "    gl_FragColor = environment(normalize(normal));\n"
    "}\n";

static const char k_norm_lit_fragment[] = HEAD
    "uniform sampler2D tex;\n"
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    "varying vec3 viewer;\n" FOG LIGHT TANGENT_SPACE
    "void main() {\n"
    "    vec3 N = mapped_normal();\n"
    "    vec3 L = sun();\n"
    "    float nl = dot(N, L);\n"
    "    vec4 diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;\n"
    "    vec4 c = (ambient_term(true) + diffuse * max(nl, 0.0)) * texture2D(tex, gl_TexCoord[0].st);\n"
    "    float r = reflected(N, L, nl);\n"
    "    c.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb * pow(r, gl_FrontMaterial.shininess);\n"
    "    gl_FragColor = fogged(c);\n"
    "}\n";

static const char k_norm_env_fragment[] = HEAD
    "uniform sampler2D tex;\n"
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    "varying vec3 viewer;\n" TANGENT_SPACE ENV
    "void main() {\n"
    "    gl_FragColor = environment(mapped_normal());\n"
    "}\n";

// A full-alpha specular map (exponent 127.875 or more) defers to the material's shininess.
static const char k_norm_spec_lit_fragment[] = HEAD
    "uniform sampler2D tex;\n"
    "uniform sampler2D smap;\n"
    "varying vec3 normal;\n"
    "varying vec3 tangent;\n"
    "varying vec3 viewer;\n" FOG LIGHT TANGENT_SPACE
    "void main() {\n"
    "    vec3 N = mapped_normal();\n"
    "    vec3 L = sun();\n"
    "    float nl = dot(N, L);\n"
    "    vec4 diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;\n"
    "    vec4 c = (ambient_term(true) + diffuse * max(nl, 0.0)) * texture2D(tex, gl_TexCoord[0].st);\n"
    "    vec4 s = texture2D(smap, gl_TexCoord[0].st);\n"
    "    float e = s.a * 128.0 + 0.125;\n"
    "    if (e >= 127.875) e = gl_FrontMaterial.shininess;\n"
    "    float r = reflected(N, L, nl);\n"
    "    c.rgb += s.rgb * gl_LightSource[0].specular.rgb * pow(r, e);\n"
    "    gl_FragColor = fogged(c);\n"
    "}\n";

// tc addresses the base terrain-normal texture through texture matrix 1.
static const char k_terrain_normals_vertex[] = HEAD
    "varying vec2 tc;\n"
    "void main() {\n"
    "    gl_Position = ftransform();\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "    vec4 p = gl_TextureMatrix[1] * gl_Vertex;\n"
    "    tc = p.xy / p.w;\n"
    "}\n";

// A tile's detail normal (y kept in blue), turned by the screen direction of the texture's
// s axis, then tilted into the base normal's frame; green carries the base light value.
static const char k_terrain_normals_fragment[] = HEAD
    "uniform sampler2D tex;\n"
    "uniform sampler2D base;\n"
    "varying vec2 tc;\n"
    "void main() {\n"
    "    vec4 d = texture2D(tex, gl_TexCoord[0].st);\n"
    "    vec3 n = d.rbg * 2.0 - 1.0;\n"
    "    n.x = -n.x;\n"
    "    vec2 ds = vec2(dFdx(gl_TexCoord[0].s), -dFdy(gl_TexCoord[0].s));\n"
    "    vec2 m0 = length(ds) > 0.0 ? normalize(ds) : vec2(1.0, 0.0);\n"
    "    vec2 m1 = vec2(-m0.y, m0.x);\n"
    "    n.xz = m0 * n.x + m1 * n.z;\n"
    "    vec4 bt = texture2D(base, tc);\n"
    "    float bx = bt.r * 2.0 - 1.0, bz = bt.b * 2.0 - 1.0;\n"
    "    vec3 up = vec3(bx, sqrt(max(1.0 - bx * bx - bz * bz, 0.0)), bz);\n"
    "    vec3 zaxis = normalize(cross(vec3(1.0, 0.0, 0.0), up));\n"
    "    vec3 xaxis = cross(up, zaxis);\n"
    "    n = normalize(xaxis * n.x + up * n.y + zaxis * n.z);\n"
    "    float h = length(n.xz);\n"
    "    if (h > 126.0 / 128.0) {\n"
    "        n.xz *= (126.0 / 128.0) / h;\n"
    "        n.y = 0.0;\n"
    "    }\n"
    "    gl_FragColor = vec4(vec3(n.x, bt.g * 2.0 - 1.0, n.z) * 0.5 + 0.5, d.a);\n"
    "}\n";

static const char k_terrain_vertex[] = HEAD
    "varying vec3 viewer;\n"
    "void main() {\n"
    "    gl_Position = ftransform();\n"
    "    viewer = vec3(gl_ModelViewMatrix * gl_Vertex);\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "    gl_TexCoord[1] = gl_MultiTexCoord1;\n"
    "}\n";

// The terrain normal texture's green is the light value (1 = in the sun).
static const char k_terrain_fragment[] = HEAD
    "uniform sampler2D tex;\n"
    "uniform sampler2D nmap;\n"
    "uniform sampler2D smap;\n"
    "varying vec3 viewer;\n" FOG LIGHT
    "void main() {\n"
    "    vec4 nm = texture2D(nmap, gl_TexCoord[1].st);\n"
    "    float lit = nm.g;\n"
    "    vec3 n = nm.rgb * 2.0 - 1.0;\n"
    "    n.y = sqrt(max(1.0 - n.z * n.z - n.x * n.x, 0.0));\n"
    "    vec3 N = normalize(gl_NormalMatrix * n);\n"
    "    vec3 L = sun();\n"
    "    float nl = dot(N, L);\n"
    "    vec4 diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;\n"
    "    vec4 c = (ambient_term(false) + diffuse * max(nl, 0.0) * lit) * texture2D(tex, gl_TexCoord[0].st);\n"
    "    vec4 s = texture2D(smap, gl_TexCoord[0].st);\n"
    "    if (s.r > 0.0) {\n"          // most of the ground has no highlight
    "        float r = reflected(N, L, nl);\n"
    "        c.rgb += s.r * gl_LightSource[0].specular.rgb * pow(r, s.g * 128.0 + 0.125) * lit;\n"
    "    }\n"
    "    gl_FragColor = fogged(c);\n"
    "}\n";

const ShaderSource k_shader_sources[SHADER_SLOTS - 1] = {
    { "lit", k_skinned_vertex, k_lit_fragment },
    { "env", k_skinned_vertex, k_env_fragment },
    { "norm_lit", k_tangent_vertex, k_norm_lit_fragment },
    { "norm_env", k_tangent_vertex, k_norm_env_fragment },
    { "norm_spec_lit", k_tangent_vertex, k_norm_spec_lit_fragment },
    { "terrain_normals", k_terrain_normals_vertex, k_terrain_normals_fragment },
    { "terrain", k_terrain_vertex, k_terrain_fragment },
};
