#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

// Private-profile (INI) file access, with the behaviour of the Windows functions on the file:
// names match in any letter case, comments and unknown lines are kept, values change in place,
// lines are written with CR LF and read with CR LF or LF, texts are Windows-1252 in the file.
namespace Subs {

// The value of the first matching key of the first matching section, trimmed and unquoted,
// at most 254 characters; the default (trailing blanks cut) when the file, section or key is missing.
QString ReadIniValue(const QString& file, const QString& section, const QString& key,
                     const QString& defaultText);

// Creates the file, section and key as needed; True when the file holds the value afterwards.
bool WriteIniValue(const QString& file, const QString& section, const QString& key, const QString& value);

// Replaces the section's keys by lines[1] .. lines[count] (index 0 is not used, as in the
// caller's array). With count 0 the section keeps (or gets) its header and has no keys.
bool WriteIniSection(const QString& file, const QString& section, const QStringList& lines, qint16 count);

struct IniBatchFile;

// Collects the writes to one file in memory and replaces the file once, when committed or
// destroyed: the file ends as the single writes would have left it, without a rewrite for each.
// Reads of the file meanwhile see the batch's lines, so a batch also serves many reads with one.
// One batch at a time; a second one collects nothing.
class IniBatch final {
public:
    explicit IniBatch(const QString& file);
    ~IniBatch();
    IniBatch(const IniBatch&) = delete;
    IniBatch& operator=(const IniBatch&) = delete;

    // Writes the file if the batch changed it; False when that failed.
    bool commit();

private:
    std::unique_ptr<IniBatchFile> m_file;
};

} // namespace Subs
