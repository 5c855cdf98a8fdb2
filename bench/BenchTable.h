#pragma once

#include <cstdarg>
#include <cstdio>

// One row of the table bench/run-all.sh gathers from every benchmark: what was measured, the
// figure, the target and whether it was met. The figure is a printf format.
inline void TableRow(const char* measure, const char* target, bool met, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

inline void TableRow(const char* measure, const char* target, bool met, const char* format, ...) {
    char figure[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(figure, sizeof figure, format, args);
    va_end(args);
    std::printf("| %s | %s | %s | %s |\n", measure, figure, target, met ? "met" : "MISSED");
    std::fflush(stdout);
}
