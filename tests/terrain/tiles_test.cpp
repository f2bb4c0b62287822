#include "terrain_fixture.h"

#include <math.h>

// Loads tile text through a file, as the terrain loader does.
class Tiles : public TerrainFiles {
protected:
    bool load_tileinfo(const std::string &text)
    {
        put("tileinfo", text);
        DataFile *f = open_data_file("@tileinfo", "rb");
        EXPECT_NE(f, nullptr);
        bool ok = tileinfo_load(&t, f);
        close_data_file(f);
        return ok;
    }
    bool load_texturelist(const std::string &text)
    {
        put("texturelist", text);
        DataFile *f = open_data_file("@texturelist", "rb");
        EXPECT_NE(f, nullptr);
        bool ok = texturelist_load(&t, f);
        close_data_file(f);
        return ok;
    }
};

TEST_F(Tiles, EveryDefault)
{
    ASSERT_TRUE(load_tileinfo("texture @dirt.png\naddtile\n"));
    ASSERT_EQ(1, t.tile_count);
    const TileType *tile = tile_type(&t, 0);
    EXPECT_STREQ("@dirt.png", tile->name);
    EXPECT_STREQ("@dirt.png", tile->texture_path);
    EXPECT_EQ(0, tile->slip_function);
    EXPECT_EQ(1.0f, tile->friction_key[0]);
    for (int k = 0; k < 8; k++) {
        EXPECT_EQ(1.0f, tile->friction_value[k]);
        EXPECT_EQ(5.0f, tile->roll_resist[k][0]);
        EXPECT_EQ(15.0f, tile->roll_resist[k][1]);
        if (k > 0) {
            EXPECT_EQ(1048576.0f, tile->friction_key[k]);
            EXPECT_EQ(0.0f, tile->roll_resist_key[k]);
        }
    }
    EXPECT_EQ(1.0f, tile->roll_resist_key[0]);
    for (const RoostType &r : tile->roost)
        EXPECT_EQ(0, r.state);
    const ErodeParams &e = tile->erode;
    EXPECT_EQ(1.0f, e.depth);
    EXPECT_EQ(50.0f, e.lower);
    EXPECT_EQ(150.0f, e.upper);
    EXPECT_EQ(2.0f, e.displacement);
    EXPECT_EQ(4.0f, e.radius);
    EXPECT_EQ(0.125f, e.inner_depth);
    EXPECT_EQ(2.0f, e.inner_radius);
    EXPECT_EQ(-0.5f, e.min_slope);
    EXPECT_EQ(0.5f, e.max_slope);
    EXPECT_EQ(10.0f, e.off_speed);
    EXPECT_EQ(15.0f, e.on_speed);
    EXPECT_EQ(0.0f, e.slip_lower);
    EXPECT_EQ(5.0f, e.slip_upper);
    EXPECT_EQ(1.0f, e.slip_base_scale);
    EXPECT_EQ(1.5f, e.slip_scale);
    EXPECT_EQ(0.0f, e.downhill_scale);
    EXPECT_EQ(1, e.limit_count);
    EXPECT_EQ(0.0f, e.limit_depth[0]);
    EXPECT_EQ(1.0f, e.limit_outer[0]);
    EXPECT_EQ(1.0f, e.limit_inner[0]);
    EXPECT_EQ(1.0f, e.project_to_ground);
    EXPECT_EQ(1.0f, e.lateral_scale);
    EXPECT_EQ(1.0f, e.front_scale);
    EXPECT_EQ(44u * 4, sizeof(ErodeParams));
}

