#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "bike/setup.h"
#include "common/mem.h"
#include "driver/bindings.h"
#include "driver/config.h"
#include "vfs/vfs.h"

static const char *const k_modes[] = { "Default Fullscreen", "Windowed", "1024x768", "1920x1080" };

// The file a fresh install writes, worked out line by line from the settings table, the
// setup table, graphics preset 0 and the binding table.
static const char k_default_file[] = R"(xres=640
yres=480
draw_fps=0
draw_time=0
draw_ping=1
draw_speed=0
spy=0
track=
record=No
skill=Novice
minutes=0.000000
laps=5.000000
slot00=Empty
slot01=Empty
slot02=Empty
slot03=Empty
slot04=Empty
slot05=Empty
slot06=Empty
slot07=Empty
slot08=Empty
slot09=Empty
slot10=Empty
slot11=Empty
slot12=Empty
slot13=Empty
slot14=Empty
slot15=Empty
slot16=Empty
slot17=Robot
slot18=Robot
slot19=Human
slot20=Robot
slot21=Robot
slot22=Robot
slot23=Empty
slot24=Empty
slot25=Empty
slot26=Empty
slot27=Empty
slot28=Empty
slot29=Empty
slot30=Empty
slot31=Empty
slot32=Empty
slot33=Empty
slot34=Empty
slot35=Empty
slot36=Empty
slot37=Empty
slot38=Empty
slot39=Empty
ghost_fade_distance=10.000000
time_trial_abort=Yes
bike=yz250f(2017)
name=Joe Motocross
number=999
rider_texture=
head_texture=
bike_texture=
wheel_texture=
stability=100.000000
leveling=20.000000
roll_damping=80.000000
roll_limit_angle=45.000000
roll_limit_factor=32.000000
steering_damping=60.000000
steering_strength=75.000000
max_steering_force=400.000000
direct_steering=0.125000
slow_damping_speed=40.000000
slow_damping_factor=2.000000
land_damping_falloff=0.250000
land_damping_factor=2.000000
full_lock_speed=10.000000
restricted_lock_speed=50.000000
restricted_lock=1.000000
arcade=Yes
front_brake=Antilock
rear_brake=Normal
stop_wheelies=Yes
auto_shift=Yes
auto_dab=Yes
auto_align=Yes
sticky_dab=No
reverse_steering=Yes
lean_indicator=Yes
auto_clutch_rpms=5000.000000
brake_torque=500.000000
rear_brake_torque=250.000000
max_dab_speed=60.000000
front_sprocket_adjustment=0.000000
rear_sprocket_adjustment=0.000000
fork_compression_adjustment=50.000000
fork_slow_compression_adjustment=50.000000
fork_rebound_adjustment=50.000000
fork_slow_rebound_adjustment=50.000000
fork_spring_rate_adjustment=50.000000
fork_preload_adjustment=50.000000
fork_oil_level_adjustment=50.000000
shock_compression_adjustment=75.000000
shock_slow_compression_adjustment=50.000000
shock_rebound_adjustment=75.000000
shock_slow_rebound_adjustment=50.000000
shock_spring_rate_adjustment=50.000000
shock_preload_adjustment=50.000000
rider_yspring=50.000000
rider_ydamping=50.000000
rider_zspring=50.000000
rider_zdamping=50.000000
rider_mass_distribution=0.330000
video_mode=Default Fullscreen
server_name=localhost
server_name_hist00=
server_name_hist01=
server_name_hist02=
server_name_hist03=
server_name_hist04=
server_name_hist05=
server_name_hist06=
server_name_hist07=
server_name_hist08=
server_name_hist09=
server_name_hist10=
server_name_hist11=
server_name_hist12=
server_name_hist13=
server_name_hist14=
server_name_hist15=
ground_detail=70.000000
ground_texture_detail=9.000000
ground_texture_dim=64x64
ground_mipmaps=Yes
texture_compress=No
render_texture=Software
use_shader=Yes
roost_density=1000.000000
reshade_delay=8.000000
lens_flare=Yes
reflections=Yes
hide_rider=No
rigid_camera=No
model_detail=50.000000
model_texture_detail=9.000000
fov=110.000000
first_person_height=0.000000
first_person_angle=0.000000
first_person_gimbal=0.000000
third_person_height=5.000000
third_person_distance=10.000000
volume=10.000000
comp_volume=8.000000
playback_mode=Playback Only
billboard_optimize_lookahead=8
message_lines=5
demo_backups=0
map_scale=1.000000
throttle_key=(k)x
front_brake_key=(k)c
rear_brake_key=(k)v
left_key=(k)left
right_key=(k)right
clutch_key=(k)z
upshift_key=(k)up
downshift_key=(k)down
dab_key=(k)right ctrl
back_up_key=(k)b
lean_forward_key=(k)n
lean_backward_key=(k)m
pause_key=(k)pause
step_key=(k).
rewind_key=(k)\
skip_key=(k)/
prev_key=(k)[
next_key=(k)]
console_key=(k)t
screenshot_key=(k)s
)";

