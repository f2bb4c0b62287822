// The screens driven as a player would: keys, typed characters, the mouse and a game
// controller, with the settings, the bike setup and the bindings they act on.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <filesystem>
#include <string>
#include <vector>

#include "bike/catalogue.h"
#include "bike/setup.h"
#include "common/messages.h"
#include "driver/args.h"
#include "driver/bindings.h"
#include "driver/config.h"
#include "driver/lists.h"
#include "platform/input.h"
#include "platform/log.h"
#include "race/world.h"
#include "ui/menus.h"
#include "ui/screens.h"
#include "ui/widgets.h"
#include "vfs/vfs.h"

static std::vector<std::string> g_console_lines;
static void record_console_line(const char *text)
{
    g_console_lines.push_back(text);
}

struct Menus : ::testing::Test {
    std::string root;
    void SetUp() override
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sk_ui_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        setenv("SK_HOME", root.c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        setenv("TOVA_LOGFILE", (root + "/test.log").c_str(), 1);
        log_reset_for_tests();
        vfs_reset_for_tests();
        world_reset_for_tests();
        messages_clear();
        clear_input_devices();
        config_set_video_modes(nullptr, 0);
        bike_catalogue_offer();
        config_apply_defaults();
        bindings_resolve();
        settings_defaults(startup_settings(), 70);
        g_console_lines.clear();
        MenuHooks hooks = { record_console_line, nullptr };
        menu_set_hooks(&hooks);
        menu_reset_for_tests();
        menu_set_window(640, 480);
        menu_init();
    }
    void TearDown() override
    {
        menu_shutdown();
        menu_set_hooks(nullptr);
        capture_cancel();
        bindings_release();
        clear_input_devices();
        free_demo_list();
        free_texture_lists();
        log_reset_for_tests();
        vfs_reset_for_tests();
        unsetenv("TOVA_LOGFILE");
        std::filesystem::remove_all(root);
    }
    static void press(const char *name) { menu_key(key_code(name)); }
    static void type(const char *text)
    {
        for (const char *p = text; *p; p++)
            menu_key((unsigned char)*p);
    }
    static void down(int times)
    {
        for (int i = 0; i < times; i++)
            press("down");
    }
    static std::string label(int item)
    {
        menu_item_count();
        const WidgetItem *it = widget_item(item);
        return it && it->label ? it->label : "";
    }
    // The centre of an item's line, and of its slider at a fraction.
    static void centre(int item, float *x, float *y)
    {
        menu_item_count();
        const WidgetRect &r = widget_item(item)->rect;
        *x = (r.left + r.right) / 2;
        *y = (r.top + r.bottom) / 2;
    }
    static void click_slider(int item, float fraction)
    {
        menu_item_count();
        const WidgetRect &s = widget_item(item)->slider;
        menu_mouse(s.left + fraction * (s.right - s.left), (s.top + s.bottom) / 2, false);
        menu_key(EVENT_MOUSE_LEFT);
    }
};

TEST_F(Menus, UpAndDownStayWithinTheMainMenu)
{
    open_menu(MENU_MAIN, 0);
    EXPECT_EQ(menu_item_count(), 9);
    press("up");
    EXPECT_EQ(menu_item(), 0);
    down(3);
    EXPECT_EQ(menu_item(), 3);
    EXPECT_EQ(label(3), "Time Trial");
    down(20);
    EXPECT_EQ(menu_item(), 8);
    EXPECT_EQ(label(8), "Quit");
}

TEST_F(Menus, MainMenuEntriesOpenTheirScreens)
{
    const int screens[9] = { MENU_NEW_RACE, MENU_PLAYBACK, MENU_SERIES_LIST, MENU_TIME_TRIAL, MENU_MULTIPLAYER,
                             MENU_BIKE_SETUP, MENU_GRAPHICS, MENU_CONTROLS, MENU_QUIT };
    for (int i = 0; i < 9; i++) {
        open_menu(MENU_MAIN, 0);
        down(i);
        press("enter");
        EXPECT_EQ(menu_screen(), screens[i]) << "entry " << i;
        EXPECT_EQ(menu_item(), 0);
        EXPECT_TRUE(menu_changed_this_frame());
        menu_frame_begin();
    }
    // Each sub-screen's first item leads back up.
    open_menu(MENU_SUSPENSION, 0);
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_BIKE_SETUP);
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_MAIN);
}

