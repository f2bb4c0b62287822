// The widgets' logic with synthetic keys and cursor positions; nothing is drawn.
#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "platform/input.h"
#include "ui/widgets.h"

static const char *const k_skills[] = { "Novice", "Amateur", "Expert" };
static const char *const k_gates[] = { "Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)" };

struct Widgets : ::testing::Test {
    void SetUp() override
    {
        widgets_init();
        widgets_set_window(640, 480);
        widget_forget_input();
    }
    static int key(const char *name) { return key_code(name); }
};

// One choice item alone on a screen, given one key.
static int choice_key(ChoiceItem *c, int key, bool chooser = false)
{
    widgets_begin(PASS_KEY, 0, 32, key, 0, 0, false);
    int r = widget_choice(c, chooser);
    widgets_end();
    return r;
}

static int type(ChoiceItem *c, const char *text)
{
    int r = WIDGET_IDLE;
    for (const char *p = text; *p; p++)
        r = choice_key(c, *p);
    return r;
}

TEST_F(Widgets, TypeAheadSelectsFromTheCurrentChoiceOn)
{
    ChoiceItem skill = { "Robot Skill", k_skills, 3, 0 };
    EXPECT_EQ(type(&skill, "n"), WIDGET_IDLE) << "Novice already contains n";
    EXPECT_STREQ(choice_label(&skill), "Novice");
    widget_forget_input();
    EXPECT_EQ(type(&skill, "x"), WIDGET_CHANGED);
    EXPECT_STREQ(choice_label(&skill), "Expert");
    EXPECT_STREQ(widget_type_ahead(), "x");
    // "xq" matches nothing: the q is dropped again and the choice stays.
    EXPECT_EQ(type(&skill, "q"), WIDGET_IDLE);
    EXPECT_STREQ(widget_type_ahead(), "x");
    EXPECT_STREQ(choice_label(&skill), "Expert");
    // From Expert the search wraps round to the first label holding "n", ignoring case.
    widget_forget_input();
    EXPECT_EQ(type(&skill, "N"), WIDGET_CHANGED);
    EXPECT_STREQ(choice_label(&skill), "Novice");
    EXPECT_EQ(type(&skill, "ov"), WIDGET_IDLE);
    EXPECT_STREQ(widget_type_ahead(), "Nov");
}

TEST_F(Widgets, BackspaceAndAnotherItemClearTheTypeAhead)
{
    ChoiceItem a = { "Gate 1", k_gates, 5, 0 }, b = { "Gate 2", k_gates, 5, 0 };
    type(&a, "hu");
    EXPECT_STREQ(widget_type_ahead(), "hu");
    choice_key(&a, key("backspace"));
    EXPECT_STREQ(widget_type_ahead(), "");
    EXPECT_STREQ(choice_label(&a), "Human") << "Backspace only forgets the text";
    type(&a, "ro");
    // A key for the second item of the screen starts its own text.
    widgets_begin(PASS_KEY, 1, 32, 'e', 0, 0, false);
    widget_choice(&a, false);
    widget_choice(&b, false);
    widgets_end();
    EXPECT_STREQ(widget_type_ahead(), "e");
    EXPECT_STREQ(choice_label(&b), "Empty");
    EXPECT_STREQ(choice_label(&a), "Robot");
}

TEST_F(Widgets, TabFindsTheNextMatchAndWraps)
{
    ChoiceItem gate = { "Gate 1", k_gates, 5, 0 };
    type(&gate, "rob");
    EXPECT_STREQ(choice_label(&gate), "Robot");
    int tab = key("tab");
    choice_key(&gate, tab);
    EXPECT_STREQ(choice_label(&gate), "Robot (2 stroke)");
    choice_key(&gate, tab);
    EXPECT_STREQ(choice_label(&gate), "Robot (4 stroke)");
    choice_key(&gate, tab);
    EXPECT_STREQ(choice_label(&gate), "Robot") << "past the last match Tab wraps to the first";
    choice_key(&gate, key("backspace"));
    choice_key(&gate, tab);
    EXPECT_STREQ(choice_label(&gate), "Robot (2 stroke)") << "with no text Tab takes the next choice";
}

TEST_F(Widgets, ChoiceStepsBothWaysAndWraps)
{
    ChoiceItem skill = { "Robot Skill", k_skills, 3, 2 };
    EXPECT_EQ(choice_key(&skill, key("right")), WIDGET_CHANGED);
    EXPECT_STREQ(choice_label(&skill), "Novice");
    choice_key(&skill, key("left"));
    EXPECT_STREQ(choice_label(&skill), "Expert");
    choice_key(&skill, key("enter"));
    choice_key(&skill, key("space"));
    EXPECT_STREQ(choice_label(&skill), "Amateur");
    choice_key(&skill, ' ');
    EXPECT_STREQ(widget_type_ahead(), "") << "the space bar's typed character is no search";
    // A chooser item is activated by enter and still cycles with the arrows.
    EXPECT_EQ(choice_key(&skill, key("enter"), true), WIDGET_ACTIVATED);
    EXPECT_STREQ(choice_label(&skill), "Amateur");
    EXPECT_EQ(choice_key(&skill, key("right"), true), WIDGET_CHANGED);
    EXPECT_STREQ(choice_label(&skill), "Expert");
}