static std::string written(void)
{
    char *t = config_write_text();
    std::string s = t;
    xfree(t);
    return s;
}

// Settings start from the defaults every test; files live in a fresh temporary home.
struct Config : ::testing::Test {
    char root[512];
    void SetUp() override
    {
        snprintf(root, sizeof root, "%ssk_config_XXXXXX", testing::TempDir().c_str());
        ASSERT_NE(mkdtemp(root), nullptr);
        setenv("SK_HOME", root, 1);
        setenv("XDG_DATA_HOME", root, 1);
        vfs_reset_for_tests();
        config_set_video_modes(k_modes, 4);
        config_apply_defaults();
    }
    void TearDown() override
    {
        bindings_release();
        char cmd[600];
        snprintf(cmd, sizeof cmd, "rm -rf '%s'", root);
        ASSERT_EQ(system(cmd), 0);
        vfs_reset_for_tests();
    }
    std::string home_path(const char *name)
    {
        std::string dir = search_dir(0);
        if (dir.empty() || dir.back() != '/')
            dir += '/';
        return dir + name;
    }
    void write_home_file(const char *name, const std::string &bytes)
    {
        std::string path = home_path(name);
        std::string cmd = "mkdir -p '" + path.substr(0, path.rfind('/')) + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    std::string read_home_file(const char *name)
    {
        FILE *f = fopen(home_path(name).c_str(), "rb");
        if (!f)
            return "<missing>";
        std::string s;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            s.append(buf, n);
        fclose(f);
        return s;
    }
};

TEST_F(Config, DefaultFileMatchesTheHandWrittenOne)
{
    EXPECT_EQ(written(), k_default_file);
    EXPECT_STREQ(config_preset_text(), "Current Settings: Compatibility");
}

TEST_F(Config, DefaultFileReadBackIsIdentical)
{
    ASSERT_TRUE(config_read_text(k_default_file));
    EXPECT_EQ(written(), k_default_file);
}

TEST_F(Config, ChangedSettingsSurviveAWriteAndARead)
{
    g_settings.xres = 1280;
    config_set_track("dunes");
    choice_set(&g_settings.skill, "Expert");
    number_set(&g_settings.laps, 12);
    choice_set(&g_settings.slot[0], "Robot (4 stroke)");
    choice_set(&g_settings.video_mode, "1920x1080");
    config_push_server_name("race.example");
    number_set(&g_settings.first_person_height, 0.03125 * 3);
    g_settings.message_lines = 9;
    number_set(&g_settings.map_scale, 0.5);
    copy_text(g_setup.name, "Ann Rider", 63);
    number_set(&g_setup.brake_torque, 320);
    binding_read(BIND_THROTTLE, "(0.062500,0.937500)pad axis 2");
    binding_read(BIND_SCREENSHOT, "(k)F12");
    std::string first = written();

    config_apply_defaults();
    ASSERT_NE(written(), first);
    ASSERT_TRUE(config_read_text(first.c_str()));
    EXPECT_EQ(written(), first);
    EXPECT_EQ(g_settings.xres, 1280);
    EXPECT_STREQ(g_settings.track, "dunes");
    EXPECT_STREQ(choice_label(&g_settings.video_mode), "1920x1080");
    EXPECT_STREQ(g_settings.server_name_hist[0], "race.example");
    EXPECT_DOUBLE_EQ(g_settings.first_person_height.value, 0.09375);
    EXPECT_STREQ(g_setup.name, "Ann Rider");
    EXPECT_STREQ(binding_get(BIND_SCREENSHOT)->key, "F12");
}

TEST(ConfigReading, NumbersClampToTheirRanges)
{
    config_apply_defaults();
    config_read_text("fov=500\nmap_scale=20\nlaps=-4\nminutes=61.5\nroost_density=-1\n"
                     "first_person_height=2\nthird_person_distance=1\n");
    EXPECT_EQ(g_settings.fov.value, 170);
    EXPECT_EQ(g_settings.map_scale.value, 8);
    EXPECT_EQ(g_settings.laps.value, 0);
    EXPECT_EQ(g_settings.minutes.value, 60);
    EXPECT_EQ(g_settings.roost_density.value, 0);
    EXPECT_EQ(g_settings.first_person_height.value, 1);
    EXPECT_EQ(g_settings.third_person_distance.value, 5);
    config_read_text("map_scale=0.01\nfov=9.5\n");
    EXPECT_EQ(g_settings.map_scale.value, 0.125);
    EXPECT_EQ(g_settings.fov.value, 10);
}

TEST(ConfigReading, ValuesThatDoNotParseLeaveTheSetting)
{
    config_apply_defaults();
    config_read_text("laps=abc\nfov=\nvolume=nan\ncomp_volume=inf\nxres=wide\nmessage_lines=\n");
    EXPECT_EQ(g_settings.laps.value, 5);
    EXPECT_EQ(g_settings.fov.value, 110);
    EXPECT_EQ(g_settings.volume.value, 10);
    EXPECT_EQ(g_settings.comp_volume.value, 8);
    EXPECT_EQ(g_settings.xres, 640);
    EXPECT_EQ(g_settings.message_lines, 5);
}

TEST(ConfigReading, IntegersAreBounded)
{
    config_apply_defaults();
    config_read_text("message_lines=5000\nyres=-20\ndemo_backups=99999999999999\ndraw_fps=3\n");
    EXPECT_EQ(g_settings.message_lines, 1000);
    EXPECT_EQ(g_settings.yres, 240) << "no window is shorter than 240";
    EXPECT_EQ(g_settings.demo_backups, 9999);
    EXPECT_EQ(g_settings.draw_fps, 3);
    config_read_text("message_lines=-3\n");
    EXPECT_EQ(g_settings.message_lines, 0);
    config_read_text("xres=-5\nyres=1\n");
    EXPECT_EQ(g_settings.xres, 320);
    EXPECT_EQ(g_settings.yres, 240);
    config_read_text("xres=100000\nyres=16384\n");
    EXPECT_EQ(g_settings.xres, 16384);
    EXPECT_EQ(g_settings.yres, 16384);
}

TEST(ConfigReading, ChoiceLabelsMustMatchExactly)
{
    config_apply_defaults();
    config_read_text("skill=expert\nrecord=yes\nrender_texture=Shaders/Direct \n");
    EXPECT_STREQ(choice_label(&g_settings.skill), "Novice");
    EXPECT_STREQ(choice_label(&g_settings.record), "No");
    EXPECT_STREQ(choice_label(&g_settings.render_texture), "Software");
    config_read_text("skill=Expert\nrecord=Yes\nrender_texture=Shaders/Copy\nslot05=Robot (2 stroke)\n");
    EXPECT_STREQ(choice_label(&g_settings.skill), "Expert");
    EXPECT_STREQ(choice_label(&g_settings.record), "Yes");
    EXPECT_STREQ(choice_label(&g_settings.render_texture), "Shaders/Copy");
    EXPECT_STREQ(choice_label(&g_settings.slot[5]), "Robot (2 stroke)");
}

TEST(ConfigReading, GateKeysNeedTwoDigitsInRange)
{
    config_apply_defaults();
    config_read_text("slot40=Human\nslot5=Human\nslot005=Human\nslot39=Human\n");
    EXPECT_STREQ(choice_label(&g_settings.slot[5]), "Empty");
    EXPECT_STREQ(choice_label(&g_settings.slot[39]), "Human");
    int humans = 0;
    for (const ChoiceItem &c : g_settings.slot)
        humans += strcmp(choice_label(&c), "Human") == 0;
    EXPECT_EQ(humans, 2);   // gate 20's default and gate 40
}

TEST(ConfigReading, LineEndsAreCutButNothingElse)
{
    config_apply_defaults();
    config_read_text("fov=90\r\nskill=Amateur\r\r\ntrack= spaced out \r\nserver_name=host=with=equals\n");
    EXPECT_EQ(g_settings.fov.value, 90);
    EXPECT_STREQ(choice_label(&g_settings.skill), "Amateur");
    EXPECT_STREQ(g_settings.track, " spaced out ");
    EXPECT_STREQ(g_settings.server_name, "host=with=equals");
}

TEST(ConfigReading, UnknownAndRetiredKeysAreIgnored)
{
    config_apply_defaults();
    char *before = config_write_text();
    config_read_text("no_such_key=1\nground_texture_distance=300\nFOV=20\n fov=20\n=\n");
    char *after = config_write_text();
    EXPECT_STREQ(before, after);
    xfree(before);
    xfree(after);
}

TEST(ConfigReading, OldFramebufferKeyPicksTheRenderingMethod)
{
    config_apply_defaults();
    config_read_text("use_fbo=No\n");
    EXPECT_STREQ(choice_label(&g_settings.render_texture), "Hardware/Copy");
    config_read_text("use_fbo=Yes\n");
    EXPECT_STREQ(choice_label(&g_settings.render_texture), "Hardware/Direct");
    config_read_text("use_fbo=maybe\n");
    EXPECT_STREQ(choice_label(&g_settings.render_texture), "Hardware/Direct");
    EXPECT_EQ(written().find("use_fbo"), std::string::npos);
}

TEST(ConfigReading, SetupKeysGoToTheBikeSetup)
{
    config_apply_defaults();
    config_read_text("name=Kim\nnumber=42\nstability=0\nleveling=55\n");
    EXPECT_STREQ(g_setup.name, "Kim");
    EXPECT_STREQ(g_setup.number, "42");
    EXPECT_EQ(g_setup.roll_limit_angle.value, 90);
    EXPECT_EQ(g_setup.leveling.value, 55);
}

TEST(ConfigReading, VideoModeMustBeListed)
{
    config_set_video_modes(k_modes, 4);
    config_apply_defaults();
    config_read_text("video_mode=1024x768\n");
    EXPECT_EQ(g_settings.video_mode.chosen, 2);
    config_read_text("video_mode=800x600\n");
    EXPECT_EQ(g_settings.video_mode.chosen, 2);
    // A new list without the chosen mode falls back to full screen.
    static const char *const fewer[] = { "Default Fullscreen", "Windowed", "1920x1080" };
    config_set_video_modes(fewer, 3);
    EXPECT_EQ(g_settings.video_mode.chosen, 0);
    config_read_text("video_mode=Windowed\n");
    config_set_video_modes(k_modes, 4);
    EXPECT_STREQ(choice_label(&g_settings.video_mode), "Windowed");
}

TEST(ConfigServerNames, ServerNameIsCutTo126Characters)
{
    config_apply_defaults();
    std::string line = "server_name=" + std::string(300, 'h') + "\n";
    config_read_text(line.c_str());
    EXPECT_EQ(strlen(g_settings.server_name), 126u);
}

TEST(ConfigServerNames, OverlongHistoryEntriesAreDropped)
{
    config_apply_defaults();
    std::string ok = std::string(126, 'a'), bad = std::string(127, 'b');
    std::string text = "server_name_hist00=" + ok + "\nserver_name_hist01=" + bad +
                       "\nserver_name_hist15=last\nserver_name_hist16=none\n";
    config_read_text(text.c_str());
    EXPECT_EQ(g_settings.server_name_hist[0], ok);
    EXPECT_STREQ(g_settings.server_name_hist[1], "");
    EXPECT_STREQ(g_settings.server_name_hist[15], "last");
}

TEST(ConfigServerNames, HistoryKeepsTheNewestSixteen)
{
    config_apply_defaults();
    config_push_server_name("");
    EXPECT_STREQ(g_settings.server_name_hist[0], "");
    char name[16];
    for (int i = 0; i < 20; i++) {
        snprintf(name, sizeof name, "host%d", i);
        config_push_server_name(name);
    }
    config_push_server_name("host19");      // same as the newest: no new entry
    EXPECT_STREQ(g_settings.server_name_hist[0], "host19");
    EXPECT_STREQ(g_settings.server_name_hist[1], "host18");
    EXPECT_STREQ(g_settings.server_name_hist[15], "host4");
    config_push_server_name("host4");       // older entries may repeat
    EXPECT_STREQ(g_settings.server_name_hist[0], "host4");
    EXPECT_STREQ(g_settings.server_name_hist[15], "host5");
    config_clear_server_history();
    EXPECT_STREQ(g_settings.server_name_hist[0], "");
}

TEST(ConfigTrack, ConfiguredTrackSurvivesSessionsWithoutOne)
{
    config_apply_defaults();
    config_read_text("track=hillside\n");
    EXPECT_FALSE(config_set_track(""));
    EXPECT_FALSE(config_set_track(nullptr));
    EXPECT_FALSE(config_set_track(std::string(1024, 't').c_str()));
    EXPECT_NE(written().find("\ntrack=hillside\n"), std::string::npos);
    EXPECT_TRUE(config_set_track("canyon"));
    EXPECT_NE(written().find("\ntrack=canyon\n"), std::string::npos);
}

TEST(ConfigPresets, EachPresetSetsItsThirteenItems)
{
    config_apply_defaults();
    ASSERT_TRUE(config_apply_preset(1));
    EXPECT_EQ(g_settings.ground_detail.value, 50);
    EXPECT_EQ(g_settings.ground_texture_detail.value, 7);
    EXPECT_STREQ(choice_label(&g_settings.ground_texture_dim), "64x64");
    EXPECT_STREQ(choice_label(&g_settings.texture_compress), "Yes");
    EXPECT_STREQ(choice_label(&g_settings.render_texture), "Hardware/Direct");
    EXPECT_STREQ(choice_label(&g_settings.use_shader), "No");
    EXPECT_EQ(g_settings.model_detail.value, 25);
    EXPECT_EQ(g_settings.model_texture_detail.value, 7);
    EXPECT_STREQ(choice_label(&g_settings.lens_flare), "No");
    EXPECT_STREQ(choice_label(&g_settings.reflections), "No");
    EXPECT_EQ(g_settings.roost_density.value, 0);
    EXPECT_EQ(g_settings.reshade_delay.value, 10);
    EXPECT_STREQ(config_preset_text(), "Current Settings: High FPS");
    config_apply_preset(3);
    EXPECT_EQ(g_settings.ground_detail.value, 90);
    EXPECT_STREQ(choice_label(&g_settings.ground_texture_dim), "256x256");
    EXPECT_EQ(g_settings.reshade_delay.value, 0);
    EXPECT_STREQ(config_preset_text(), "Current Settings: High Detail");
    config_apply_preset(2);
    EXPECT_STREQ(config_preset_text(), "Current Settings: Normal");
    EXPECT_FALSE(config_apply_preset(4));
    EXPECT_FALSE(config_apply_preset(-1));
}

TEST(ConfigPresets, OneChangedItemMakesItCustom)
{
    config_apply_defaults();
    config_read_text("model_detail=51\n");
    EXPECT_EQ(config_current_preset(), -1);
    EXPECT_STREQ(config_preset_text(), "Current Settings: Custom");
    config_read_text("model_detail=50\nfov=40\n");  // not a preset item
    EXPECT_STREQ(config_preset_text(), "Current Settings: Compatibility");
}

TEST(ConfigBindings, KeyAndAxisLinesWriteBackUnchanged)
{
    config_apply_defaults();
    config_read_text("left_key=(k)a\nright_key=(0.000000,1.000000)joystick.axis[0]\n"
                     "clutch_key=(-0.250000,-0.875000)pad axis 3\n");
    std::string out = written();
    EXPECT_NE(out.find("\nleft_key=(k)a\n"), std::string::npos);
    EXPECT_NE(out.find("\nright_key=(0.000000,1.000000)joystick.axis[0]\n"), std::string::npos);
    EXPECT_NE(out.find("\nclutch_key=(-0.250000,-0.875000)pad axis 3\n"), std::string::npos);
    // A binding with neither key nor axis is left out.
    config_read_text("dab_key=(k)\n");
    EXPECT_EQ(written().find("dab_key"), std::string::npos);
}

// Every kind of damage at once; every good line around it still counts.
static std::string damaged_file(void)
{
    std::string s;
    s += "fov=95\n";
    s += "this line is garbage\n";
    s += std::string("\x01\x02\xff\xfe\x80=\x7f\n", 8);
    s += std::string("laps=7\0junk\n", 12);            // a NUL makes the line damage
    s += "skill=Expert\n";
    s += "track=" + std::string(5000, 'x') + "\n";
    s += "volume=3\n";
    s += "messagelines 7\n";
    s += std::string("\0\0\0\n", 4);
    s += "minutes=" + std::string(1500, '9') + "=fov=12\n";
    s += "xres=1024\n";
    s += "comp_volume=2";                                 // no line feed at the end
    return s;
}

static void expect_good_lines_read(void)
{
    EXPECT_EQ(g_settings.fov.value, 95);
    EXPECT_EQ(g_settings.laps.value, 5);
    EXPECT_STREQ(choice_label(&g_settings.skill), "Expert");
    EXPECT_STREQ(g_settings.track, "");
    EXPECT_EQ(g_settings.volume.value, 3);
    EXPECT_EQ(g_settings.message_lines, 5);
    EXPECT_EQ(g_settings.minutes.value, 0);
    EXPECT_EQ(g_settings.xres, 1024);
    EXPECT_EQ(g_settings.comp_volume.value, 2);
}

TEST(ConfigDamage, EveryGoodLineOfADamagedTextIsRead)
{
    config_apply_defaults();
    std::string s = damaged_file();
    ASSERT_TRUE(config_read_buffer(s.data(), s.size()));
    expect_good_lines_read();
}

TEST(ConfigDamage, LinesOfExactlyTheLimitAreRead)
{
    config_apply_defaults();
    std::string name(CONFIG_LINE_MAX - 6, 'n');         // "track=" + name is 1023
    std::string text = "track=" + name + "\r\n";
    config_read_text(text.c_str());
    EXPECT_EQ(g_settings.track, name);
    config_read_text(("track=x" + name + "\n").c_str());
    EXPECT_EQ(g_settings.track, name);
}

TEST_F(Config, DamagedFileOnDiskStillStarts)
{
    write_home_file("config", damaged_file());
    ASSERT_TRUE(config_load());
    expect_good_lines_read();
}

TEST_F(Config, MissingFileLeavesEveryDefault)
{
    EXPECT_FALSE(config_load());
    EXPECT_EQ(written(), k_default_file);
}

TEST_F(Config, SaveThenLoadKeepsEverything)
{
    config_read_text("fov=75\ntrack=quarry\nleft_key=(k)a\nname=Lee\n");
    std::string before = written();
    ASSERT_TRUE(config_save());
    EXPECT_EQ(read_home_file("config"), before);
    config_apply_defaults();
    ASSERT_TRUE(config_load());
    EXPECT_EQ(written(), before);
    // Nothing but the file itself is left in the home directory.
    DIR *d = opendir(home_path("").c_str());
    ASSERT_NE(d, nullptr);
    int others = 0;
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..") && strcmp(e->d_name, "config") &&
            strcmp(e->d_name, "lastlog.txt"))
            others++;
    closedir(d);
    EXPECT_EQ(others, 0);
}

TEST_F(Config, SaveReplacesAnOlderLongerFile)
{
    write_home_file("config", std::string(20000, '#') + "\n");
    ASSERT_TRUE(config_save());
    EXPECT_EQ(read_home_file("config"), k_default_file);
}

TEST_F(Config, WriteThatFailsMidwayLeavesTheOldFileWhole)
{
    std::string old = "fov=42\ntrack=old_track\n" + std::string(3000, '#') + "\n";
    write_home_file("config", old);
    config_read_text("fov=99\n");
    // The disk fills after 512 bytes of the new file.
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 512;
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool saved_ok = config_save();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(read_home_file("config"), old);
    config_apply_defaults();
    ASSERT_TRUE(config_load());
    EXPECT_EQ(g_settings.fov.value, 42);
    EXPECT_STREQ(g_settings.track, "old_track");
}