TEST_F(Menus, QuitScreenEndsOnAnyKeyButEsc)
{
    open_menu(MENU_QUIT, 0);
    press("esc");
    EXPECT_FALSE(menu_quit_requested()) << "esc goes back to the game (the loop closes the menu)";
    type("q");
    EXPECT_TRUE(menu_quit_requested());
}

TEST_F(Menus, NewRaceSettingsFromTheKeyboard)
{
    open_menu(MENU_NEW_RACE, 0);
    ASSERT_EQ(label(4), "Robot Skill");
    down(4);
    type("x");
    EXPECT_STREQ(choice_label(&g_settings.skill), "Expert");
    press("backspace");
    type("n");
    EXPECT_STREQ(choice_label(&g_settings.skill), "Novice");
    ASSERT_EQ(label(6), "Laps");
    down(2);
    g_settings.laps.value = 49;
    press("right");
    press("right");
    EXPECT_EQ(g_settings.laps.value, 50) << "right on 50 laps leaves 50";
    ASSERT_EQ(label(7), "Gate 1");
    ASSERT_EQ(label(46), "Gate 40");
    down(40);
    EXPECT_EQ(menu_item(), 46);
    type("4");
    EXPECT_STREQ(choice_label(&g_settings.slot[39]), "Robot (4 stroke)");
}

TEST_F(Menus, NewRaceRotatesTheGatesByTheOption)
{
    // No track is installed: the start fails, the line-up still turns for the next one.
    startup_settings()->rotate_lineup = 1;
    ASSERT_STREQ(choice_label(&g_settings.slot[19]), "Human");
    open_menu(MENU_NEW_RACE, 1);
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_NONE) << "the menu closes";
    EXPECT_STREQ(choice_label(&g_settings.slot[20]), "Human");
    EXPECT_STREQ(choice_label(&g_settings.slot[19]), "Robot");
    EXPECT_STREQ(choice_label(&g_settings.slot[17]), "Empty");
    EXPECT_FALSE(start_new_race());
    EXPECT_STREQ(choice_label(&g_settings.slot[21]), "Human") << "gate 22 after the second start";
    // A request turned past gate 40 is gone; backwards turns go the other way.
    g_settings.slot[39].chosen = 2;
    rotate_gate_choices(1);
    EXPECT_STREQ(choice_label(&g_settings.slot[0]), "Empty");
    rotate_gate_choices(-22);
    EXPECT_STREQ(choice_label(&g_settings.slot[0]), "Human");
}

TEST_F(Menus, PagedListsClampAndHideTheirEnds)
{
    std::vector<std::string> names;
    for (int i = 0; i < 45; i++)
        names.push_back("demos/race" + std::to_string(100 + i) + ".skdemo");
    std::vector<const char *> pointers;
    for (const std::string &n : names)
        pointers.push_back(n.c_str());
    pointers.push_back(nullptr);
    ASSERT_EQ(build_demo_list(pointers.data(), 0), 45);
    open_menu(MENU_PLAYBACK, 0);
    // Back, Playback Mode, Prev Page, the names, Next Page.
    EXPECT_EQ(menu_item_count(), 24);
    EXPECT_EQ(label(3), "race100");
    down(23);
    EXPECT_EQ(label(menu_item()), "Next Page");
    press("enter");
    EXPECT_EQ(label(3), "race120");
    press("enter");
    EXPECT_EQ(menu_item_count(), 9) << "the third page holds 5 names";
    EXPECT_EQ(label(7), "race144");
    EXPECT_EQ(menu_item(), 8) << "the highlight stays on Next Page";
    press("enter");
    EXPECT_EQ(label(3), "race140") << "Next Page on the last page stays there";
    open_menu(MENU_PLAYBACK, 2);
    for (int i = 0; i < 4; i++)
        press("enter");
    EXPECT_EQ(label(3), "race100");
}

