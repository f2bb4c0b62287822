// One entry per fuzzed reader, shared by the libFuzzer targets and the corpus replay test.
// Each takes arbitrary bytes, runs the reader over them and frees whatever it produced.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "render/image/image.h"
#include "render/model/model.h"
#include "vfs/archive.h"
#include "vfs/vfs.h"

inline void fuzz_archive(const uint8_t *data, size_t n)
{
    static uint8_t empty[1];
    FILE *f = fmemopen(n ? (void *)data : (void *)empty, n ? n : 1, "rb");
    if (!f)
        return;
    ArchiveMember *members = nullptr;
    int count = archive_read_header(f, (long long)n, &members);
    fclose(f);
    for (int i = 0; i < count; i++) {
        // Offsets and sizes must describe bytes that exist.
        if (members[i].offset < 0 || members[i].size < 0 || (size_t)members[i].offset + (size_t)members[i].size > n)
            __builtin_trap();
    }
    if (count > 0)
        archive_free_members(members, count);
}

inline void fuzz_gzip(const uint8_t *data, size_t n)
{
    DataFile *f = open_memory_data_file(data, n, true);
    if (!f)
        return;
    // Alternate the read operations; stop after 1 MiB so a deflate bomb ends quickly.
    char buf[4096];
    size_t total = 0;
    for (int round = 0; total < (1u << 20); round++) {
        size_t got;
        if (round % 3 == 0) {
            got = data_read(f, buf, sizeof buf);
        } else if (round % 3 == 1) {
            got = data_gets(f, buf, 100) ? strlen(buf) + 1 : 0;
        } else {
            int c = data_peekc(f);
            got = c >= 0 && data_getc(f) == c ? 1 : 0;
        }
        if (got == 0)
            break;
        total += got;
    }
    close_data_file(f);
}

inline void fuzz_png(const uint8_t *data, size_t n)
{
    Image img;
    if (png_decode_memory(data, n, "fuzz", &img))
        image_free(&img);
    int w, h;
    xfree(png16_decode_memory(data, n, "fuzz", &w, &h));
}

inline void fuzz_pnm(const uint8_t *data, size_t n)
{
    int w, h;
    xfree(pnm_decode_memory(data, n, false, &w, &h));
    xfree(pnm_decode_memory(data, n, true, &w, &h));
}

inline void fuzz_jpred(const uint8_t *data, size_t n)
{
    Image img;
    if (jpred_decode_memory(data, n, "fuzz", &img))
        image_free(&img);
}

inline void fuzz_seq(const uint8_t *data, size_t n)
{
    ImageFile f;
    memset(&f, 0, sizeof f);
    if (seq_decode_memory(data, n, "fuzz", &f.sequence)) {
        f.kind = IMAGE_SEQUENCE;
        image_file_free(&f);
    }
}

inline void fuzz_image(const uint8_t *data, size_t n)
{
    ImageFile f;
    if (image_decode_memory(data, n, "fuzz", &f)) {
        if (f.kind == IMAGE_PICTURE) {
            image_apply_info(&f.image, "fuzz");
        }
        image_file_free(&f);
    }
}

inline void fuzz_model(const uint8_t *data, size_t n)
{
    Model *m = model_read_memory(data, n, "fuzz");
    if (!m)
        return;
    // Whatever was kept must index inside its own arrays.
    for (const Mesh *mesh = m->meshes; mesh; mesh = mesh->next) {
        for (int i = 0; i < mesh->nt * 3; i++)
            if (mesh->triangles[i] < 0 || mesh->triangles[i] >= mesh->nv)
                __builtin_trap();
        for (int i = 0; mesh->bones && i < mesh->nv * 4; i++)
            if (mesh->bones[i] >= MODEL_MAX_BONES)
                __builtin_trap();
    }
    model_free(m);
}
