#pragma once

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <ostream>
#include <sys/stat.h>

// A file's whole contents; empty when it cannot be read.
inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces a file's contents; the test fails when it cannot.
inline void writeBytes(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(data), data.size());
}

// A path's permission bits, its last name not followed; 0xFFFF, never a mode, when it is missing.
inline unsigned modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0xFFFF;
}

inline QStringList split(const char* items) {
    return QString::fromUtf8(items).split(u';');
}

// Texts in gtest's messages as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
