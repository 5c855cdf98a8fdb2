#include "settings/PrivateProfile.h"

#include "settings/Cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <vector>

namespace Subs {

namespace {

constexpr qsizetype MaxValueLength = 254;
const QByteArray LineEnd = "\r\n";
const QByteArray Utf8Bom = "\xEF\xBB\xBF";

struct Line {
    QByteArray text; // without its line end
    QByteArray end;  // "\r\n", "\n" or empty on an unterminated last line
};

using Lines = std::vector<Line>;

} // namespace

struct IniBatchFile {
    QString path;
    bool unreadable = false;
    std::optional<QByteArray> original; // nothing when the file did not exist
    // What the file will hold, as lines: a huge file is split and joined once, not once a key.
    Lines lines;
    bool edited = false;
};

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray trimmed(const QByteArray& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

bool sameName(QByteArrayView a, QByteArrayView b) {
    return Cp1252::ToUnicode(a).compare(Cp1252::ToUnicode(b), Qt::CaseInsensitive) == 0;
}

Lines split(const QByteArray& data) {
    Lines lines;
    qsizetype start = 0;
    // An editor's UTF-8 byte order mark would hide the first header: it is kept as a line of its
    // own, without a line end, so the file is written back with it exactly as it was.
    if (data.startsWith(Utf8Bom)) {
        lines.push_back({Utf8Bom, {}});
        start = Utf8Bom.size();
    }
    while (start < data.size()) {
        const qsizetype lf = data.indexOf('\n', start);
        if (lf < 0) {
            lines.push_back({data.mid(start), {}});
            break;
        }
        const bool cr = lf > start && data[lf - 1] == '\r';
        lines.push_back({data.mid(start, lf - start - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
        start = lf + 1;
    }
    return lines;
}

QByteArray join(const Lines& lines) {
    QByteArray data;
    for (const Line& line : lines)
        data += line.text + line.end;
    return data;
}

// The section name of a header line, or nothing for any other line.
std::optional<QByteArray> headerName(const QByteArray& text) {
    const QByteArray t = trimmed(text);
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    return trimmed(t.mid(1, close < 0 ? -1 : close - 1));
}

// Position of the "=" of a key line, or -1 for headers, comments and lines without one.
qsizetype keyEquals(const QByteArray& text) {
    const QByteArray t = trimmed(text);
    if (t.startsWith(';') || t.startsWith('['))
        return -1;
    return text.indexOf('=');
}

struct SectionRange {
    size_t header;
    size_t end; // one past the section's last line
};

std::optional<SectionRange> findSection(const Lines& lines, QByteArrayView name) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto header = headerName(lines[i].text);
        if (!header || !sameName(*header, name))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && !headerName(lines[end].text))
            ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> findKey(const Lines& lines, const SectionRange& section, QByteArrayView key) {
    for (size_t i = section.header + 1; i < section.end; ++i) {
        const qsizetype eq = keyEquals(lines[i].text);
        if (eq >= 0 && sameName(trimmed(lines[i].text.left(eq)), key))
            return i;
    }
    return std::nullopt;
}

// Where new keys go: after the last line of the section that is not blank.
size_t insertionPoint(const Lines& lines, const SectionRange& section) {
    size_t at = section.end;
    while (at > section.header + 1 && trimmed(lines[at - 1].text).isEmpty())
        --at;
    return at;
}

void insertLines(Lines& lines, size_t at, const std::vector<QByteArray>& texts) {
    if (at > 0 && lines[at - 1].end.isEmpty())
        lines[at - 1].end = LineEnd;
    std::vector<Line> added;
    for (const QByteArray& text : texts)
        added.push_back({text, LineEnd});
    lines.insert(lines.begin() + qsizetype(at), added.begin(), added.end());
}

QByteArray unquoted(const QByteArray& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// The file's bytes; nothing when it is missing. Sets unreadable when it exists but cannot be read.
// Only a regular file is read: opening a FIFO would wait for a writer forever.
std::optional<QByteArray> readFile(const QString& path, bool* unreadable = nullptr) {
    QFile file;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        if (unreadable)
            *unreadable = QFileInfo::exists(path);
        return std::nullopt;
    }
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    // Unbuffered: a write that fails (a full disk) must fail here. Buffered, the error comes at the
    // commit's flush, which QSaveFile does not check: it would put an empty file in place of the old.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// The file that a batch is collecting writes for, while one is open.
IniBatchFile* pending = nullptr;

bool isPending(const QString& path) {
    return pending && pending->path == path;
}

// The file's lines as readers see them: the batch's own while one is open, not a copy for each
// read; otherwise read into `own`. Nothing when the file cannot be read.
const Lines* linesOf(const QString& path, Lines& own) {
    if (isPending(path))
        return pending->unreadable ? nullptr : &pending->lines;
    const std::optional<QByteArray> data = readFile(path);
    if (!data)
        return nullptr;
    own = split(*data);
    return &own;
}

// Replaces the file with its edited lines unless they join to what it held.
bool writeBack(const QString& path, const std::optional<QByteArray>& old, const Lines& lines) {
    const QByteArray data = join(lines);
    return (old && data == *old) || writeFile(path, data);
}

// Applies an edit to the file's lines and writes them back only when they changed; in a batch,
// to the batch's lines.
template <typename Edit> bool editFile(const QString& path, Edit edit) {
    if (isPending(path)) {
        if (!pending->unreadable && edit(pending->lines))
            pending->edited = true;
        return !pending->unreadable;
    }
    bool unreadable = false;
    const std::optional<QByteArray> old = readFile(path, &unreadable);
    if (unreadable)
        return false; // never replace a file that could not be read
    Lines lines = old ? split(*old) : Lines{};
    return !edit(lines) || writeBack(path, old, lines);
}

} // namespace

QString ReadIniValue(const QString& file, const QString& section, const QString& key,
                     const QString& defaultText) {
    QByteArray value;
    bool found = false;
    Lines own;
    if (const Lines* read = linesOf(file, own)) {
        const Lines& lines = *read;
        const QByteArray sectionName = trimmed(Cp1252::FromUnicode(section));
        const QByteArray keyName = trimmed(Cp1252::FromUnicode(key));
        if (const auto range = findSection(lines, sectionName)) {
            if (const auto at = findKey(lines, *range, keyName)) {
                const QByteArray& text = lines[*at].text;
                value = unquoted(trimmed(text.mid(keyEquals(text) + 1)));
                found = true;
            }
        }
    }
    if (!found) {
        value = Cp1252::FromUnicode(defaultText);
        while (!value.isEmpty() && isBlank(value.back()))
            value.chop(1);
    }
    return Cp1252::ToUnicode(value.left(MaxValueLength));
}

bool WriteIniValue(const QString& file, const QString& section, const QString& key, const QString& value) {
    const QByteArray sectionName = Cp1252::FromUnicode(section);
    const QByteArray keyName = Cp1252::FromUnicode(key);
    const QByteArray newValue = Cp1252::FromUnicode(value);
    return editFile(file, [&](Lines& lines) {
        const auto range = findSection(lines, trimmed(sectionName));
        if (!range) {
            insertLines(lines, lines.size(), {'[' + sectionName + ']', keyName + '=' + newValue});
            return true;
        }
        if (const auto at = findKey(lines, *range, trimmed(keyName))) {
            QByteArray& text = lines[*at].text;
            const qsizetype eq = keyEquals(text);
            if (text.mid(eq + 1) == newValue)
                return false;
            // The key keeps the spelling it has in the file.
            text = trimmed(text.left(eq)) + '=' + newValue;
            return true;
        }
        insertLines(lines, insertionPoint(lines, *range), {keyName + '=' + newValue});
        return true;
    });
}

bool WriteIniSection(const QString& file, const QString& section, const QStringList& lines, qint16 count) {
    std::vector<QByteArray> block;
    for (qsizetype i = 1; i <= count && i < lines.size(); ++i)
        block.push_back(Cp1252::FromUnicode(lines[i]));
    const QByteArray sectionName = Cp1252::FromUnicode(section);
    return editFile(file, [&](Lines& fileLines) {
        const auto range = findSection(fileLines, trimmed(sectionName));
        if (!range) {
            // Even an empty block leaves the section's header behind.
            block.insert(block.begin(), '[' + sectionName + ']');
            insertLines(fileLines, fileLines.size(), block);
            return true;
        }
        const size_t first = range->header + 1;
        const size_t last = insertionPoint(fileLines, *range);
        fileLines.erase(fileLines.begin() + qsizetype(first), fileLines.begin() + qsizetype(last));
        insertLines(fileLines, first, block);
        return true;
    });
}

IniBatch::IniBatch(const QString& file) : m_file(new IniBatchFile{file, false, std::nullopt, {}}) {
    m_file->original = readFile(file, &m_file->unreadable);
    if (m_file->original)
        m_file->lines = split(*m_file->original);
    if (!pending)
        pending = m_file.get();
}

IniBatch::~IniBatch() {
    commit();
}

bool IniBatch::commit() {
    if (pending != m_file.get())
        return false;
    pending = nullptr;
    if (m_file->unreadable)
        return false;
    return !m_file->edited || writeBack(m_file->path, m_file->original, m_file->lines);
}

} // namespace Subs
