// Decoding of stored names and numbers, and the round trip of any storable text.
#include "FuzzCheck.h"
#include "settings/Cp1252.h"
#include "settings/ValueEncoding.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString decoded = Global::DecodeValue(QString::fromUtf8(bytes));
    FUZZ_CHECK(decoded.size() <= bytes.size());
    Global::DecodeValue(QString::fromLatin1(bytes));

    // Every text the settings file can hold comes back from its encoding unchanged.
    const QString text = Cp1252::ToUnicode(bytes);
    const QString encoded = Global::EncodeValue(text);
    FUZZ_CHECK(encoded.size() == bytes.size() * 3);
    FUZZ_CHECK(Global::DecodeValue(encoded) == text);
    return 0;
}
