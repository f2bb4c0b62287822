// Replays the committed fuzz corpus (truncations, huge dimensions, bad headers) through the
// same entries the fuzzers use, then checks the outcome the game depends on for the tricky ones.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "../../fuzz/fuzz_targets.h"
#include "../../vfs/temp_home.h"

static std::string corpus_dir(const std::string &target)
{
    return std::string(SK_TEST_DATA_DIR) + "/fuzz-corpus/" + target;
}

static std::vector<std::string> corpus(const std::string &target)
{
    std::vector<std::string> files;
    DIR *d = opendir(corpus_dir(target).c_str());
    if (!d)
        return files;
    while (struct dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            files.push_back(e->d_name);
    closedir(d);
    return files;
}

static std::string seed(const std::string &target, const std::string &name)
{
    return read_bytes(corpus_dir(target) + "/" + name);
}

TEST(FuzzCorpus, EveryTargetSurvivesItsSeeds)
{
    TempHome t;         // sequences may try to open the files they name
    struct {
        const char *name;
        void (*run)(const uint8_t *, size_t);
    } const targets[] = {
        { "archive", fuzz_archive }, { "gzip", fuzz_gzip }, { "png", fuzz_png }, { "pnm", fuzz_pnm },
        { "jpred", fuzz_jpred },     { "seq", fuzz_seq },   { "image", fuzz_image },
    };
    for (const auto &target : targets) {
        std::vector<std::string> files = corpus(target.name);
        EXPECT_GE(files.size(), 5u) << target.name;
        for (const std::string &f : files) {
            std::string bytes = seed(target.name, f);
            target.run((const uint8_t *)bytes.data(), bytes.size());
        }
    }
}

static int archive_members(const std::string &bytes)
{
    FILE *f = fmemopen((void *)bytes.data(), bytes.size(), "rb");
    ArchiveMember *m = nullptr;
    int n = archive_read_header(f, (long long)bytes.size(), &m);
    fclose(f);
    archive_free_members(m, n > 0 ? n : 0);
    return n;
}

TEST(FuzzCorpus, ArchiveSeedsGiveTheExpectedVerdicts)
{
    EXPECT_EQ(archive_members(seed("archive", "good")), 3);
    for (const char *bad : { "dotdot", "negative", "past-end", "total-overflow", "no-dash", "long-line", "crlf",
                             "nul-name" })
        EXPECT_EQ(archive_members(seed("archive", bad)), -1) << bad;
}

TEST(FuzzCorpus, GzipSeeds)
{
    std::string good = seed("gzip", "good");
    DataFile *f = open_memory_data_file(good.data(), good.size(), true);
    ASSERT_NE(f, nullptr);
    std::string text = drain(f);
    close_data_file(f);
    EXPECT_EQ(text.substr(0, 14), "line 0\nline 1\n");
    EXPECT_EQ(text.size(), 1690u);      // "line 0\n" .. "line 199\n": 10*7 + 90*8 + 100*9
    std::string all = seed("gzip", "all-fields");
    f = open_memory_data_file(all.data(), all.size(), true);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(drain(f), text);
    close_data_file(f);
    for (const char *bad : { "truncated-header", "bad-method", "bad-flags", "extra-too-long", "name-unterminated" }) {
        std::string b = seed("gzip", bad);
        EXPECT_EQ(open_memory_data_file(b.data(), b.size(), true), nullptr) << bad;
    }
}

TEST(FuzzCorpus, ImageSeedsFailWithoutResults)
{
    struct {
        const char *target, *name;
        bool ok;
    } const cases[] = {
        { "png", "good", true },          { "png", "huge-dims", false },   { "png", "over-limit", false },
        { "png", "zero-width", false },   { "png", "truncated", false },   { "png", "palette-missing", false },
        { "png", "sig-only", false },     { "png", "xcsn0g01.png", false }, { "pnm", "p6", true },
        { "pnm", "maxval0", false },      { "pnm", "huge", false },        { "pnm", "truncated", false },
        { "pnm", "comment-forever", false }, { "jpred", "j6", true },     { "jpred", "huge", false },
        { "jpred", "truncated", false },  { "jpred", "no-space", false },  { "seq", "good", true },
        { "seq", "mismatch", false },     { "seq", "depth", false },       { "seq", "huge-q", false },
        { "seq", "huge-p", false },       { "seq", "frame-out-of-range", false }, { "seq", "step-zero", true },
        { "seq", "eof", false },          { "seq", "png-missing", false }, { "image", "link", true },
        { "image", "link-empty", false }, { "image", "empty", false },
        // Found by fuzzing: chunk lengths of 1-2 GiB in a 100-byte file made libpng clear a buffer
        // that size before noticing the bytes were missing.
        { "png", "chunk-length-2gib", false }, { "image", "chunk-length-1gib", false },
    };
    TempHome t;
    for (const auto &c : cases) {
        std::string bytes = seed(c.target, c.name);
        ImageFile f;
        bool ok = image_decode_memory((const unsigned char *)bytes.data(), bytes.size(), c.name, &f);
        EXPECT_EQ(ok, c.ok) << c.target << "/" << c.name;
        if (!ok) {
            EXPECT_EQ(f.kind, IMAGE_NONE);
            EXPECT_EQ(f.image.pixels, nullptr);
        }
        image_file_free(&f);
    }
}
