/* What a firmware does with the skin it loads: checks it against the skin.h it was built with,
   by size and by SKIN_CRC32 (computed here bit by bit, zlib's polynomial). After skin.h. */
#include <stdio.h>

struct expected {
    const char* name;
    unsigned long value;
    unsigned long expected;
};

static unsigned char skin_file[SKIN_SIZE + 1];

static unsigned long skin_crc32(const unsigned char* bytes, unsigned long size)
{
    unsigned long crc = 0xFFFFFFFFUL;
    unsigned long i;
    int bit;
    for (i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320UL & (0UL - (crc & 1UL)));
    }
    return crc ^ 0xFFFFFFFFUL;
}

/* 0 when every macro has its value and the file at `path` is the skin of skin.h; else 1. */
static int check_skin(const struct expected* rows, int count, const char* path)
{
    FILE* file = fopen(path, "rb");
    unsigned long size = 0;
    int failed = 0;
    int i;
    for (i = 0; i < count; ++i) {
        if (rows[i].value != rows[i].expected) {
            fprintf(stderr, "%s is %lu, not %lu\n", rows[i].name, rows[i].value, rows[i].expected);
            failed = 1;
        }
    }
    if (file) {
        size = (unsigned long)fread(skin_file, 1, sizeof skin_file, file);
        fclose(file);
    }
    if (size != SKIN_SIZE) {
        fprintf(stderr, "%s: %lu bytes, skin.h says %lu\n", path, size, (unsigned long)SKIN_SIZE);
        return 1;
    }
    if (skin_crc32(skin_file, size) != SKIN_CRC32) {
        fprintf(stderr, "%s: CRC-32 %08lx, skin.h says %08lx\n", path, skin_crc32(skin_file, size),
                (unsigned long)SKIN_CRC32);
        return 1;
    }
    return failed;
}