TEST_F(Widgets, ButtonsAndBindingsActivate)
{
    struct Case {
        int pass;
        const char *key;
        int button, binding;
    };
    const Case cases[] = {
        { PASS_KEY, "enter", WIDGET_ACTIVATED, WIDGET_ACTIVATED },
        { PASS_KEY, "keypad enter", WIDGET_ACTIVATED, WIDGET_ACTIVATED },
        { PASS_KEY, "space", WIDGET_ACTIVATED, WIDGET_IDLE },   // a binding may want the space bar
        { PASS_KEY, "right", WIDGET_IDLE, WIDGET_IDLE },
        { PASS_CLICK, "", WIDGET_ACTIVATED, WIDGET_ACTIVATED },
    };
    for (const Case &c : cases) {
        widgets_begin(c.pass, 0, 32, c.key[0] ? key(c.key) : -1, 50, 50, false);
        EXPECT_EQ(widget_button("Start"), c.button) << c.key;
        widgets_end();
        widgets_begin(c.pass, 0, 32, c.key[0] ? key(c.key) : -1, 50, 50, false);
        EXPECT_EQ(widget_binding("Throttle", "X"), c.binding) << c.key;
        widgets_end();
    }
    // Only the target item acts.
    widgets_begin(PASS_KEY, 1, 32, key("enter"), 0, 0, false);
    EXPECT_EQ(widget_button("Back"), WIDGET_IDLE);
    EXPECT_EQ(widget_button("Start"), WIDGET_ACTIVATED);
    widgets_end();
}

static int number_pass(NumberItem *n, int pass, int key, float x)
{
    widgets_begin(pass, 0, 32, key, x, 0, false);
    int r = widget_number(n, nullptr);
    widgets_end();
    return r;
}

// The cursor x at this fraction of the item's slider.
static float slider_x(NumberItem *n, float fraction)
{
    widgets_begin(PASS_LAYOUT, 0, 32, -1, 0, 0, false);
    widget_number(n, nullptr);
    widgets_end();
    const WidgetRect &s = widget_item(0)->slider;
    return s.left + fraction * (s.right - s.left);
}

TEST_F(Widgets, NumberStepsAreClamped)
{
    NumberItem laps = { "Laps", 50, 1, 0, 50 };
    EXPECT_EQ(number_pass(&laps, PASS_KEY, key("right"), 0), WIDGET_IDLE);
    EXPECT_EQ(laps.value, 50) << "right on 50 laps stays 50";
    EXPECT_EQ(number_pass(&laps, PASS_KEY, key("left"), 0), WIDGET_CHANGED);
    EXPECT_EQ(laps.value, 49);
    NumberItem height = { "1st Person Height", 0.03125, 0.03125, 0, 1 };
    number_pass(&height, PASS_KEY, key("left"), 0);
    number_pass(&height, PASS_KEY, key("left"), 0);
    EXPECT_EQ(height.value, 0);
}

TEST_F(Widgets, SliderClickRoundsToWholeStepsFromTheMinimum)
{
    // Halfway along 5..40 is 22.5: 17.5 steps from the minimum round to 18, giving 23.
    NumberItem distance = { "3rd Person Distance", 10, 1, 5, 40 };
    EXPECT_EQ(number_pass(&distance, PASS_CLICK, -1, slider_x(&distance, 0.5f)), WIDGET_CHANGED);
    EXPECT_EQ(distance.value, 23);
    // A tenth along 0.33..0.5 is 0.347: 1.7 steps of 0.01 round to 2, giving 0.35.
    NumberItem mass = { "Rider Mass Distribution", 0.5, 0.01, 0.33, 0.5 };
    number_pass(&mass, PASS_CLICK, -1, slider_x(&mass, 0.1f));
    EXPECT_NEAR(mass.value, 0.35, 1e-9);
    // 0.1 along 0..1 in steps of 1/32: 3.2 steps round down to 3.
    NumberItem height = { "1st Person Height", 1, 0.03125, 0, 1 };
    number_pass(&height, PASS_CLICK, -1, slider_x(&height, 0.1f));
    EXPECT_EQ(height.value, 0.09375);
    // A click on the label is no slider click.
    widgets_begin(PASS_LAYOUT, 0, 32, -1, 0, 0, false);
    widget_number(&distance, nullptr);
    widgets_end();
    float label_x = widget_item(0)->rect.left + 2;
    EXPECT_EQ(number_pass(&distance, PASS_CLICK, -1, label_x), WIDGET_IDLE);
    EXPECT_EQ(distance.value, 23);
}

