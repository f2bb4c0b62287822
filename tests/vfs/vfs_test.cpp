#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include "common/mem.h"
#include "platform/log.h"
#include "temp_home.h"
#include "vfs/vfs.h"

// --- search directories ---

TEST(SearchDirs, HomeFromXdgThenDataFromSkHome)
{
    TempHome t;
    ASSERT_NE(search_dir(0), nullptr);
    EXPECT_EQ(std::string(search_dir(0)), t.home);
    EXPECT_EQ(std::string(search_dir(1)), t.data);
    EXPECT_EQ(search_dir(2), nullptr);
    EXPECT_EQ(search_dir_count(), 2);
}

TEST(SearchDirs, SkHomeExcludesTheExecutablesDirectory)
{
    TempHome t;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    std::string exe_dir = std::filesystem::path(exe).parent_path().string() + "/";
    for (int i = 0; search_dir(i); i++)
        EXPECT_NE(std::string(search_dir(i)), exe_dir);

    unsetenv("SK_HOME");
    vfs_reset_for_tests();
    ASSERT_NE(search_dir(1), nullptr);
    EXPECT_EQ(std::string(search_dir(1)), exe_dir);
}

TEST(SearchDirs, HomeFallsBackToDotLocalShare)
{
    TempHome t;
    const char *old_home = getenv("HOME");
    std::string saved = old_home ? old_home : "";
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", t.root.c_str(), 1);
    vfs_reset_for_tests();
    EXPECT_EQ(std::string(search_dir(0)), t.root + "/.local/share/Skorva/");
    if (old_home)
        setenv("HOME", saved.c_str(), 1);
}

TEST(SearchDirs, PathsAreNormalised)
{
    TempHome t;
    setenv("SK_HOME", (t.root + "//data\\\\sub//").c_str(), 1);
    vfs_reset_for_tests();
    EXPECT_EQ(std::string(search_dir(1)), t.root + "/data/sub/");
}

// --- "@" names ---

