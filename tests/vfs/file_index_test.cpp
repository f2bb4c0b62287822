#include <gtest/gtest.h>

#include <string.h>
#include <unistd.h>

#include <vector>

#include "platform/log.h"
#include "temp_home.h"
#include "vfs/archive.h"
#include "vfs/vfs.h"

static std::string read_at(const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return "<none>";
    std::string s = drain(f);
    close_data_file(f);
    return s;
}

static std::vector<std::string> names()
{
    std::vector<std::string> v;
    for (const char *const *p = file_index_names(); *p; p++)
        v.push_back(*p);
    return v;
}

TEST(FileIndex, ArchivesServeOnlyAfterTheIndexIsBuilt)
{
    TempHome t;
    write_bytes(t.data + "pack.saf", make_archive({ { "tracks/a/desc", "from archive" } }));
    EXPECT_EQ(file_index_find("tracks/a/desc"), -1);
    EXPECT_EQ(read_at("@tracks/a/desc"), "<none>");
    file_index_names();
    EXPECT_GE(file_index_find("tracks/a/desc"), 0);
    EXPECT_EQ(read_at("@tracks/a/desc"), "from archive");
}

TEST(FileIndex, DirectoryFileBeatsArchiveMember)
{
    TempHome t;
    write_bytes(t.data + "pack.saf", make_archive({ { "tracks/a/desc", "archive" } }));
    write_bytes(t.data + "tracks/a/desc", "directory");
    file_index_names();
    EXPECT_EQ(read_at("@tracks/a/desc"), "directory");
    int pos = file_index_find("tracks/a/desc");
    int precedence = -1;
    ASSERT_TRUE(file_index_entry(pos, nullptr, nullptr, nullptr, nullptr, &precedence));
    EXPECT_EQ(precedence, 1);                   // found in search directory 1
}

TEST(FileIndex, GzipMembersInflateTransparently)
{
    TempHome t;
    std::string text = "terrain heights, many of them\n";
    write_bytes(t.data + "pack.saf", make_archive({ { "tracks/b/terrain.hf.gz", gzip_bytes(text) } }));
    file_index_names();
    EXPECT_EQ(read_at("@tracks/b/terrain.hf"), text);
}

TEST(FileIndex, FirstArchiveByNameWinsForSharedMembers)
{
    TempHome t;
    write_bytes(t.data + "b.saf", make_archive({ { "shared", "from b" } }));
    write_bytes(t.data + "A.saf", make_archive({ { "shared", "from A" } }));
    write_bytes(t.data + "c.saf", make_archive({ { "shared", "from c" } }));
    file_index_names();
    EXPECT_EQ(read_at("@shared"), "from A");
    int pos = file_index_find("shared");
    int precedence;
    ASSERT_TRUE(file_index_entry(pos, nullptr, nullptr, nullptr, nullptr, &precedence));
    EXPECT_EQ(precedence, 2);                   // first archive after two search directories
}

TEST(FileIndex, LookupsIgnoreLetterCase)
{
    TempHome t;
    write_bytes(t.data + "pack.saf", make_archive({ { "tracks/a/terrain.hf", "hf" } }));
    file_index_names();
    EXPECT_EQ(read_at("@Tracks/A/Terrain.hf"), "hf");
    EXPECT_EQ(file_index_find("TRACKS/A/TERRAIN.HF"), file_index_find("tracks/a/terrain.hf"));
}

TEST(FileIndex, CarriageReturnStaysInTheMemberName)
{
    TempHome t;
    write_bytes(t.data + "pack.saf", "3 dos\r\n2 unix\n-\nabcde");
    file_index_names();
    EXPECT_EQ(file_index_find("dos"), -1);
    EXPECT_EQ(read_at("@dos\r"), "abc");
    EXPECT_EQ(read_at("@unix"), "de");
}

TEST(FileIndex, DistinctNamesKeepTheWinningSpelling)
{
    TempHome t;
    write_bytes(t.home + "Readme", "h");
    write_bytes(t.data + "README", "d");
    write_bytes(t.data + "alpha", "a");
    write_bytes(t.data + "pack.saf", make_archive({ { "readme", "s" }, { "zeta", "z" } }));
    std::vector<std::string> want = { "alpha", "pack.saf", "Readme", "zeta" };
    EXPECT_EQ(names(), want);
    EXPECT_EQ(file_index_count(), 6);
}