TEST_F(Widgets, SliderDragFollowsTheCursorWithinTheRange)
{
    NumberItem fov = { "Field Of View", 110, 1, 10, 170 };
    number_pass(&fov, PASS_DRAG, -1, slider_x(&fov, 0.25f));
    EXPECT_EQ(fov.value, 50);
    number_pass(&fov, PASS_DRAG, -1, slider_x(&fov, 1.5f));
    EXPECT_EQ(fov.value, 170) << "dragged past the end: the maximum";
    number_pass(&fov, PASS_DRAG, -1, slider_x(&fov, -1));
    EXPECT_EQ(fov.value, 10);
    EXPECT_EQ(slider_value(&fov, 0.5), 90);
}

static int text_key(char *text, int max, int key)
{
    widgets_begin(PASS_KEY, 0, 32, key, 0, 0, false);
    int r = widget_text("Name", text, max);
    widgets_end();
    return r;
}

TEST_F(Widgets, TextFieldEditsAtTheCursor)
{
    char name[8] = "Joe";
    EXPECT_EQ(text_key(name, 5, 'x'), WIDGET_CHANGED);
    EXPECT_STREQ(name, "Joex") << "the cursor starts at the end";
    text_key(name, 5, key("left"));
    text_key(name, 5, key("left"));
    text_key(name, 5, 'Y');
    EXPECT_STREQ(name, "JoYex");
    EXPECT_EQ(text_key(name, 5, 'z'), WIDGET_IDLE) << "full at five characters";
    EXPECT_STREQ(name, "JoYex");
    text_key(name, 5, key("backspace"));
    EXPECT_STREQ(name, "Joex") << "Backspace deletes before the cursor";
    for (int i = 0; i < 6; i++)
        text_key(name, 5, key("left"));
    EXPECT_EQ(text_key(name, 5, key("backspace")), WIDGET_IDLE) << "nothing before the start";
    text_key(name, 5, '7');
    EXPECT_STREQ(name, "7Joex");
    for (int i = 0; i < 9; i++)
        text_key(name, 5, key("right"));
    text_key(name, 5, key("backspace"));
    EXPECT_STREQ(name, "7Joe");
    EXPECT_EQ(text_key(name, 5, 9), WIDGET_IDLE) << "control characters are not text";
    EXPECT_STREQ(name, "7Joe");
}

TEST_F(Widgets, LayoutIsALinePerItemInTheCentredArea)
{
    // 1280 x 720: the 4:3 area is 960 wide, centred; 32 units make 30-pixel lines.
    widgets_set_window(1280, 720);
    widgets_begin(PASS_LAYOUT, 0, 32, -1, 0, 0, false);
    widget_button("New Race");
    widget_hidden();
    widget_button("Quit");
    EXPECT_EQ(widgets_end(), 3);
    const WidgetItem *first = widget_item(0), *third = widget_item(2);
    EXPECT_FLOAT_EQ(first->rect.left, 160 + 30);
    EXPECT_FLOAT_EQ(first->rect.top, 3 * 30);
    EXPECT_FLOAT_EQ(third->rect.top - first->rect.top, 60) << "items one line apart, the hidden one too";
    EXPECT_STREQ(third->label, "Quit");
    EXPECT_EQ(widget_at(200, 95), 0);
    EXPECT_EQ(widget_at(200, 125), -1) << "a hidden item is never under the cursor";
    EXPECT_EQ(widget_at(200, 155), 2);
    EXPECT_EQ(widget_at(100, 95), -1) << "left of the area";
}

TEST_F(Widgets, NumbersShowTheDecimalsOfTheirStep)
{
    struct Case {
        NumberItem n;
        const char *shown;
    };
    const Case cases[] = {
        { { "Laps", 5, 1, 0, 50 }, "5" },
        { { "Direct Steering", 0.125, 0.125, 0, 1 }, "0.125" },
        { { "Landing Damping Falloff", 0.25, 0.0625, 0, 0.5 }, "0.2500" },
        { { "Rider Mass Distribution", 0.33, 0.01, 0.33, 0.5 }, "0.33" },
        { { "Roost Density", 250, 10, 0, 1000 }, "250" },
    };
    for (const Case &c : cases) {
        char out[32];
        format_number(&c.n, out, sizeof out);
        EXPECT_STREQ(out, c.shown) << c.n.label;
    }
}
