// The exit statuses that every skinview subcommand shares.
#pragma once

inline constexpr int status_ok = 0;
inline constexpr int status_problems = 1; // something was wrong with the files
inline constexpr int status_usage = 2;    // the command line itself was wrong
