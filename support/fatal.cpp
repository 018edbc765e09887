// Fatal report: the single exit path of every failure.
#include "support/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void fatal_exit(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (format[0] != '\0')
        std::fputc('\n', stderr);
    std::exit(1);
}