TEST_F(Menus, ChooserHandsTheChosenIndexBack)
{
    open_menu(MENU_BIKE_SETUP, 0);
    ASSERT_EQ(label(3), "Bike");
    int bike_before = g_setup.bike.chosen;
    down(3);
    type("cr");         // type-ahead moves the choice; enter opens the chooser
    EXPECT_NE(g_setup.bike.chosen, bike_before);
    press("enter");
    ASSERT_EQ(menu_screen(), MENU_CHOOSER);
    EXPECT_EQ(chooser_list(), CHOOSE_BIKE);
    int pages = page_count(g_setup.bike.count);
    EXPECT_EQ(pages, 4) << "80 bikes, 20 a page";
    // Page on to the last one, then take its third name.
    open_menu(MENU_CHOOSER, 0);
    menu_item_count();
    int next = menu_item_count() - 1;
    for (int i = 0; i < 6; i++) {
        open_menu(MENU_CHOOSER, next);
        press("enter");
    }
    EXPECT_EQ(chooser_page(), 3);
    open_menu(MENU_CHOOSER, 4);
    std::string name = label(4);
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_BIKE_SETUP);
    EXPECT_EQ(g_setup.bike.chosen, 3 * 20 + 2);
    EXPECT_EQ(name, choice_label(&g_setup.bike));
    // Cancel returns without a change.
    chooser_open(CHOOSE_BIKE, MENU_BIKE_SETUP);
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_BIKE_SETUP);
    EXPECT_EQ(g_setup.bike.chosen, 62);
}

TEST_F(Menus, RidingGearComesFromItsListAndANewBikeTakesItsFirstGraphics)
{
    const char *index[] = { "rider_body-blue.png", "rider_body-red.png", "yz250f-white.png", "yz250f-black.png",
                            "wheels-gold.png", nullptr };
    build_texture_lists(index);
    ASSERT_STREQ(g_setup.rider_texture, "rider_body-blue.png");
    open_menu(MENU_BIKE_SETUP, 6);
    ASSERT_EQ(label(6), "Riding Gear");
    press("right");
    EXPECT_STREQ(g_setup.rider_texture, "rider_body-red.png");
    press("enter");
    ASSERT_EQ(menu_screen(), MENU_CHOOSER);
    EXPECT_EQ(chooser_list(), CHOOSE_RIDING_GEAR);
    EXPECT_EQ(label(2), "blue") << "shown without the prefix and the extension";
    open_menu(MENU_CHOOSER, 2);
    press("enter");
    EXPECT_STREQ(g_setup.rider_texture, "rider_body-blue.png");
}

TEST_F(Menus, StabilityMovesTheAssistsAndStarOpensThem)
{
    open_menu(MENU_BIKE_SETUP, 0);
    ASSERT_EQ(label(10), "Stability");
    down(10);
    press("left");
    EXPECT_EQ(g_setup.stability.value, 99);
    // Stability 99: t = 4.95 between the 80 and 100 points: 2.5 + (1 - 2.5) x 0.95.
    EXPECT_NEAR(g_setup.restricted_lock.value, 1.075, 1e-9);
    g_setup.restricted_lock.value = 7;
    type("*");
    EXPECT_EQ(menu_screen(), MENU_STABILITY);
    EXPECT_EQ(g_setup.restricted_lock.value, 7) << "opening the screen changes nothing";
    EXPECT_EQ(menu_item_count(), 16);
    EXPECT_EQ(label(15), "Restricted Lock Angle");
}

