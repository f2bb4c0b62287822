#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>

#include "vfs/vfs.h"

// A read stream over a string that stays alive for the test.
struct Text {
    std::string bytes;
    DataFile *f;
    explicit Text(const char *s) : bytes(s), f(open_memory_data_file(bytes.data(), bytes.size(), false)) {}
    ~Text() { close_data_file(f); }
};

TEST(DataScanf, TrackVectorsAndNames)
{
    Text t("[ 1.5 -2 3e2 ]  name_of_thing  next");
    float x, y, z;
    char name[16];
    EXPECT_EQ(data_scanf(t.f, "[ %f %f %f ]", &x, &y, &z), 3);
    EXPECT_FLOAT_EQ(x, 1.5f);
    EXPECT_FLOAT_EQ(y, -2.0f);
    EXPECT_FLOAT_EQ(z, 300.0f);
    EXPECT_EQ(data_scanf(t.f, "%15s", name), 1);
    EXPECT_STREQ(name, "name_of_thing");
    EXPECT_EQ(data_scanf(t.f, "%3s", name), 1);
    EXPECT_STREQ(name, "nex");
    EXPECT_EQ(data_scanf(t.f, "%15s", name), 1);
    EXPECT_STREQ(name, "t");
    EXPECT_EQ(data_scanf(t.f, "%15s", name), -1);
}

TEST(DataScanf, IntegerBasesAndLengths)
{
    Text t("-12 0x1f 017 0x10 777 ff 65537 300 123456789012 7");
    int d, i1, i2, i3;
    unsigned o, x;
    short h;
    signed char hh;
    long long ll;
    long l;
    EXPECT_EQ(data_scanf(t.f, "%d %i %i %i", &d, &i1, &i2, &i3), 4);
    EXPECT_EQ(d, -12);
    EXPECT_EQ(i1, 31);
    EXPECT_EQ(i2, 15);
    EXPECT_EQ(i3, 16);
    EXPECT_EQ(data_scanf(t.f, "%o %x", &o, &x), 2);
    EXPECT_EQ(o, 511u);
    EXPECT_EQ(x, 255u);
    EXPECT_EQ(data_scanf(t.f, "%hd %hhd %lld %ld", &h, &hh, &ll, &l), 4);
    EXPECT_EQ(h, SHRT_MAX);                     // 65537 saturates
    EXPECT_EQ(hh, SCHAR_MAX);                   // 300 saturates
    EXPECT_EQ(ll, 123456789012LL);
    EXPECT_EQ(l, 7);
}

TEST(DataScanf, DecimalSaturatesInsteadOfOverflowing)
{
    Text t("99999999999999999999999 -2147483649 2147483647");
    int a, b, c;
    EXPECT_EQ(data_scanf(t.f, "%d %d %d", &a, &b, &c), 3);
    EXPECT_EQ(a, INT_MAX);
    EXPECT_EQ(b, INT_MIN);
    EXPECT_EQ(c, INT_MAX);
}

TEST(DataScanf, WidthsSuppressionAndCount)
{
    Text t("123456 skip 42%rest");
    int a, b, n;
    EXPECT_EQ(data_scanf(t.f, "%3d%d %*s %d%n", &a, &b, &n, &n), 3);
    EXPECT_EQ(a, 123);
    EXPECT_EQ(b, 456);
    EXPECT_EQ(n, 14);                           // characters consumed so far
    char rest[8];
    EXPECT_EQ(data_scanf(t.f, "%%%7s", rest), 1);
    EXPECT_STREQ(rest, "rest");
}

TEST(DataScanf, CharactersAndSets)
{
    Text t(" ab key=value;Zz-9\n");
    char c[3] = {};
    char key[8], value[8], range[8];
    EXPECT_EQ(data_scanf(t.f, "%c", c), 1);
    EXPECT_EQ(c[0], ' ');                       // %c does not skip white space
    EXPECT_EQ(data_scanf(t.f, "%2c", c), 1);
    EXPECT_STREQ(c, "ab");
    EXPECT_EQ(data_scanf(t.f, " %7[^=]=%7[^;];", key, value), 2);
    EXPECT_STREQ(key, "key");
    EXPECT_STREQ(value, "value");
    EXPECT_EQ(data_scanf(t.f, "%7[A-Za-z-]", range), 1);
    EXPECT_STREQ(range, "Zz-");
    EXPECT_EQ(data_scanf(t.f, "%7[]a]", range), 0);    // '9' is not in the set
    EXPECT_EQ(data_getc(t.f), '9');
}

TEST(DataScanf, DoublesAndLongDoubles)
{
    Text t("2.5e-3 -.25 7.");
    double d;
    long double ld;
    float f;
    EXPECT_EQ(data_scanf(t.f, "%lf %Lf %f", &d, &ld, &f), 3);
    EXPECT_DOUBLE_EQ(d, 0.0025);
    EXPECT_EQ(ld, -0.25L);
    EXPECT_FLOAT_EQ(f, 7.0f);
}

TEST(DataScanf, EndOfInputBeforeTheFirstAssignment)
{
    Text empty("   \n ");
    int a;
    EXPECT_EQ(data_scanf(empty.f, "%d", &a), -1);
    Text word("word");
    EXPECT_EQ(data_scanf(word.f, "%d", &a), 0);         // a mismatch is not the end
    Text one("5");
    int b;
    EXPECT_EQ(data_scanf(one.f, "%d %d", &a, &b), 1);
    Text suppressed("5");
    EXPECT_EQ(data_scanf(suppressed.f, "%*d %d", &a), -1);
    Text literal("");
    EXPECT_EQ(data_scanf(literal.f, "[", &a), -1);
}

TEST(DataScanf, ReadIntGivesIntMinForNothing)
{
    Text t("  17 x");
    EXPECT_EQ(data_read_int(t.f), 17);
    EXPECT_EQ(data_read_int(t.f), INT_MIN);
    EXPECT_EQ(data_getc(t.f), 'x');             // the mismatch stays unread
}
