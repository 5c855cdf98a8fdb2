#include "platform/CommandLine.h"

#include <cstdio>

namespace CommandLine {

QStringList Arguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int Help(const char* usage) {
    std::fputs(usage, stdout);
    return 0;
}

int Version(const char* name) {
    std::printf("%s %s\n", name, NORVALE_VERSION);
    return 0;
}

int Wrong(const char* name, const QString& why, const char* usage) {
    std::fprintf(stderr, "%s: %s\n", name, qPrintable(why));
    std::fputs(usage, stderr);
    return 2;
}

} // namespace CommandLine