TEST_F(Menus, BindingsAreCapturedFromAKeyAnAxisAndAButton)
{
    int stick = add_input_device("TestStick", 2, 4, AXIS_ABSOLUTE);
    ASSERT_GE(stick, 0);
    open_menu(MENU_CONTROLS, 0);
    EXPECT_EQ(menu_item_count(), 21);
    ASSERT_EQ(label(1), "Throttle");
    down(1);
    press("enter");
    ASSERT_TRUE(capture_active());
    EXPECT_EQ(capture_binding(), BIND_THROTTLE);
    capture_key(key_code("k"), 10);
    capture_tic(10.2);
    EXPECT_TRUE(capture_active()) << "a key wins only 0.25 s after its press";
    capture_tic(10.3);
    EXPECT_FALSE(capture_active());
    EXPECT_EQ(key_code(binding_get(BIND_THROTTLE)->key), key_code("k"));

    // The front brake on the stick's second axis, pulled to -0.9 and held.
    down(1);
    press("enter");
    input_device_axis(stick, 1, -29491);
    capture_tic(20);
    capture_tic(20.2);
    EXPECT_TRUE(capture_active());
    capture_tic(20.3);
    ASSERT_FALSE(capture_active());
    const Binding *brake = binding_get(BIND_FRONT_BRAKE);
    EXPECT_STREQ(brake->axis, "TestStick axis 1");
    EXPECT_STREQ(brake->key, "");
    float far = -29491 / 32768.0f;
    EXPECT_NEAR(brake->rest, 0.0625f * far, 1e-6);
    EXPECT_NEAR(brake->full, 0.9375f * far, 1e-6);

    // A stick button for the clutch, the mouse starting the capture.
    input_device_axis(stick, 1, 0);
    float x, y;
    centre(6, &x, &y);
    ASSERT_EQ(label(6), "Clutch");
    menu_mouse(x, y, false);
    menu_key(EVENT_MOUSE_LEFT);
    ASSERT_EQ(capture_binding(), BIND_CLUTCH);
    capture_key(input_device_id(stick) + 3, 30);
    capture_tic(30.3);
    EXPECT_STREQ(binding_get(BIND_CLUTCH)->key, "TestStick button 3");
    EXPECT_EQ(binding_get(BIND_CLUTCH)->key_code, input_device_id(stick) + 3);
}

TEST_F(Menus, MouseHighlightsClicksAndDrags)
{
    open_menu(MENU_MAIN, 0);
    float x, y;
    centre(3, &x, &y);
    menu_mouse(x, y, false);
    EXPECT_EQ(menu_item(), 3);
    menu_mouse(5, 5, false);
    EXPECT_EQ(menu_item(), 3) << "off every item the highlight stays";
    menu_mouse(x, y, false);
    menu_key(EVENT_MOUSE_LEFT);
    EXPECT_EQ(menu_screen(), MENU_TIME_TRIAL);

    open_menu(MENU_NEW_RACE, 0);
    ASSERT_EQ(label(6), "Laps");
    click_slider(6, 0.5f);
    EXPECT_EQ(g_settings.laps.value, 25);
    EXPECT_EQ(menu_item(), 6);
    menu_item_count();
    const WidgetRect s = widget_item(6)->slider;
    menu_mouse(s.left + 0.9f * (s.right - s.left), 0, true);
    EXPECT_EQ(g_settings.laps.value, 45) << "a drag keeps following the slider";
    // A drag that began off the slider moves nothing.
    float lx, ly;
    centre(5, &lx, &ly);
    menu_mouse(widget_item(5)->rect.left + 2, ly, false);
    menu_key(EVENT_MOUSE_LEFT);
    menu_mouse(s.left, ly, true);
    EXPECT_EQ(g_settings.minutes.value, 0);
    EXPECT_EQ(g_settings.laps.value, 45);
}

TEST_F(Menus, GameControllerMovesAcceptsAndGoesBack)
{
    int pad = add_input_device("XInputGamepad0", 6, 16, AXIS_ABSOLUTE);
    ASSERT_GE(pad, 0);
    int id = input_device_id(pad);
    EXPECT_TRUE(menu_opens_with(id + 4)) << "Start opens the menu";
    EXPECT_FALSE(menu_opens_with(id + 12));
    open_menu(MENU_MAIN, 0);
    menu_key(id + 1);                   // d-pad down
    menu_key(id + 1);
    EXPECT_EQ(menu_item(), 2);
    menu_key(id + 0);
    EXPECT_EQ(menu_item(), 1);
    menu_key(id + 12);                  // A
    EXPECT_EQ(menu_screen(), MENU_PLAYBACK);
    menu_key(id + 13);                  // B
    EXPECT_EQ(menu_screen(), MENU_MAIN);
    menu_key(id + 13);
    EXPECT_EQ(menu_screen(), MENU_NONE) << "B on the main menu goes back to the game";

    // The left stick pushed down moves once, then repeats after a pause.
    open_menu(MENU_MAIN, 0);
    input_device_axis(pad, 1, -32000);
    menu_pad_frame(1.0);
    EXPECT_EQ(menu_item(), 1);
    menu_pad_frame(1.2);
    EXPECT_EQ(menu_item(), 1);
    menu_pad_frame(1.45);
    EXPECT_EQ(menu_item(), 2);
    menu_pad_frame(1.6);
    EXPECT_EQ(menu_item(), 3);
    input_device_axis(pad, 1, 0);
    menu_pad_frame(2.0);
    EXPECT_EQ(menu_item(), 3);
    input_device_axis(pad, 1, 20000);   // up
    menu_pad_frame(2.1);
    EXPECT_EQ(menu_item(), 2);
    menu_key(id + 4);
    EXPECT_EQ(menu_screen(), MENU_NONE) << "Start leaves the menus";
}

