// RIPEMD-160 (ISO/IEC 10118-3): track digests and login digests.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct Ripemd160 {
    uint32_t h[5];
    uint64_t length;        // bytes hashed so far
    uint8_t block[64];
    int used;               // bytes waiting in block
};

void ripemd160_init(Ripemd160 *ctx);
void ripemd160_update(Ripemd160 *ctx, const void *data, size_t size);
void ripemd160_final(Ripemd160 *ctx, uint8_t digest[20]);   // ctx must be re-initialised after