TEST_F(Tiles, RoostDefaultsAndKeys)
{
    ASSERT_TRUE(load_tileinfo("roost\n"
                              "roost texture=\"@my roost.png\" count=20\n"
                              "roost r=300 g=-1 b=7.9 a=0 fade_r=-256 fade_g=128 fade_a=64 splash=1\n"
                              "roost dig=2 slip_threshold=3 slow_angle=1 fast_angle=0.5 slow_speed=1 fast_speed=50 "
                              "size=0.5 grow=2 drag=1 vscale=3 randomize=4 count=oops bogus=1 noequals\n"
                              "roost\n"
                              "addtile\n"));
    const TileType *tile = tile_type(&t, 0);
    const RoostType &d = tile->roost[0];
    EXPECT_EQ(1, d.state);
    EXPECT_EQ(nullptr, d.texture_name);     // the default "@roost.png"
    EXPECT_EQ(10.0f, d.count);
    EXPECT_EQ(1.0f, d.dig);
    EXPECT_EQ(4.0f, d.slip_threshold);
    EXPECT_FLOAT_EQ(1.5707964f, d.slow_angle);
    EXPECT_FLOAT_EQ(0.1963495f, d.fast_angle);
    EXPECT_EQ(0.0f, d.slow_speed);
    EXPECT_EQ(64.0f, d.fast_speed);
    EXPECT_EQ(0.25f, d.size);
    EXPECT_EQ(4.0f, d.grow);
    EXPECT_EQ(0.5f, d.drag);
    EXPECT_EQ(1.0f, d.vscale);
    EXPECT_EQ(15.0f, d.randomize);
    EXPECT_EQ(255, d.r);
    EXPECT_EQ(255, d.a);
    EXPECT_EQ(0, d.fade_r);
    EXPECT_EQ(254, d.fade_a);

    EXPECT_STREQ("@my roost.png", tile->roost[1].texture_name);
    EXPECT_EQ(20.0f, tile->roost[1].count);

    const RoostType &c = tile->roost[2];
    EXPECT_EQ(2, c.state);
    EXPECT_EQ(44, c.r);         // 300 wraps to 44
    EXPECT_EQ(255, c.g);        // -1 wraps to 255
    EXPECT_EQ(7, c.b);
    EXPECT_EQ(0, c.a);
    EXPECT_EQ(254, c.fade_r);   // -256 per second is -2 per tic
    EXPECT_EQ(1, c.fade_g);
    EXPECT_EQ(0, c.fade_b);     // untouched default
    EXPECT_EQ(0, c.fade_a);     // 64 / 128 truncates to 0

    const RoostType &k = tile->roost[3];
    EXPECT_EQ(2.0f, k.dig);
    EXPECT_EQ(50.0f, k.fast_speed);
    EXPECT_EQ(4.0f, k.randomize);
    EXPECT_EQ(10.0f, k.count);  // "oops" does not parse
    EXPECT_TRUE(logged("tileinfo warning: bad count\n"));
    EXPECT_TRUE(logged("tileinfo warning: unknown roost parameter 'bogus=1'\n"));
    EXPECT_TRUE(logged("tileinfo warning: unknown roost parameter 'noequals'\n"));
    EXPECT_TRUE(logged("tileinfo warning: too many roost types\n"));
}

TEST_F(Tiles, FrictionAndRollResist)
{
    ASSERT_TRUE(load_tileinfo("friction 0.8 20\nfriction 1.2 5\nfriction -3 2000000\nfriction 1\n"
                              "friction nan 3\nslip_function 3\nslip_function 2\n"
                              "roll_resist 7 -1 0\nroll_resist 3 4 10\nroll_resist 1 2\naddtile\n"));
    const TileType *tile = tile_type(&t, 0);
    EXPECT_EQ(1.2f, tile->friction_value[0]);
    EXPECT_EQ(5.0f, tile->friction_key[0]);
    EXPECT_EQ(0.8f, tile->friction_value[1]);
    EXPECT_EQ(20.0f, tile->friction_key[1]);
    EXPECT_EQ(0.0f, tile->friction_value[2]);
    EXPECT_EQ(1048575.0f, tile->friction_key[2]);
    EXPECT_EQ(1.0f, tile->friction_value[3]);
    EXPECT_EQ(1048576.0f, tile->friction_key[3]);
    EXPECT_TRUE(logged("tileinfo warning: bad friction parameters\n"));
    EXPECT_TRUE(logged("tileinfo warning: bad slip_function\n"));
    EXPECT_TRUE(logged("tileinfo warning: bad roll_resist parameters\n"));
    EXPECT_EQ(2, tile->slip_function);
    EXPECT_FLOAT_EQ(9.536743e-7f, tile->roll_resist_key[0]);
    EXPECT_EQ(7.0f, tile->roll_resist[0][0]);
    EXPECT_EQ(0.0f, tile->roll_resist[0][1]);
    EXPECT_EQ(10.0f, tile->roll_resist_key[1]);
    EXPECT_EQ(0.0f, tile->roll_resist_key[2]);
}