TEST_F(Menus, ConsoleScreenTakesALineAndPagesBack)
{
    for (int i = 0; i < 120; i++) {
        char text[32];
        snprintf(text, sizeof text, "line %d", i);
        post_message(text);
    }
    open_menu(MENU_CONSOLE, 0);
    EXPECT_STREQ(console_row(CONSOLE_LINES - 1), "line 119") << "the newest at the bottom";
    EXPECT_STREQ(console_row(0), "line 70");
    type("/fov 9x");
    press("backspace");
    EXPECT_STREQ(console_input(), "/fov 9");
    press("enter");
    ASSERT_EQ(g_console_lines.size(), 1u);
    EXPECT_EQ(g_console_lines[0], "/fov 9");
    EXPECT_STREQ(console_input(), "");
    press("enter");
    EXPECT_EQ(g_console_lines.size(), 1u) << "an empty line is not sent";
    press("page up");
    EXPECT_EQ(console_scrolled(), 25);
    EXPECT_STREQ(console_row(CONSOLE_LINES - 1), "^    ^    ^    ^    ^");
    EXPECT_STREQ(console_row(CONSOLE_LINES - 2), "line 93");
    for (int i = 0; i < 50; i++)
        press("page up");
    EXPECT_EQ(console_scrolled(), (int)MESSAGE_LOG_LINES - (int)CONSOLE_LINES);
    press("page down");
    EXPECT_EQ(console_scrolled(), (int)MESSAGE_LOG_LINES - (int)CONSOLE_LINES - 25);
    for (int i = 0; i < 50; i++)
        press("page down");
    EXPECT_EQ(console_scrolled(), 0);
}

TEST_F(Menus, GraphicsPresetsAndTheCurrentSettingsLine)
{
    open_menu(MENU_GRAPHICS, 0);
    ASSERT_EQ(label(3), "Use High FPS Settings");
    down(3);
    press("enter");
    EXPECT_EQ(config_current_preset(), 1);
    EXPECT_STREQ(config_preset_text(), "Current Settings: High FPS");
    ASSERT_EQ(label(6), "Video Mode");
    down(3);
    press("right");
    EXPECT_STREQ(choice_label(&g_settings.video_mode), "Windowed");
    open_menu(MENU_ADVANCED_GRAPHICS, 0);
    ASSERT_EQ(label(10), "Roost Density");
    down(10);
    press("right");
    EXPECT_EQ(g_settings.roost_density.value, 10);
    EXPECT_STREQ(config_preset_text(), "Current Settings: Custom");
}

TEST_F(Menus, MultiplayerConnectKeepsTheServerAndSaysItIsNotThereYet)
{
    open_menu(MENU_MULTIPLAYER, 3);
    ASSERT_EQ(label(3), "Server");
    for (int i = 0; i < 20; i++)
        press("backspace");
    type("race.example");
    EXPECT_STREQ(g_settings.server_name, "race.example");
    open_menu(MENU_MULTIPLAYER, 1);
    ASSERT_EQ(label(1), "Connect");
    press("enter");
    EXPECT_EQ(menu_screen(), MENU_NONE);
    EXPECT_STREQ(g_settings.server_name_hist[0], "race.example");
    EXPECT_STREQ(message_line(0), "Multiplayer is not in the game yet");
    // Page up walks the history back into the field.
    strcpy(g_settings.server_name_hist[1], "older.example");
    strcpy(g_settings.server_name, "typed");
    open_menu(MENU_MULTIPLAYER, 3);
    press("page up");
    EXPECT_STREQ(g_settings.server_name, "race.example");
    press("page up");
    EXPECT_STREQ(g_settings.server_name, "older.example");
    press("page up");
    EXPECT_STREQ(g_settings.server_name, "older.example") << "no older entry";
    press("page down");
    EXPECT_STREQ(g_settings.server_name, "race.example");
}
