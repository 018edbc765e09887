/* The menu skin, embedded: its named blocks, its file and skin_data all as skin.h says. */
#include <string.h>

#include "skin.h"
#include "skin_check.h"

extern const unsigned char skin_data[SKIN_SIZE];

int main(int argc, char** argv)
{
    static const struct expected rows[] = {
        {"SKIN_SIZE", SKIN_SIZE, 17152},
        {"SKIN_SPLASH_OFFSET", SKIN_SPLASH_OFFSET, 0},
        {"SKIN_SPLASH_SIDE", SKIN_SPLASH_SIDE, 128},
        {"SKIN_BATTERY_OFFSET", SKIN_BATTERY_OFFSET, 16384},
        {"SKIN_BATTERY_SIDE", SKIN_BATTERY_SIDE, 16},
        {"SKIN_SPINNER_OFFSET", SKIN_SPINNER_OFFSET, 16640},
        {"SKIN_SPINNER_SIDE", SKIN_SPINNER_SIDE, 16},
        {"SKIN_SPINNER_FRAME_COUNT", SKIN_SPINNER_FRAME_COUNT, 2},
    };
    if (argc != 2 || check_skin(rows, sizeof rows / sizeof rows[0], argv[1]))
        return 1;
    if (memcmp(skin_data, skin_file, SKIN_SIZE) != 0) {
        fprintf(stderr, "skin_data is not %s\n", argv[1]);
        return 1;
    }
    printf("%08lx\n", (unsigned long)SKIN_CRC32);
    return 0;
}
