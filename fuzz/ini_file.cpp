// The settings-file reader and writer on a file whose content is the input.
#include "FuzzCheck.h"
#include "FuzzFolder.h"
#include "settings/PrivateProfile.h"

namespace {
FuzzFolder folder;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString file = folder.place(QStringLiteral("nv4.ini"), data, size);

    // Names taken from the input reach the odd corners: brackets, "=", blanks, any letter case.
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> lines = bytes.left(512).split('\n');
    const QString oddSection = QString::fromLatin1(lines.value(0).left(40));
    const QString oddKey = QString::fromLatin1(lines.value(1).left(40));

    Subs::ReadIniValue(file, QStringLiteral("Connections"), QStringLiteral("ConName0"),
                       QStringLiteral("*?*"));
    Subs::ReadIniValue(file, oddSection, oddKey, QStringLiteral("x  "));
    Subs::WriteIniValue(file, oddSection, oddKey, QStringLiteral("odd"));

    // A plain value written must read back as written.
    if (Subs::WriteIniValue(file, QStringLiteral("General Setup"), QStringLiteral("StartColor"),
                            QStringLiteral("16711680")))
        FUZZ_CHECK(Subs::ReadIniValue(file, QStringLiteral("General Setup"), QStringLiteral("StartColor"),
                                      QString()) == QStringLiteral("16711680"));

    const QStringList section{QString(), QStringLiteral("ConName0=065066"), QStringLiteral("ConAuth0=true")};
    if (Subs::WriteIniSection(file, QStringLiteral("Connections"), section, 2)) {
        FUZZ_CHECK(Subs::ReadIniValue(file, QStringLiteral("Connections"), QStringLiteral("ConName0"),
                                      QString()) == QStringLiteral("065066"));
        FUZZ_CHECK(Subs::ReadIniValue(file, QStringLiteral("Connections"), QStringLiteral("ConAuth0"),
                                      QString()) == QStringLiteral("true"));
    }
    Subs::WriteIniSection(file, oddSection, {}, 0);
    {
        Subs::IniBatch batch(file);
        Subs::WriteIniValue(file, oddSection, QStringLiteral("k"),
                            QString::fromLatin1(lines.value(2).left(300)));
        Subs::WriteIniValue(file, QStringLiteral("Connections"), QStringLiteral("ConPred0"),
                            QStringLiteral("false"));
        batch.commit();
    }
    return 0;
}
