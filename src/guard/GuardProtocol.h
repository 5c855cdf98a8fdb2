#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QLatin1StringView>
#include <QtGlobal>

// What the guard and the displays say to each other over "guard.sock": one JSON object per line.
// A request carries "v" (the protocol version), "id" and "op"; its answer carries the same "id" and
// "ok", with "error" and "message" when it failed. An event carries "event" and no id. Answers may
// come out of order: a request that waits for polkit (setup_open, stop) and the setup's and stop's
// requests sent after it are answered after the requests that need no administrator, and dial_entry
// when its call's outcome is known.
namespace GuardProtocol {

inline constexpr int Version = 1;
inline constexpr char SocketName[] = "guard.sock";

// Limits of one connection: a request line, and the events it has not read yet.
inline constexpr qint64 MaxLineBytes = 64 * 1024;
inline constexpr qint64 MaxUnsentBytes = 256 * 1024;
// Connections of one user, whoever it is, and of all users but root and the administrators:
// theirs never count against the second, so that others' connections cannot keep root's requests
// or an administrator's stop out.
inline constexpr int MaxClientsPerUid = 8;
inline constexpr int MaxClients = 64;
// The strip's place in twips: X11's 16-bit pixels at 15 twips a pixel.
inline constexpr double MaxTwips = 491505;

// In the answer to hello: the guard counts the asking user as an administrator without polkit.
inline constexpr QLatin1StringView Trusted{"trusted"};

namespace Op {
// Anyone.
inline constexpr QLatin1StringView Hello{"hello"};
inline constexpr QLatin1StringView Counters{"counters"};
inline constexpr QLatin1StringView Position{"position"};
// Those who may dial.
inline constexpr QLatin1StringView DialDefault{"dial_default"};
// "name": an entry, dialled as the guard's own call; answered with the call's outcome.
inline constexpr QLatin1StringView DialEntry{"dial_entry"};
inline constexpr QLatin1StringView HangUp{"hang_up"};
// Administrators.
inline constexpr QLatin1StringView SetupOpen{"setup_open"};
inline constexpr QLatin1StringView SetupEntry{"setup_entry"};
inline constexpr QLatin1StringView SetupField{"setup_field"};
inline constexpr QLatin1StringView SetupColours{"setup_colours"};
inline constexpr QLatin1StringView SetupDial{"setup_dial"};
inline constexpr QLatin1StringView SetupSave{"setup_save"};
inline constexpr QLatin1StringView SetupClose{"setup_close"};
inline constexpr QLatin1StringView Stop{"stop"};
} // namespace Op

namespace Event {
inline constexpr QLatin1StringView Status{"status"};
inline constexpr QLatin1StringView Connect{"connect"};
inline constexpr QLatin1StringView Disconnect{"disconnect"};
inline constexpr QLatin1StringView LastError{"error"};
inline constexpr QLatin1StringView Saved{"saved"};
inline constexpr QLatin1StringView Stopped{"stopped"};
// "text": what the status line reads (a file protected less than fully, the settings unsaved).
inline constexpr QLatin1StringView Notice{"notice"};
} // namespace Event

// Why a request failed.
namespace Error {
inline constexpr QLatin1StringView BadRequest{"bad_request"};
inline constexpr QLatin1StringView Version{"version"};
inline constexpr QLatin1StringView UnknownOp{"unknown_op"};
inline constexpr QLatin1StringView Refused{"refused"};
inline constexpr QLatin1StringView Busy{"busy"};
inline constexpr QLatin1StringView NoSetup{"no_setup"};
inline constexpr QLatin1StringView Unreachable{"unreachable"};
// polkit could not be asked or gave no answer; "reason" says why, "status" with some reasons.
inline constexpr QLatin1StringView AuthUnavailable{"auth_unavailable"};
// The guard stopped while the request waited for a call's outcome; the call is left as it is.
inline constexpr QLatin1StringView Stopped{"stopped"};
} // namespace Error

// Reasons of auth_unavailable.
namespace Unavailable {
inline constexpr QLatin1StringView Timeout{"timeout"};
// pkcheck is not installed (or cannot be run).
inline constexpr QLatin1StringView NoPkcheck{"no_pkcheck"};
// polkitd does not run, is not on the system bus, or did not answer pkcheck.
inline constexpr QLatin1StringView NoPolkit{"no_polkit"};
// No authentication agent runs for the user to ask the password.
inline constexpr QLatin1StringView NoAgent{"no_agent"};
// pkcheck ended with an exit status of no known meaning, which "status" holds.
inline constexpr QLatin1StringView Status{"status"};
// pkcheck was ended by the signal that "status" holds.
inline constexpr QLatin1StringView Signal{"signal"};
} // namespace Unavailable

// Answers of dial_default.
namespace Dialled {
inline constexpr QLatin1StringView NoDefault{"no_default"};
inline constexpr QLatin1StringView NotAuthorised{"not_authorised"};
inline constexpr QLatin1StringView Done{"dialled"};
inline constexpr QLatin1StringView SelectFailed{"select_failed"};
} // namespace Dialled

// Outcomes of dial_entry: "entry" and, when connected, "ip"; otherwise "code" and "text" of the
// error, and "reason" when the guard's check hung the call up.
namespace Outcome {
inline constexpr QLatin1StringView Connected{"connected"};
inline constexpr QLatin1StringView HungUp{"hung_up"};
inline constexpr QLatin1StringView Failed{"failed"};
} // namespace Outcome

// The code of a call hung up before it connected, which raises no error of its own: the one a
// Windows dialler reports for a hang-up.
inline constexpr int HungUpCode = 631;

// One line: the object in compact JSON and a line feed.
QByteArray Line(const QJsonObject& object);

} // namespace GuardProtocol
