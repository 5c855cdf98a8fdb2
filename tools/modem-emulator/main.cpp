// A Hayes modem on stdin/stdout for tests: run it behind a pty pair, e.g.
//   socat PTY,link=LINK,raw,echo=0 EXEC:"modem-emulator --dial busy --record FILE"
// It answers AT commands, appends every command it receives to the record file as soon as
// it arrives, and answers the dial command as told. After a CONNECT, --far hands the line to a
// command (a pppd on its stdin/stdout) until either side ends; the far side ending is the carrier
// lost, and the emulator ends. --line-in and --line-out record every byte of the line as it
// passes, in command and data mode alike.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

struct Options {
    std::string dialReply = "CONNECT 56000"; // empty: stay silent
    std::string initReply = "OK";            // empty: stay silent
    std::string recordPath;
    std::string lineInPath;
    std::string lineOutPath;
    std::string far;
    int dialDelayMs = 20;
    bool echo = true;
};

int lineOut = -1;

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
               "                      [--init ok|error|silent] [--delay MS] [--no-echo] [--record FILE]\n"
               "                      [--line-in FILE] [--line-out FILE] [--far COMMAND]\n",
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
        } else if (a == "--line-in" && hasValue) {
            o.lineInPath = argv[++i];
        } else if (a == "--line-out" && hasValue) {
            o.lineOutPath = argv[++i];
        } else if (a == "--far" && hasValue) {
            o.far = argv[++i];
        } else if (a == "--no-echo") {
            o.echo = false;
        } else {
            usage();
        }
    }
    return o;
}

// False once the reader is gone.
bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void send(std::string_view text) {
    if (lineOut >= 0)
        writeAll(lineOut, text);
    writeAll(STDOUT_FILENO, text);
}

void answer(const std::string& reply) {
    if (!reply.empty())
        send("\r\n" + reply + "\r\n");
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

int openRecord(const std::string& path) {
    if (path.empty())
        return -1;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(("modem-emulator: " + path).c_str());
        std::exit(1);
    }
    return fd;
}

// The far side, in a process group of its own: its stdin and stdout are the two pipes' other ends.
struct Far {
    pid_t pid = -1;
    int in = -1;  // what the line sends it
    int out = -1; // what it sends the line
};

Far startFar(const std::string& command) {
    int toFar[2], fromFar[2];
    if (::pipe2(toFar, O_CLOEXEC) != 0 || ::pipe2(fromFar, O_CLOEXEC) != 0) {
        std::perror("modem-emulator: pipe");
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::signal(SIGPIPE, SIG_DFL);
        if (::dup2(toFar[0], STDIN_FILENO) < 0 || ::dup2(fromFar[1], STDOUT_FILENO) < 0)
            ::_exit(127);
        // Nothing of the modem's side: socat leaves the pty's slave open in us, and an ISP holding
        // the caller's device would be another program's call to a guard that looks.
        ::close_range(3, ~0U, 0);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toFar[0]);
    ::close(fromFar[1]);
    if (pid < 0) {
        ::close(toFar[1]);
        ::close(fromFar[0]);
        return {};
    }
    return {pid, toFar[1], fromFar[0]};
}

// As a hang-up: the far side's input ends and its group is told, then made to go.
void endFar(Far& side) {
    if (side.pid <= 0)
        return;
    ::close(side.in);
    ::close(side.out);
    ::kill(-side.pid, SIGHUP);
    for (int i = 0; i < 50 && ::waitpid(side.pid, nullptr, WNOHANG) == 0; ++i)
        ::poll(nullptr, 0, 100);
    if (::waitpid(side.pid, nullptr, WNOHANG) == 0) {
        ::kill(-side.pid, SIGKILL);
        ::waitpid(side.pid, nullptr, 0);
    }
    side = {};
}

// The modem's state: commands until a CONNECT, then data, the far side's if there is one.
Options o;
int record = -1;
bool online = false;
Far far;
std::string pending; // a command not ended yet

bool command(const std::string& text) {
    if (text.empty())
        return true;
    if (record >= 0)
        writeAll(record, text + "\n");
    if (text.rfind("AT", 0) != 0)
        return true;
    if (text.rfind("ATD", 0) == 0) {
        if (o.dialReply.empty())
            return true;
        ::poll(nullptr, 0, o.dialDelayMs);
        answer(o.dialReply);
        online = o.dialReply.rfind("CONNECT", 0) == 0;
        if (online && !o.far.empty())
            return (far = startFar(o.far)).pid > 0;
        return true;
    }
    if (text.rfind("ATE0", 0) == 0)
        o.echo = false;
    else if (text.rfind("ATE1", 0) == 0)
        o.echo = true;
    answer(o.initReply);
    return true;
}

// False once the line is down: the far side is gone or could not start.
bool received(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (online)
            return far.pid <= 0 || writeAll(far.in, bytes.substr(i));
        const char c = bytes[i];
        if (o.echo)
            send(std::string_view(&c, 1));
        if (c == '\n')
            continue;
        if (c != '\r') {
            pending += c;
            continue;
        }
        if (!command(upper(std::exchange(pending, {}))))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    o = parse(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    record = openRecord(o.recordPath);
    const int lineIn = openRecord(o.lineInPath);
    lineOut = openRecord(o.lineOutPath);

    char buffer[4096];
    for (bool up = true; up;) {
        const int farOut = far.pid > 0 ? far.out : -1;
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {farOut, POLLIN, 0}};
        if (::poll(fds, farOut >= 0 ? 2 : 1, -1) < 0) {
            up = errno == EINTR;
            continue;
        }
        const bool fromFar = farOut >= 0 && fds[1].revents;
        const ssize_t n = ::read(fromFar ? farOut : STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        // Either side's end is the line's: the near one hung up, or the carrier is lost.
        if (n <= 0)
            break;
        const std::string_view bytes(buffer, static_cast<size_t>(n));
        if (fromFar) {
            send(bytes);
            continue;
        }
        if (lineIn >= 0)
            writeAll(lineIn, bytes);
        up = received(bytes);
    }
    endFar(far);
    for (const int fd : {record, lineIn, lineOut})
        if (fd >= 0)
            ::close(fd);
    return 0;
}