// Roll_resist points are sorted by key, each pair moving with its key, and only the slots the
// lines filled: the untouched slots keep their key of 0 at the end.
TEST_F(Tiles, RollResistPointsSortByKey)
{
    ASSERT_TRUE(load_tileinfo("roll_resist 3 4 10\nroll_resist 7 8 2\nroll_resist 1 9 6\naddtile\n"));
    const TileType *tile = tile_type(&t, 0);
    const float keys[4] = { 2, 6, 10, 0 }, first[4] = { 7, 1, 3, 5 }, second[4] = { 8, 9, 4, 15 };
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(keys[k], tile->roll_resist_key[k]) << k;
        EXPECT_EQ(first[k], tile->roll_resist[k][0]) << k;
        EXPECT_EQ(second[k], tile->roll_resist[k][1]) << k;
    }
}

TEST_F(Tiles, TooManyPointsAndTiles)
{
    std::string text;
    for (int k = 0; k < 20; k++)
        text += "friction 1 " + std::to_string(20 - k) + "\nroll_resist 1 2 " + std::to_string(k + 1) +
                "\nerode_limit " + std::to_string(k) + " 1 1\n";
    text += "addtile\n";
    for (int k = 0; k < 299; k++)
        text += "name t" + std::to_string(k) + "\naddtile\n";
    ASSERT_TRUE(load_tileinfo(text));
    EXPECT_EQ(256, t.tile_count);
    EXPECT_STREQ("t254", t.tiles[255].name);
    const TileType *tile = tile_type(&t, 0);
    EXPECT_EQ(13.0f, tile->friction_key[0]);    // the first eight: keys 20..13, sorted
    EXPECT_EQ(20.0f, tile->friction_key[7]);
    EXPECT_EQ(8.0f, tile->roll_resist_key[7]);
    EXPECT_EQ(8, tile->erode.limit_count);
    EXPECT_EQ(7.0f, tile->erode.limit_depth[7]);
    EXPECT_TRUE(logged("tileinfo warning: too many friction points\n"));
    EXPECT_TRUE(logged("tileinfo warning: too many roll_resist points\n"));
    EXPECT_TRUE(logged("tileinfo warning: too many erode limits\n"));
    EXPECT_EQ(nullptr, tile_type(&t, 256));
    EXPECT_EQ(nullptr, tile_type(&t, -1));
}

TEST_F(Tiles, ErodeKeysAndLimits)
{
    ASSERT_TRUE(load_tileinfo("erode_limit 0.2 2 3\nerode_limit 0.1 1 1\nerode_limit 0.5 4\n"
                              "erode_radius inf\nerode_depth 2.5\nerode_front_scale 0.5\n"
                              "erode_slip_scale x\nwhat is this\n\n   \r\naddtile\nname ignored\n"));
    ASSERT_EQ(1, t.tile_count);
    const ErodeParams &e = t.tiles[0].erode;
    EXPECT_EQ(1, e.limit_count);
    EXPECT_EQ(0.2f, e.limit_depth[0]);
    EXPECT_EQ(2.0f, e.limit_outer[0]);
    EXPECT_EQ(3.0f, e.limit_inner[0]);
    EXPECT_EQ(4.0f, e.radius);
    EXPECT_EQ(2.5f, e.depth);
    EXPECT_EQ(0.5f, e.front_scale);
    EXPECT_EQ(1.5f, e.slip_scale);
    EXPECT_TRUE(logged("tileinfo warning: erode_limit depth <= prev depth\n"));
    EXPECT_TRUE(logged("tileinfo warning: bad erode_limit\n"));
    EXPECT_TRUE(logged("tileinfo warning: bad erode_radius\n"));
    EXPECT_TRUE(logged("tileinfo warning: bad erode_slip_scale\n"));
    EXPECT_TRUE(logged("tileinfo warning: Unknown identifier 'what'\n"));
}