TEST(AtNames, HomeDirectoryComesBeforeDataDirectory)
{
    TempHome t;
    write_bytes(t.data + "tracks/a/desc", "data");
    DataFile *f = open_data_file("@tracks/a/desc", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(drain(f), "data");
    close_data_file(f);

    write_bytes(t.home + "tracks/a/desc", "home");
    f = open_data_file("@tracks/a/desc", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(drain(f), "home");
    close_data_file(f);

    EXPECT_EQ(open_data_file("@tracks/a/missing", "r"), nullptr);
}

TEST(AtNames, WritingCreatesTheFolderInTheHomeDirectory)
{
    TempHome t;
    DataFile *f = open_data_file("@setups/new/rider", "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(data_printf(f, "stiffness=%d\n", 12), 13);
    close_data_file(f);
    EXPECT_EQ(read_bytes(t.home + "setups/new/rider"), "stiffness=12\n");
    EXPECT_FALSE(exists(t.data + "setups"));
}

TEST(AtNames, AFailedHomeWriteNeverFallsThroughToTheDataDirectory)
{
    TempHome t;
    // The home directory's parent is a plain file, so nothing can be created there.
    write_bytes(t.root + "/blocked", "x");
    setenv("XDG_DATA_HOME", (t.root + "/blocked").c_str(), 1);
    vfs_reset_for_tests();
    EXPECT_EQ(open_data_file("@config", "w"), nullptr);
    EXPECT_FALSE(exists(t.data + "config"));
}

TEST(AtNames, OverLongNamesAreRefusedNotCut)
{
    TempHome t;
    // A file whose path is exactly 511 characters, and a request that would be cut to it.
    std::string prefix = t.home;
    std::string name;
    while (prefix.size() + name.size() + 1 < 511) {
        size_t room = 511 - prefix.size() - name.size();
        size_t part = room > 101 ? 100 : room;
        if (part == room) {
            name += std::string(part, 'f');
            break;
        }
        name += std::string(part, 'd') + "/";
    }
    ASSERT_EQ((prefix + name).size(), 511u);
    write_bytes(prefix + name, "short");
    DataFile *f = open_data_file(("@" + name).c_str(), "r");
    ASSERT_NE(f, nullptr);
    close_data_file(f);
    EXPECT_EQ(open_data_file(("@" + name + "xyz").c_str(), "r"), nullptr);
    EXPECT_EQ(open_data_file(("@" + name + "xyz").c_str(), "w"), nullptr);
}

TEST(AtNames, DotDotNeverLeadsOutOfTheSearchDirectories)
{
    TempHome t;
    write_bytes(t.root + "/secret.txt", "private");
    write_bytes(t.data + "tracks/a/desc", "track");
    for (const char *name : { "@tracks/../../../escaped.txt", "@..", "@tracks/..", "@tracks\\..\\..\\..\\escaped.txt" }) {
        EXPECT_EQ(open_data_file(name, "w"), nullptr) << name;
        EXPECT_EQ(open_data_file(name, "~w"), nullptr) << name;
        EXPECT_EQ(begin_replace_file(name), nullptr) << name;
    }
    EXPECT_FALSE(exists(t.root + "/escaped.txt"));
    EXPECT_FALSE(exists(t.root + "/xdg/escaped.txt"));
    EXPECT_EQ(open_data_file("@../../secret.txt", "r"), nullptr);
    EXPECT_EQ(open_data_file("@../secret.txt", "r"), nullptr);
    EXPECT_EQ(open_data_file("@tracks/a/../a/desc", "r"), nullptr);
    EXPECT_EQ(file_to_string("@../secret.txt"), nullptr);
    write_bytes(t.home + "mine", "m");
    EXPECT_FALSE(rename_data_file("@mine", "@../../moved"));
    EXPECT_FALSE(rename_data_file("@../../secret.txt", "@stolen"));
    EXPECT_TRUE(exists(t.home + "mine"));
    EXPECT_EQ(read_bytes(t.root + "/secret.txt"), "private");
    // Dots inside a name are ordinary characters.
    DataFile *f = open_data_file("@setups/..hidden/a..b", "w");
    ASSERT_NE(f, nullptr);
    close_data_file(f);
    EXPECT_TRUE(exists(t.home + "setups/..hidden/a..b"));
}

// --- backups ---

static std::string write_with_backup(const std::string &path, const std::string &text)
{
    DataFile *f = open_data_file(path.c_str(), "~w");
    if (!f)
        return "open failed";
    data_puts(f, text.c_str());
    close_data_file(f);
    return read_bytes(path);
}

TEST(Backups, SuccessiveSavesKeepNumberedCopies)
{
    TempHome t;
    std::string path = t.home + "results.txt";
    EXPECT_EQ(write_with_backup(path, "first"), "first");
    EXPECT_FALSE(exists(path + ".~1~"));    // nothing to keep the first time
    EXPECT_EQ(write_with_backup(path, "second"), "second");
    EXPECT_EQ(read_bytes(path + ".~1~"), "first");
    EXPECT_EQ(write_with_backup(path, "third"), "third");
    EXPECT_EQ(read_bytes(path + ".~1~"), "first");
    EXPECT_EQ(read_bytes(path + ".~2~"), "second");
}

TEST(Backups, AtNamesBackUpInTheHomeDirectory)
{
    TempHome t;
    DataFile *f = open_data_file("@lines", "~w");
    ASSERT_NE(f, nullptr);
    data_puts(f, "one");
    close_data_file(f);
    f = open_data_file("@lines", "~w");
    ASSERT_NE(f, nullptr);
    data_puts(f, "two");
    close_data_file(f);
    EXPECT_EQ(read_bytes(t.home + "lines"), "two");
    EXPECT_EQ(read_bytes(t.home + "lines.~1~"), "one");
}

TEST(Backups, APathTooLongForABackupFailsTheOpen)
{
    TempHome t;
    std::string path = t.root + "/";
    while (path.size() < 1001 - 200)
        path += std::string(180, 'b') + "/";
    path += std::string(1005 - path.size(), 'x');
    ASSERT_GT(path.size(), 1000u);
    write_bytes(path, "old");
    ASSERT_EQ(read_bytes(path), "old");
    EXPECT_EQ(open_data_file(path.c_str(), "~w"), nullptr);
    EXPECT_EQ(read_bytes(path), "old");
    // Without a backup the same path opens.
    DataFile *f = open_data_file(path.c_str(), "w");
    EXPECT_NE(f, nullptr);
    close_data_file(f);
}

// --- streams ---

TEST(Streams, CharacterPeekAndBlockReads)
{
    TempHome t;
    write_bytes(t.home + "f", "ab\ncd");
    DataFile *f = open_data_file("@f", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(data_peekc(f), 'a');
    EXPECT_EQ(data_peekc(f), 'a');
    EXPECT_EQ(data_getc(f), 'a');
    char buf[8] = {};
    EXPECT_EQ(data_peekc(f), 'b');
    EXPECT_EQ(data_read(f, buf, 3), 3u);     // the peeked character comes first
    EXPECT_EQ(std::string(buf, 3), "b\nc");
    EXPECT_EQ(data_read(f, buf, 8), 1u);
    EXPECT_EQ(buf[0], 'd');
    EXPECT_EQ(data_getc(f), -1);
    EXPECT_EQ(data_peekc(f), -1);
    EXPECT_EQ(data_read(f, buf, 8), 0u);
    close_data_file(f);
}

TEST(Streams, LinesKeepTheirFeedAndAcceptCrlf)
{
    TempHome t;
    write_bytes(t.home + "f", "key=1\r\nlonger line\nend");
    DataFile *f = open_data_file("@f", "r");
    ASSERT_NE(f, nullptr);
    char buf[8];
    ASSERT_NE(data_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "key=1\n");
    ASSERT_NE(data_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "longer ");               // n - 1 characters at most
    ASSERT_NE(data_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "line\n");
    ASSERT_NE(data_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "end");
    EXPECT_EQ(data_gets(f, buf, sizeof buf), nullptr);
    close_data_file(f);
}

TEST(Streams, CommentsAreSkippedBetweenFields)
{
    TempHome t;
    write_bytes(t.home + "f", "  # one\n\t# two\n  42 # after\n7");
    DataFile *f = open_data_file("@f", "r");
    ASSERT_NE(f, nullptr);
    data_skip_comments(f);
    EXPECT_EQ(data_read_int(f), 42);
    data_skip_comments(f);
    EXPECT_EQ(data_read_int(f), 7);
    EXPECT_EQ(data_read_int(f), INT_MIN);
    close_data_file(f);
}

TEST(Streams, SeekMovesWithinPlainFiles)
{
    TempHome t;
    write_bytes(t.home + "f", "0123456789");
    DataFile *f = open_data_file("@f", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(data_peekc(f), '0');
    EXPECT_TRUE(data_seek(f, 7));
    EXPECT_EQ(data_getc(f), '7');           // the push-back slot was cleared
    EXPECT_TRUE(data_seek(f, 2));
    EXPECT_EQ(data_getc(f), '2');
    EXPECT_FALSE(data_seek(f, -1));
    close_data_file(f);
}

TEST(Streams, WritesAndReadsOfTheSameFile)
{
    TempHome t;
    DataFile *f = open_data_file("@out.bin", "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(data_putc(f, 'A'), 'A');
    EXPECT_GE(data_puts(f, "BC"), 0);
    EXPECT_EQ(data_write(f, "\0D", 2), 2u);
    EXPECT_EQ(data_printf(f, "%03d", 7), 3);
    EXPECT_TRUE(data_flush(f));
    EXPECT_EQ(data_getc(f), -1);                // a write stream does not read
    close_data_file(f);
    EXPECT_EQ(read_bytes(t.home + "out.bin"), std::string("ABC\0D007", 8));
    f = open_data_file("@out.bin", "a");
    data_puts(f, "+");
    close_data_file(f);
    EXPECT_EQ(read_bytes(t.home + "out.bin"), std::string("ABC\0D007+", 9));
}

TEST(Streams, DirectoriesDoNotOpenAsFiles)
{
    TempHome t;
    std::filesystem::create_directories(t.home + "folder");
    EXPECT_EQ(open_data_file("@folder", "r"), nullptr);
}

// --- gzip ---

TEST(Gzip, CompressedTwinIsReadTransparently)
{
    TempHome t;
    std::string text;
    for (int i = 0; i < 5000; i++)
        text += "line " + std::to_string(i) + "\n";
    write_bytes(t.home + "big.txt.gz", gzip_bytes(text));
    DataFile *f = open_data_file("@big.txt", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(drain(f), text);
    EXPECT_FALSE(data_seek(f, 0));              // no seeking inside inflate
    close_data_file(f);
    // The same through a plain path.
    f = open_data_file((t.home + "big.txt").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[32];
    ASSERT_NE(data_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "line 0\n");
    close_data_file(f);
}

// Builds a gzip member by hand around raw deflate data, with optional header fields.
static std::string gzip_with_header(const std::string &plain, int flags, const std::string &fields)
{
    std::string deflated = gzip_bytes(plain);
    std::string out = "\x1f\x8b\x08";
    out += (char)flags;
    out += std::string("\0\0\0\0\0\x03", 6);
    out += fields;
    out += deflated.substr(10);
    return out;
}

TEST(Gzip, OptionalHeaderFieldsAreSkipped)
{
    TempHome t;
    std::string extra = std::string("\x03\x00", 2) + "abc";
    std::string fields = extra + std::string("name.txt\0", 9) + std::string("a comment\0", 10) + "\x12\x34";
    write_bytes(t.home + "x.gz", gzip_with_header("payload", 4 | 8 | 16 | 2, fields));
    DataFile *f = open_data_file("@x", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(drain(f), "payload");
    close_data_file(f);
}

TEST(Gzip, BadHeadersMakeTheFileUnopenable)
{
    TempHome t;
    std::string good = gzip_bytes("payload");
    std::string method = good;
    method[2] = 7;
    std::string flags = good;
    flags[3] = 32;
    std::string unterminated = gzip_with_header("", 8, "") .substr(0, 10) + "no end to this name";
    std::string extra_too_long = gzip_with_header("", 4, "").substr(0, 10) + std::string("\xff\x00", 2) + "ab";
    const std::string cases[] = { method, flags, good.substr(0, 9), unterminated, extra_too_long, "plain text here" };
    for (const std::string &bytes : cases) {
        write_bytes(t.home + "bad.gz", bytes);
        EXPECT_EQ(open_data_file("@bad", "rb"), nullptr) << bytes.size();
    }
}

TEST(Gzip, TruncatedDeflateDataEndsTheStream)
{
    std::string text(100000, 'q');
    for (size_t i = 0; i < text.size(); i += 7)
        text[i] = (char)('a' + i % 23);
    std::string z = gzip_bytes(text);
    std::string cut = z.substr(0, z.size() / 2);
    DataFile *f = open_memory_data_file(cut.data(), cut.size(), true);
    ASSERT_NE(f, nullptr);
    std::string got = drain(f);
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(got, text.substr(0, got.size()));
    close_data_file(f);
}

TEST(Gzip, SameBytesPlainCompressedAndArchived)
{
    TempHome t;
    std::string bytes;
    for (int i = 0; i < 70000; i++)
        bytes += (char)((i * 7919) >> 3);
    write_bytes(t.home + "plain.bin", bytes);
    write_bytes(t.home + "packed.bin.gz", gzip_bytes(bytes));
    write_bytes(t.data + "pack.saf", make_archive({ { "member.bin", bytes }, { "zipped.bin.gz", gzip_bytes(bytes) } }));
    file_index_names();
    for (const char *name : { "@plain.bin", "@packed.bin", "@member.bin", "@zipped.bin" }) {
        DataFile *f = open_data_file(name, "rb");
        ASSERT_NE(f, nullptr) << name;
        std::string got(bytes.size() + 10, '\0');
        size_t n = 0, step;
        while ((step = data_read(f, got.data() + n, 4093)) > 0)
            n += step;
        got.resize(n);
        EXPECT_EQ(got, bytes) << name;
        close_data_file(f);
    }
}

// --- file_to_string ---

TEST(FileToString, SixteenMebibyteLimit)
{
    TempHome t;
    setenv("TOVA_LOGFILE", (t.root + "/log.txt").c_str(), 1);
    log_reset_for_tests();
    write_bytes(t.home + "just", std::string(16777215, 'j'));
    write_bytes(t.home + "over", std::string(16777216, 'o'));
    char *s = file_to_string("@just");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(strlen(s), 16777215u);
    EXPECT_EQ(s[16777214], 'j');
    xfree(s);
    EXPECT_EQ(file_to_string("@over"), nullptr);
    EXPECT_EQ(file_to_string("@missing"), nullptr);
    log_printf(nullptr);
    EXPECT_NE(read_bytes(t.root + "/log.txt").find("File @over too long for file_to_string"), std::string::npos);
    unsetenv("TOVA_LOGFILE");
    log_reset_for_tests();
}

TEST(FileToString, SmallAndEmptyFiles)
{
    TempHome t;
    write_bytes(t.data + "a", "hello");
    write_bytes(t.data + "e", "");
    char *s = file_to_string("@a");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "hello");
    xfree(s);
    s = file_to_string("@e");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    xfree(s);
}

// --- whole-file replacement ---

static int files_in(const std::string &dir)
{
    int n = 0;
    for (auto &e : std::filesystem::directory_iterator(dir)) {
        (void)e;
        n++;
    }
    return n;
}

TEST(ReplaceFile, FinishSwapsInTheNewContent)
{
    TempHome t;
    write_bytes(t.home + "config", "old");
    DataFile *f = begin_replace_file("@config");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_bytes(t.home + "config"), "old");    // untouched while writing
    data_puts(f, "new");
    EXPECT_TRUE(finish_replace_file(f));
    EXPECT_EQ(read_bytes(t.home + "config"), "new");
    EXPECT_EQ(files_in(t.home), 1);
}

TEST(ReplaceFile, CreatesFoldersForNewFiles)
{
    TempHome t;
    DataFile *f = begin_replace_file("@setups/fresh");
    ASSERT_NE(f, nullptr);
    data_puts(f, "x");
    EXPECT_TRUE(finish_replace_file(f));
    EXPECT_EQ(read_bytes(t.home + "setups/fresh"), "x");
}

TEST(ReplaceFile, AbandonLeavesTheOldFile)
{
    TempHome t;
    write_bytes(t.home + "config", "old");
    DataFile *f = begin_replace_file("@config");
    ASSERT_NE(f, nullptr);
    data_puts(f, "half");
    abandon_replace_file(f);
    EXPECT_EQ(read_bytes(t.home + "config"), "old");
    EXPECT_EQ(files_in(t.home), 1);
}

TEST(ReplaceFile, AFailedWriteLeavesTheOldFileIntact)
{
    TempHome t;
    write_bytes(t.home + "results.txt", "kept");
    // A file-size limit makes the disk refuse the write, as a full disk would.
    struct rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    DataFile *f = begin_replace_file("@results.txt");
    ASSERT_NE(f, nullptr);
    struct rlimit small = { 4096, old_limit.rlim_max };
    setrlimit(RLIMIT_FSIZE, &small);
    std::string block(100000, 'z');
    data_write(f, block.data(), block.size());
    bool ok = finish_replace_file(f);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(read_bytes(t.home + "results.txt"), "kept");
    EXPECT_EQ(files_in(t.home), 1);
}

// --- files and folders ---

TEST(RenameDataFile, ReplacesTheDestination)
{
    TempHome t;
    write_bytes(t.home + "a", "from");
    write_bytes(t.home + "b", "to");
    EXPECT_TRUE(rename_data_file("@a", "@b"));
    EXPECT_FALSE(exists(t.home + "a"));
    EXPECT_EQ(read_bytes(t.home + "b"), "from");
    EXPECT_FALSE(rename_data_file("@a", "@b"));     // the source is gone
    EXPECT_EQ(read_bytes(t.home + "b"), "from");
    EXPECT_TRUE(rename_data_file((t.home + "b").c_str(), "@c"));
    EXPECT_EQ(read_bytes(t.home + "c"), "from");
    EXPECT_FALSE(rename_data_file("@c", ("@" + std::string(600, 'n')).c_str()));
    EXPECT_TRUE(exists(t.home + "c"));
}

TEST(MakeParentDirs, CreatesEverySlashEndedPrefix)
{
    TempHome t;
    make_parent_dirs((t.root + "/one/two/three/file").c_str());
    EXPECT_TRUE(std::filesystem::is_directory(t.root + "/one/two/three"));
    EXPECT_FALSE(exists(t.root + "/one/two/three/file"));
    make_parent_dirs((t.root + "/one/two/three/file").c_str());     // existing folders are fine
    make_parent_dirs((t.root + "/one/x/").c_str());
    EXPECT_TRUE(std::filesystem::is_directory(t.root + "/one/x"));
}

// --- open_home_folder ---

struct SavedEnv {
    std::string name, value;
    bool was_set;
    explicit SavedEnv(const char *n) : name(n)
    {
        const char *v = getenv(n);
        was_set = v != nullptr;
        value = v ? v : "";
    }
    ~SavedEnv()
    {
        if (was_set)
            setenv(name.c_str(), value.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

TEST(OpenHomeFolder, NoDesktopFailsWithAMessage)
{
    TempHome t;
    SavedEnv d("DISPLAY"), w("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(open_home_folder());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no desktop"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(t.home));   // created all the same
}

TEST(OpenHomeFolder, AsksTheDesktopToShowTheFolder)
{
    TempHome t;
    SavedEnv d("DISPLAY"), p("PATH");
    std::string bin = t.root + "/bin";
    std::string script = "#!/bin/sh\nprintf '%s' \"$1\" > '" + t.root + "/shown'\n";
    write_bytes(bin + "/xdg-open", script);
    std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    setenv("DISPLAY", ":77", 1);
    setenv("PATH", bin.c_str(), 1);
    EXPECT_TRUE(open_home_folder());
    EXPECT_EQ(read_bytes(t.root + "/shown"), t.home.substr(0, t.home.size() - 1));

    setenv("PATH", (t.root + "/nothing-here").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(open_home_folder());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("xdg-open"), std::string::npos);
}
