// Decoding of stored names and numbers, and the round trip of any storable text.
#include "FuzzCheck.h"
#include "settings/Cp1252.h"
#include "settings/ValueEncoding.h"

#include <QStringDecoder>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString decoded = Global::DecodeValue(QString::fromUtf8(bytes));
    FUZZ_CHECK(decoded.size() <= bytes.size());
    Global::DecodeValue(QString::fromLatin1(bytes));

    // Every text the settings file can hold comes back from its encoding unchanged, except a
    // Windows-1252 text whose bytes read as UTF-8 with a character the code page lacks: stored
    // bytes are read as UTF-8 then, as a name stored as UTF-8 must be.
    const QString text = Cp1252::ToUnicode(bytes);
    const QString encoded = Global::EncodeValue(text);
    FUZZ_CHECK(encoded.size() == bytes.size() * 3);
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString asUtf8 = utf8.decode(bytes);
    const bool readAsUtf8 = !utf8.hasError() && Cp1252::ToUnicode(Cp1252::FromUnicode(asUtf8)) != asUtf8;
    FUZZ_CHECK(Global::DecodeValue(encoded) == (readAsUtf8 ? asUtf8 : text));
    return 0;
}
