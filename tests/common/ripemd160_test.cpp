#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/ripemd160.h"

static std::string hex(const uint8_t d[20])
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < 20; i++) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

static std::string digest_of(const std::string &text)
{
    Ripemd160 ctx;
    uint8_t d[20];
    ripemd160_init(&ctx);
    ripemd160_update(&ctx, text.data(), text.size());
    ripemd160_final(&ctx, d);
    return hex(d);
}

// The published ISO/IEC 10118-3 test vectors.
TEST(Ripemd160, IsoVectors)
{
    EXPECT_EQ(digest_of(""), "9c1185a5c5e9fc54612808977ee8f548b2258d31");
    EXPECT_EQ(digest_of("a"), "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe");
    EXPECT_EQ(digest_of("abc"), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
    EXPECT_EQ(digest_of("message digest"), "5d0689ef49d2fae572b881b123a85ffa21595f36");
    EXPECT_EQ(digest_of("abcdefghijklmnopqrstuvwxyz"), "f71c27109c692c1b56bbdceb5b9d2865b3708dbc");
    EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "12a053384a9c0c88e405a06c27dcf49ada62eb2b");
    EXPECT_EQ(digest_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "b0e20b6e3116640286ed3a87a5713079b21f5189");
    std::string eighty;
    for (int i = 0; i < 8; i++)
        eighty += "1234567890";
    EXPECT_EQ(digest_of(eighty), "9b752e45573d4b39f4dbd3323cab82bf63326bfb");
}

TEST(Ripemd160, MillionAs)
{
    Ripemd160 ctx;
    uint8_t d[20];
    char block[1000];
    memset(block, 'a', sizeof block);
    ripemd160_init(&ctx);
    for (int i = 0; i < 1000; i++)
        ripemd160_update(&ctx, block, sizeof block);
    ripemd160_final(&ctx, d);
    EXPECT_EQ(hex(d), "52783243c1697bdbe16d37f97f68f08325dc1528");
}

TEST(Ripemd160, UpdatesSplitAtOddBoundaries)
{
    const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::string whole = digest_of(text);
    const size_t steps[] = { 1, 3, 7, 55, 56, 57, 63, 64, 65 };
    for (size_t step : steps) {
        Ripemd160 ctx;
        uint8_t d[20];
        ripemd160_init(&ctx);
        for (size_t at = 0; at < text.size(); at += step)
            ripemd160_update(&ctx, text.data() + at, std::min(step, text.size() - at));
        ripemd160_final(&ctx, d);
        EXPECT_EQ(hex(d), whole) << "step " << step;
    }
}