TEST(FileIndex, DescribeNamesTheEntryAndItsFile)
{
    TempHome t;
    write_bytes(t.data + "pack.saf", make_archive({ { "m", "x" } }));
    file_index_names();
    int pos = file_index_find("m");
    char buf[1024];
    ASSERT_TRUE(file_index_describe(pos, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), "m -> " + t.data + "pack.saf");
    char small[6];
    ASSERT_TRUE(file_index_describe(pos, small, sizeof small));
    EXPECT_STREQ(small, "m -> ");
    EXPECT_FALSE(file_index_describe(-1, buf, sizeof buf));
    EXPECT_FALSE(file_index_describe(file_index_count(), buf, sizeof buf));
}

TEST(FileIndex, MemberOffsetsFollowTheHeader)
{
    TempHome t;
    // Header "2 a\n3 b\n-\n" is 10 bytes: a at 10 (2 bytes), b at 12 (3 bytes).
    write_bytes(t.data + "p.saf", "2 a\n3 b\n-\nAABBB");
    file_index_names();
    int offset, size;
    ASSERT_TRUE(file_index_entry(file_index_find("a"), nullptr, nullptr, &offset, &size, nullptr));
    EXPECT_EQ(offset, 10);
    EXPECT_EQ(size, 2);
    ASSERT_TRUE(file_index_entry(file_index_find("b"), nullptr, nullptr, &offset, &size, nullptr));
    EXPECT_EQ(offset, 12);
    EXPECT_EQ(size, 3);
    DataFile *f = open_data_file("@b", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(data_seek(f, 1));
    EXPECT_EQ(data_getc(f), 'B');
    EXPECT_TRUE(data_seek(f, 3));
    EXPECT_EQ(data_getc(f), -1);                // the window ends with the member
    EXPECT_FALSE(data_seek(f, 4));
    close_data_file(f);
}

TEST(FileIndex, MalformedArchivesAreDroppedWhole)
{
    TempHome t;
    const char *bad[] = {
        "1 ok\n1 ../escape\n-\nab",
        "1 ok\n1 /abs\n-\nab",
        "1 ok\n1 \\abs\n-\nab",
        "1 ok\n1 a/./b\n-\nab",
        "1 ok\n1 a\\..\\b\n-\nab",
        "1 ok\n1 \n-\nab",
        "1 ok\n-1 neg\n-\nab",
        "1 ok\nx1 word\n-\nab",
        "1 ok\n5 past\n-\nab",
        "1 ok\n99999999999 huge\n-\nab",
        "1 ok\n1 nodash\n",
        "1 ok\n1 cut",
        "1 ok\n1 dir/\n-\nab",
    };
    int i = 0;
    for (const char *a : bad)
        write_bytes(t.data + "bad" + std::to_string(i++) + ".saf", a);
    std::string long_line = "1 " + std::string(1030, 'n') + "\n-\na";
    write_bytes(t.data + "long.saf", "1 ok\n" + long_line);
    file_index_names();
    EXPECT_EQ(file_index_find("ok"), -1);
    EXPECT_EQ(file_index_count(), i + 1);       // only the archive files themselves
}

static int g_ticks;
static void count_tick(void)
{
    g_ticks++;
}

static std::string g_log;
static void keep_log(const char *text)
{
    g_log += text;
}

TEST(FileIndex, LinkedFoldersAreListedUnderTheLinksName)
{
    TempHome t;
    write_bytes(t.root + "/elsewhere/tracks/a/terrain.hf", "hf");
    write_bytes(t.data + "real/file", "x");
    ASSERT_EQ(symlink((t.root + "/elsewhere/tracks").c_str(), (t.data + "tracks").c_str()), 0);
    ASSERT_EQ(symlink((t.data + "real").c_str(), (t.data + "alias").c_str()), 0);
    ASSERT_EQ(symlink((t.data + "real/file").c_str(), (t.data + "linked").c_str()), 0);
    ASSERT_EQ(symlink((t.root + "/nowhere").c_str(), (t.data + "dangling").c_str()), 0);
    file_index_names();
    EXPECT_GE(file_index_find("tracks/a/terrain.hf"), 0);
    EXPECT_EQ(read_at("@tracks/a/terrain.hf"), "hf");
    EXPECT_GE(file_index_find("real/file"), 0);
    EXPECT_GE(file_index_find("alias/file"), 0);        // a link into the tree lists it again
    EXPECT_GE(file_index_find("linked"), 0);
    EXPECT_EQ(file_index_find("dangling"), -1);
}

TEST(FileIndex, LinksThatLoopOrRepeatAreWalkedOnce)
{
    TempHome t;
    write_bytes(t.data + "real/file", "x");
    ASSERT_EQ(symlink((t.data + "real").c_str(), (t.data + "real/loop").c_str()), 0);
    ASSERT_EQ(symlink(t.data.c_str(), (t.data + "real/top").c_str()), 0);
    // Ten levels outside, each with two links to the next: followed naively, 2^10 walks.
    const int levels = 10;
    for (int i = 0; i <= levels; i++)
        write_bytes(t.root + "/ext/l" + std::to_string(i) + "/f", "x");
    for (int i = 0; i < levels; i++) {
        std::string next = t.root + "/ext/l" + std::to_string(i + 1);
        std::string at = t.root + "/ext/l" + std::to_string(i) + "/";
        ASSERT_EQ(symlink(next.c_str(), (at + "a").c_str()), 0);
        ASSERT_EQ(symlink(next.c_str(), (at + "b").c_str()), 0);
    }
    ASSERT_EQ(symlink((t.root + "/ext/l0").c_str(), (t.data + "start").c_str()), 0);
    g_ticks = 0;
    vfs_set_progress_hook(count_tick);
    file_index_names();
    vfs_set_progress_hook(nullptr);
    EXPECT_EQ(file_index_find("real/loop/file"), -1);
    EXPECT_EQ(file_index_find("real/top/real/file"), -1);
    // data, real, start and one walk of each level below it.
    EXPECT_EQ(g_ticks, 3 + levels);
    // real/file, then each level's file once, under whichever link reached it first.
    EXPECT_EQ(file_index_count(), 1 + levels + 1);
}

TEST(FileIndex, MembersShareTheirArchivesPath)
{
    TempHome t;
    write_bytes(t.data + "pack.saf", make_archive({ { "a", "1" }, { "b", "2" } }));
    file_index_names();
    const char *pa = nullptr, *pb = nullptr;
    ASSERT_TRUE(file_index_entry(file_index_find("a"), &pa, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(file_index_entry(file_index_find("b"), &pb, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::string(pa), t.data + "pack.saf");
    EXPECT_EQ(pa, pb);                          // one copy per archive, not per member
    EXPECT_EQ(read_at("@b"), "2");
}

TEST(FileIndex, ArchivesOverTheMemberCapOrDamagedAreSkippedWithAMessage)
{
    TempHome t;
    std::string header, body;
    for (int i = 0; i <= ARCHIVE_MAX_MEMBERS; i++) {
        header += "1 m" + std::to_string(i) + "\n";
        body += "x";
    }
    write_bytes(t.data + "huge.saf", header + "-\n" + body);
    write_bytes(t.data + "broken.saf", "1 ok\n1 nodash\n");
    write_bytes(t.data + "small.saf", make_archive({ { "kept", "k" } }));
    g_log.clear();
    log_set_observer(keep_log);
    file_index_names();
    log_set_observer(nullptr);
    EXPECT_EQ(file_index_find("m0"), -1);
    EXPECT_EQ(file_index_find("ok"), -1);
    EXPECT_EQ(read_at("@kept"), "k");
    EXPECT_NE(g_log.find("Archive " + t.data + "huge.saf holds more than 100000 files and is skipped"),
              std::string::npos)
        << g_log;
    EXPECT_NE(g_log.find("Archive " + t.data + "broken.saf is damaged and is skipped"), std::string::npos);
    EXPECT_EQ(g_log.find("small.saf"), std::string::npos);
}

TEST(FileIndex, ProgressTicksPerDirectoryAndArchive)
{
    TempHome t;
    write_bytes(t.data + "one/two/f", "x");
    write_bytes(t.data + "p.saf", make_archive({ { "m", "x" } }));
    g_ticks = 0;
    vfs_set_progress_hook(count_tick);
    file_index_names();
    vfs_set_progress_hook(nullptr);
    // Directories: home is missing (not walked), data, one, two; then one archive.
    EXPECT_EQ(g_ticks, 4);
}

TEST(FileIndex, FilesWrittenLaterAreFoundDirectlyButNotListed)
{
    TempHome t;
    write_bytes(t.data + "early", "e");
    file_index_names();
    DataFile *f = open_data_file("@late", "w");
    ASSERT_NE(f, nullptr);
    data_puts(f, "l");
    close_data_file(f);
    EXPECT_EQ(read_at("@late"), "l");
    EXPECT_EQ(file_index_find("late"), -1);
    EXPECT_EQ(names(), std::vector<std::string>{ "early" });
}
