// The one way the program reports a failure: a message on stderr, then exit status 1.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define SKINPACK_PRINTF_FORMAT(format_index, first_arg)                                                      \
    __attribute__((format(printf, format_index, first_arg)))
#else
#define SKINPACK_PRINTF_FORMAT(format_index, first_arg)
#endif

// Prints the formatted message and a line end (none for an empty format) and exits with 1.
[[noreturn]] void fatal_exit(const char* format, ...) SKINPACK_PRINTF_FORMAT(1, 2);