TEST_F(Tiles, NamesAndCrLf)
{
    ASSERT_TRUE(load_tileinfo("name   A very long tile name that goes on and on past forty-seven\r\n"
                              "texture @tiles/mud.png\r\naddtile\r\n"));
    EXPECT_STREQ("A very long tile name that goes on and on past ", t.tiles[0].name);
    EXPECT_EQ(47u, strlen(t.tiles[0].name));
    EXPECT_STREQ("@tiles/mud.png", t.tiles[0].texture_path);
    EXPECT_STREQ("/mud.png", t.tiles[0].file_name);
}

TEST_F(Tiles, Texturelist)
{
    ASSERT_TRUE(load_texturelist("dirt.png\n\n  0.7 6 18 grass.png\r\nsub/sand.png"));
    ASSERT_EQ(3, t.tile_count);
    const TileType &a = t.tiles[0], &b = t.tiles[1], &c = t.tiles[2];
    EXPECT_STREQ("@dirt.png", a.texture_path);
    EXPECT_STREQ("dirt.png", a.name);
    for (int k = 0; k < 8; k++) {
        EXPECT_EQ(1.0f, a.friction_value[k]);
        EXPECT_EQ(0.7f, b.friction_value[k]);
        EXPECT_EQ(5.0f, a.roll_resist[k][0]);
        EXPECT_EQ(15.0f, a.roll_resist[k][1]);
        EXPECT_EQ(6.0f, b.roll_resist[k][0]);
        EXPECT_EQ(18.0f, b.roll_resist[k][1]);
    }
    EXPECT_EQ(1.0f, b.friction_key[0]);
    EXPECT_EQ(1048576.0f, b.friction_key[1]);
    EXPECT_EQ(1.0f, b.roll_resist_key[0]);
    EXPECT_EQ(0.0f, b.roll_resist_key[1]);
    EXPECT_STREQ("@grass.png", b.texture_path);     // CR LF stripped
    EXPECT_STREQ("@sub/sand.png", c.texture_path);  // last line without a line feed
    EXPECT_STREQ("sand.png", c.name);
    EXPECT_EQ(1, a.roost[0].state);
    EXPECT_EQ(0, a.roost[1].state);
    EXPECT_EQ(1, a.erode.limit_count);
}

TEST_F(Tiles, BlendDescriptors)
{
    ASSERT_TRUE(load_tileinfo("texture @dirt.png\naddtile\ntexture @grass.png\naddtile\n"
                              "texture @dirt-grass-1010.png\naddtile\ntexture @dirt-alt2.png\naddtile\n"
                              "texture @dirt-grass-1\naddtile\ntexture @dirt-mud-0001.png\naddtile\n"
                              "texture @dirt-grass-10x1.png\naddtile\ntexture @rock-grass-0001.png\naddtile\n"
                              "texture @dirt-grass\naddtile\naddtile\n"));
    EXPECT_EQ(0 << 16 | 0 << 8 | 0, t.tiles[0].blend);
    EXPECT_EQ(1 << 16 | 1 << 8 | 0, t.tiles[1].blend);
    EXPECT_EQ(0, blend_base(t.tiles[2].blend));
    EXPECT_EQ(1, blend_overlay(t.tiles[2].blend));
    EXPECT_EQ(10, blend_mask(t.tiles[2].blend));
    EXPECT_EQ(0, blend_base(t.tiles[3].blend));
    EXPECT_EQ(0, blend_overlay(t.tiles[3].blend));
    EXPECT_EQ(0 << 16 | 1 << 8 | 0, t.tiles[4].blend);      // short name: mask 0
    EXPECT_EQ(-256, t.tiles[5].blend);                      // no "mud" tile
    EXPECT_EQ(-1, blend_base(t.tiles[5].blend));
    EXPECT_EQ(0, blend_mask(t.tiles[6].blend));
    EXPECT_EQ(7 << 16 | 7 << 8, t.tiles[7].blend);          // no "rock" tile: its own
    EXPECT_EQ(-256, t.tiles[8].blend);                      // no second "-"
    EXPECT_EQ(9 << 16 | 9 << 8, t.tiles[9].blend);          // no texture at all
}

