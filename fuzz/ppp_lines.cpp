// chat's and pppd's lines as the dialer follows them, with any end of the call.
#include "FuzzCheck.h"
#include "dialer/PppLineParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses how pppd ends and which dial command the entry has.
    const std::uint8_t how = data[0];
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    PppLineParser parser((how & 0x80) != 0 ? QStringLiteral("ATDP") : QStringLiteral("ATDT"));
    parser.started();
    for (const QByteArray& line : bytes.split('\n')) {
        const QString text = QString::fromUtf8(line);
        parser.feed(text);
        PppLineParser::errorForAbort(text);
        FUZZ_CHECK(parser.state() >= -1);
    }
    const int exitCode = how & 0x1f;
    const QList<PppLineParser::Event> events =
        parser.finished(exitCode, (how & 0x20) != 0, (how & 0x40) != 0);
    for (const PppLineParser::Event& event : events) {
        if (event.kind == PppLineParser::Event::Kind::Error)
            PppLineParser::errorText(event.value);
    }
    return 0;
}
