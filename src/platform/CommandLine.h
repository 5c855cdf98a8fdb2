#pragma once

#include <QString>
#include <QStringList>

// What every Norvale program does with --help, --version and a wrong option, before it starts
// anything: no display, no socket, no file touched.
namespace CommandLine {

// The arguments after the program's name, as text.
QStringList Arguments(int argc, char* argv[]);
// The usage on standard output; the status to exit with.
int Help(const char* usage);
// "NAME VERSION" on one line; the status to exit with.
int Version(const char* name);
// "NAME: why" and the usage on standard error; the status to exit with.
int Wrong(const char* name, const QString& why, const char* usage);

} // namespace CommandLine
