// Setting items shared by the configuration, the bike setup and the menus that edit them,
// and the small text builder their writers use.
#pragma once
#include <stddef.h>

// A numeric menu item. Values read from files or typed are clamped to [minimum, maximum].
struct NumberItem {
    const char *label;
    double value;
    double step, minimum, maximum;
};

// A choice menu item: one of count labels. The labels array belongs to whoever set it.
struct ChoiceItem {
    const char *label;
    const char *const *labels;
    int count;
    int chosen;
};

// The chosen label; "" when the item has no labels or the index is out of range.
const char *choice_label(const ChoiceItem *c);
// The index of the label equal to text (case-sensitive); -1 when none.
int  choice_find(const ChoiceItem *c, const char *text);
// Chooses the label equal to text; false leaves the choice unchanged.
bool choice_set(ChoiceItem *c, const char *text);

// Parses text as "%f" would; false (item unchanged) when it does not parse or is not finite.
// Otherwise the value is clamped to the item's range.
bool number_set_text(NumberItem *n, const char *text);
void number_set(NumberItem *n, double value);       // clamped; NaN leaves it unchanged

// "%f"-style parse of a finite number; false when nothing parses.
bool parse_number(const char *text, double *out);
// "%d"-style parse (leading blanks, sign, digits, trailing text ignored), saturated to the
// int range; false when no digits.
bool parse_int(const char *text, int *out);

// Copies at most max_chars characters of src into dst (which holds max_chars + 1).
void copy_text(char *dst, const char *src, size_t max_chars);

// A growing text for writers that assemble a whole file before it is written.
struct TextBuf {
    char *text;         // NUL-terminated; null until something is appended
    size_t length;
    size_t capacity;
};

void  textbuf_append(TextBuf *b, const char *s);
void  textbuf_printf(TextBuf *b, const char *format, ...) __attribute__((format(printf, 2, 3)));
char *textbuf_take(TextBuf *b);     // xmalloc'ed text (never null); the buffer is emptied
void  textbuf_free(TextBuf *b);