TEST_F(Tiles, TilemapAndLookup)
{
    ASSERT_TRUE(terrain_create(&t, 7, 2.0f));
    std::string text;
    for (int k = 0; k < 12; k++)
        text += "addtile\n";
    ASSERT_TRUE(load_tileinfo(text));
    std::string map((size_t)128 * 128, '\0');
    map[0] = 3;
    map[127] = 5;
    map[(size_t)127 * 128] = (char)200;
    map[1 + 2 * 128] = 9;
    put("tilemap", map);
    DataFile *f = open_data_file("@tilemap", "rb");
    ASSERT_TRUE(tilemap_load(&t, f));
    close_data_file(f);
    EXPECT_EQ(11, t.tilemap[(size_t)127 * 128]);        // lowered to the last tile
    EXPECT_EQ(3, tile_at(&t, -5, -5));
    EXPECT_EQ(3, tile_at(&t, 3.99f, 3.99f));
    EXPECT_EQ(9, tile_at(&t, 4.0f, 8.0f));              // column 1, row 2: tiles are 4 ft
    EXPECT_EQ(5, tile_at(&t, 128 * 4.0f + 1, 0));       // past the edge: the last column
    EXPECT_EQ(11, tile_at(&t, -1, 1e30f));
    EXPECT_EQ(tile_at(&t, 1e9f, 1e9f), tile_at(&t, NAN, NAN));   // defined, inside the map
}

TEST(TileCurves, FrictionInterpolation)
{
    TileType tile;
    tile_set_defaults(&tile);
    EXPECT_EQ(1.0f, tile_friction(&tile, 50, false));   // one point: the same everywhere
    tile.friction_value[0] = 1.2f;
    tile.friction_key[0] = 5;
    tile.friction_value[1] = 0.8f;
    tile.friction_key[1] = 20;
    EXPECT_NEAR(1.0f, tile_friction(&tile, 12.5f, false), 1e-6f);
    EXPECT_NEAR(1.0f, tile_friction(&tile, sqrtf(212.5f), true), 1e-5f);
    EXPECT_EQ(1.2f, tile_friction(&tile, 1, false));
    EXPECT_EQ(0.8f, tile_friction(&tile, 100, false));
    // equal keys: a step, never 0/0
    tile.friction_key[1] = 5;
    EXPECT_EQ(0.8f, tile_friction(&tile, 5, false));
    EXPECT_EQ(1.2f, tile_friction(&tile, 4.99f, true));
    EXPECT_EQ(0.0f, tile_ramp(3, 5, 5));
    EXPECT_EQ(1.0f, tile_ramp(5, 5, 5));
    EXPECT_EQ(1.0f, tile_ramp(5, 7, 4));
    EXPECT_EQ(0.5f, tile_ramp(6, 4, 8));
}

TEST(TileCurves, RollResist)
{
    TileType tile;
    tile_set_defaults(&tile);
    float pair[2];
    tile_roll_resist(&tile, 30, pair);
    EXPECT_EQ(5.0f, pair[0]);
    EXPECT_EQ(15.0f, pair[1]);
    tile.roll_resist_key[1] = 11;
    tile.roll_resist[1][0] = 10;
    tile.roll_resist[1][1] = 35;
    tile_roll_resist(&tile, 6, pair);
    EXPECT_FLOAT_EQ(7.5f, pair[0]);
    EXPECT_FLOAT_EQ(25.0f, pair[1]);
    tile_roll_resist(&tile, 0.5f, pair);
    EXPECT_EQ(5.0f, pair[0]);
    tile_roll_resist(&tile, 50, pair);
    EXPECT_EQ(10.0f, pair[0]);
    tile.roll_resist_key[1] = 1;    // equal keys
    tile_roll_resist(&tile, 1, pair);
    EXPECT_EQ(10.0f, pair[0]);
}
