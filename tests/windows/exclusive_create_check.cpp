// Run under Wine: a second exclusive create of one name must be refused and leave the first file
// whole. The Windows C runtime ignores fopen's "x", which would empty it instead.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/file_io.h"

int main()
{
    const char* name = "exclusive-create-check.tmp";
    std::remove(name);
    std::FILE* first = create_new_file(name);
    if (first == nullptr || std::fputs("first", first) < 0 || std::fclose(first) != 0) {
        std::puts("exclusive create: the first create failed");
        return 1;
    }
    errno = 0;
    std::FILE* second = create_new_file(name);
    const bool refused = second == nullptr && errno == EEXIST;
    if (second != nullptr)
        std::fclose(second);
    char text[8] = {};
    std::FILE* check = std::fopen(name, "rb");
    const bool whole = check != nullptr && std::fread(text, 1, sizeof text - 1, check) == 5 &&
                       std::strcmp(text, "first") == 0;
    if (check != nullptr)
        std::fclose(check);
    std::remove(name);
    std::puts(refused && whole ? "exclusive create: a second create of the same name is refused"
                               : "exclusive create: a second create of the same name was let through");
    return refused && whole ? 0 : 1;
}
