/* The menu skin, embedded: its named blocks, its table, its file and skin_data all as skin.h says. */
#include <string.h>

#define SKIN_TABLE
#include "skin.h"
#include "skin_check.h"

extern const unsigned char skin_data[SKIN_SIZE];

/* The row of skin_table with this name, as firmware finds an image at run time; null if none. */
static const struct skin_entry* entry_named(const char* name)
{
    unsigned i;
    for (i = 0; i < SKIN_ENTRY_COUNT; ++i)
        if (strcmp(skin_table[i].name, name) == 0)
            return &skin_table[i];
    return NULL;
}

int main(int argc, char** argv)
{
    static const struct expected rows[] = {
        {"SKIN_SIZE", SKIN_SIZE, 17152},
        {"SKIN_SPLASH_OFFSET", SKIN_SPLASH_OFFSET, 0},
        {"SKIN_SPLASH_SIDE", SKIN_SPLASH_SIDE, 128},
        {"SKIN_SPLASH_INDEX", SKIN_SPLASH_INDEX, 0},
        {"SKIN_BATTERY_OFFSET", SKIN_BATTERY_OFFSET, 16384},
        {"SKIN_BATTERY_SIDE", SKIN_BATTERY_SIDE, 16},
        {"SKIN_BATTERY_INDEX", SKIN_BATTERY_INDEX, 0},
        {"SKIN_SPINNER_OFFSET", SKIN_SPINNER_OFFSET, 16640},
        {"SKIN_SPINNER_SIDE", SKIN_SPINNER_SIDE, 16},
        {"SKIN_SPINNER_INDEX", SKIN_SPINNER_INDEX, 1},
        {"SKIN_SPINNER_FRAME_COUNT", SKIN_SPINNER_FRAME_COUNT, 2},
        {"SKIN_ENTRY_COUNT", SKIN_ENTRY_COUNT, 3},
    };
    const struct skin_entry* spinner = entry_named("spinner");
    if (argc != 2 || check_skin(rows, sizeof rows / sizeof rows[0], argv[1]))
        return 1;
    if (spinner != &skin_table[2] || spinner->offset != 16640 || spinner->side != 16 ||
        spinner->frames != 2) {
        fprintf(stderr, "skin_table has no spinner at 16640, side 16, 2 frames\n");
        return 1;
    }
    if (memcmp(skin_data, skin_file, SKIN_SIZE) != 0) {
        fprintf(stderr, "skin_data is not %s\n", argv[1]);
        return 1;
    }
    printf("%08lx\n", (unsigned long)SKIN_CRC32);
    return 0;
}
