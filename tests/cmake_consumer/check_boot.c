/* The boot skin, read from its file: its one picture and its CRC as skin.h says. */
#include "skin.h"
#include "skin_check.h"

int main(int argc, char** argv)
{
    static const struct expected rows[] = {
        {"SKIN_SIZE", SKIN_SIZE, 16384},
        {"SKIN_LOGO_OFFSET", SKIN_LOGO_OFFSET, 0},
        {"SKIN_LOGO_SIDE", SKIN_LOGO_SIDE, 128},
    };
    if (argc != 2 || check_skin(rows, sizeof rows / sizeof rows[0], argv[1]))
        return 1;
    printf("%08lx\n", (unsigned long)SKIN_CRC32);
    return 0;
}
