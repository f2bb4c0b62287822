#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "vfs/archive.h"

// Parses an archive held in memory; -1 for a rejected one.
static int parse(const std::string &bytes, ArchiveMember **members)
{
    FILE *f = fmemopen((void *)bytes.data(), bytes.size(), "rb");
    int n = archive_read_header(f, (long long)bytes.size(), members);
    fclose(f);
    return n;
}

TEST(ArchiveHeader, OffsetsAreHeaderLengthPlusEarlierSizes)
{
    // "4 x//y\n" 7 (as stored, before collapsing) + "0\tempty\n" 8 + "3 z\n" 4 + "-\n" 2 = 21.
    std::string a = "4 x//y\n0\tempty\n3 z\n-\nWXYZabc";
    ArchiveMember *m;
    ASSERT_EQ(parse(a, &m), 3);
    EXPECT_STREQ(m[0].name, "x/y");             // runs of "/" collapse
    EXPECT_EQ(m[0].offset, 21);
    EXPECT_EQ(m[0].size, 4);
    EXPECT_STREQ(m[1].name, "empty");
    EXPECT_EQ(m[1].offset, 25);
    EXPECT_EQ(m[1].size, 0);
    EXPECT_STREQ(m[2].name, "z");
    EXPECT_EQ(m[2].offset, 25);
    archive_free_members(m, 3);
}

TEST(ArchiveHeader, EmptyArchive)
{
    ArchiveMember *m;
    EXPECT_EQ(parse("-\n", &m), 0);
    archive_free_members(m, 0);
}

TEST(ArchiveHeader, SeparatorIsExactlyOneCharacter)
{
    ArchiveMember *m;
    ASSERT_EQ(parse("1  spaced\n-\nq", &m), 1);
    EXPECT_STREQ(m[0].name, " spaced");
    archive_free_members(m, 1);
}

TEST(ArchiveHeader, RejectsUnsafeOrInconsistentHeaders)
{
    ArchiveMember *m;
    EXPECT_EQ(parse("", &m), -1);
    EXPECT_EQ(parse("-", &m), -1);                          // no line feed
    EXPECT_EQ(parse("1 a\n", &m), -1);                      // no "-" line
    EXPECT_EQ(parse("1 ..\n-\nx", &m), -1);
    EXPECT_EQ(parse("1 a/../b\n-\nx", &m), -1);
    EXPECT_EQ(parse("1 ./a\n-\nx", &m), -1);
    EXPECT_EQ(parse("1 /a\n-\nx", &m), -1);
    EXPECT_EQ(parse("1 \\a\n-\nx", &m), -1);
    EXPECT_EQ(parse(std::string("1 a\0b\n-\nx", 10), &m), -1);
    EXPECT_EQ(parse("1\n-\nx", &m), -1);                    // no separator or name
    EXPECT_EQ(parse("+1 a\n-\nx", &m), -1);
    EXPECT_EQ(parse("2 a\n-\nx", &m), -1);                  // ends past the file
    EXPECT_EQ(parse("2147483648 a\n-\nx", &m), -1);
    // Two members that each fit in 32 bits but not together.
    EXPECT_EQ(parse("2000000000 a\n2000000000 b\n-\n", &m), -1);
    std::string at_limit = "1 " + std::string(1021, 'n') + "\n-\nx";   // 1,023 characters
    ASSERT_EQ(parse(at_limit, &m), 1);
    archive_free_members(m, 1);
    std::string over = "1 " + std::string(1022, 'n') + "\n-\nx";
    EXPECT_EQ(parse(over, &m), -1);
}

TEST(ArchiveHeader, MemberCountIsCappedBeforeReadingOn)
{
    std::string header;
    for (int i = 0; i < ARCHIVE_MAX_MEMBERS; i++)
        header += "0 m" + std::to_string(i) + "\n";
    ArchiveMember *m;
    ASSERT_EQ(parse(header + "-\n", &m), ARCHIVE_MAX_MEMBERS);
    EXPECT_STREQ(m[ARCHIVE_MAX_MEMBERS - 1].name, "m99999");
    archive_free_members(m, ARCHIVE_MAX_MEMBERS);
    // One more member: refused even though the rest of the header is cut off.
    EXPECT_EQ(parse(header + "0 over\n0 cut", &m), ARCHIVE_TOO_MANY);
    EXPECT_EQ(m, nullptr);
}
