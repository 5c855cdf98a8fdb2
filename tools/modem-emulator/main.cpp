// A Hayes modem on stdin/stdout for tests: run it behind a pty pair, e.g.
//   socat PTY,link=LINK,raw,echo=0 EXEC:"modem-emulator --dial busy --record FILE"
// It answers AT commands, appends every command it receives to the record file as soon as
// it arrives, and answers the dial command as told.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

struct Options {
    std::string dialReply = "CONNECT 56000"; // empty: stay silent
    std::string initReply = "OK";            // empty: stay silent
    std::string recordPath;
    int dialDelayMs = 20;
    bool echo = true;
};

bool replyFor(std::string_view word, std::string& reply) {
    if (word == "connect") {
        reply = "CONNECT 56000";
    } else if (word == "busy") {
        reply = "BUSY";
    } else if (word == "no-carrier") {
        reply = "NO CARRIER";
    } else if (word == "no-dialtone") {
        reply = "NO DIALTONE";
    } else if (word == "no-answer") {
        reply = "NO ANSWER";
    } else if (word == "error") {
        reply = "ERROR";
    } else if (word == "ok") {
        reply = "OK";
    } else if (word == "silent") {
        reply.clear();
    } else {
        return false;
    }
    return true;
}

[[noreturn]] void usage() {
    std::fputs("usage: modem-emulator [--dial connect|busy|no-carrier|no-dialtone|no-answer|error|silent]\n"
               "                      [--init ok|error|silent] [--delay MS] [--no-echo] [--record FILE]\n",
               stderr);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--dial" && hasValue) {
            if (!replyFor(argv[++i], o.dialReply))
                usage();
        } else if (a == "--init" && hasValue) {
            if (!replyFor(argv[++i], o.initReply))
                usage();
        } else if (a == "--delay" && hasValue) {
            o.dialDelayMs = std::atoi(argv[++i]);
        } else if (a == "--record" && hasValue) {
            o.recordPath = argv[++i];
        } else if (a == "--no-echo") {
            o.echo = false;
        } else {
            usage();
        }
    }
    return o;
}

void writeAll(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

void answer(const std::string& reply) {
    if (!reply.empty())
        writeAll("\r\n" + reply + "\r\n");
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

} // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    int record = -1;
    if (!o.recordPath.empty()) {
        record = ::open(o.recordPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (record < 0) {
            std::perror("modem-emulator: record file");
            return 1;
        }
    }

    bool online = false;
    std::string line;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (online)
            continue; // data mode: whatever the peer sends is line traffic
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (o.echo)
                writeAll(std::string_view(&c, 1));
            if (c == '\n')
                continue;
            if (c != '\r') {
                line += c;
                continue;
            }
            const std::string command = upper(line);
            line.clear();
            if (command.empty())
                continue;
            if (record >= 0) {
                const std::string entry = command + "\n";
                [[maybe_unused]] ssize_t w = ::write(record, entry.data(), entry.size());
            }
            if (command.rfind("AT", 0) != 0)
                continue;
            if (command.rfind("ATD", 0) == 0) {
                if (o.dialReply.empty())
                    continue;
                ::poll(nullptr, 0, o.dialDelayMs);
                answer(o.dialReply);
                online = o.dialReply.rfind("CONNECT", 0) == 0;
                continue;
            }
            if (command.rfind("ATE0", 0) == 0)
                o.echo = false;
            else if (command.rfind("ATE1", 0) == 0)
                o.echo = true;
            answer(o.initReply);
        }
    }
    if (record >= 0)
        ::close(record);
    return 0;
}
