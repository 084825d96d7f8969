#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// What a script and the panel say to each other on the panel's socket: one
// request line, one reply line, then the connection ends; but for watch, whose
// reply is the status at once and then one more line each time it changes,
// until either end closes. The grammar is fixed and short; anything else is
// refused, never guessed at.
//
//   request  = command [SP deadline] LF
//   command  = "select" SP channel / "status" / "stop" / "raise" / "watch"
//              / "scan" SP channel SP channel SP term
//   channel  = 2DIGIT                              ; 00 to 99
//   term     = ["-"] 1*6DIGIT ["." 1*6DIGIT]       ; seconds, as the term field takes it
//   deadline = "deadline=" ("0" / %x31-39 *17DIGIT) ; milliseconds of CLOCK_MONOTONIC
//   reply    = ["taken" LF] ("ok" [SP json] / "error" SP code SP text) LF
//   watched  = ["taken" LF] ("error" SP code SP text LF / *("ok" SP json LF))
//                                                  ; watch's reply: a status line each
//
// A request with a deadline is acted on only before it; after it the reply is
// "error timeout" and nothing is done. Before acting on such a request the
// panel sends "taken": a client that gives up shuts its reading side first
// (shutdown(SHUT_RD)), so that "taken" then fails to go and the panel does
// not act; a client that finds "taken" knows the request is being done. A
// watch changes nothing, yet keeps the same rule, so that no panel starts
// sending to a client that has stopped waiting for it.
//
// Replies are English whatever the panel's language: scripts read them. The
// text of a port failure is the panel's own message, in its language.
namespace queltor::remote {

// A request line may be this long with its line end; the panel stops reading there.
constexpr qsizetype kMaxRequestBytes = 256;
// Room for the status with the longest device path a settings file may hold,
// 1,000 characters, each shown as \xNN and escaped again for JSON.
constexpr qsizetype kMaxReplyBytes = 8192;

struct Request
{
    enum class Verb { Select, Status, Scan, Stop, Raise, Watch };

    Verb verb = Verb::Status;
    int channel = 0; // select
    int start = 0;   // scan
    int end = 0;
    QByteArray term;                  // scan, as written
    std::optional<qint64> deadlineMs; // CLOCK_MONOTONIC: not to be acted on from then on

    bool operator==(const Request &other) const
    {
        return verb == other.verb && channel == other.channel && start == other.start && end == other.end
            && term == other.term && deadlineMs == other.deadlineMs;
    }
};

// One request line without its line end, or nothing with why it is refused.
std::optional<Request> parseRequest(QByteArrayView line, QString *why = nullptr);

// The line that asks for request, with its line end. The request must be one
// parseRequest gives; the line is then the one it reads.
QByteArray requestLine(const Request &request);

// Now, on the clock deadlines are given in: CLOCK_MONOTONIC, which the
// processes of one machine share, in milliseconds.
qint64 monotonicMs();

// What the panel sends, as a line of its own, the moment it starts to act on a request with a deadline.
inline const QByteArray kTaken = "taken";

// What the panel answers. An error has a code, one of the words below, and a
// text for a person.
struct Reply
{
    QByteArray code; // empty: ok
    QString text;
    QByteArray data; // ok: the status object, or empty

    bool ok() const { return code.isEmpty(); }
    static Reply done(QByteArray data = {}) { return {{}, {}, std::move(data)}; }
    static Reply failed(QByteArray code, QString text) { return {std::move(code), std::move(text), {}}; }
};

namespace code {
inline const QByteArray kRequest = "request"; // not a request of the grammar
inline const QByteArray kTimeout = "timeout"; // no whole request in time, or its deadline passed: not done
inline const QByteArray kBusy = "busy";       // too many clients at once, or the panel is starting
inline const QByteArray kChannel = "channel"; // a channel outside the bank
inline const QByteArray kScan = "scan";       // refused because of the scan, or a scan refused
inline const QByteArray kPort = "port";       // the port or the settings file failed
inline const QByteArray kPanel = "panel";     // the panel failed in a way it did not expect
} // namespace code

// The refusal of a channel the bank of count channels does not hold.
Reply outsideBank(int channel, int count);

// The reply as one line with its line end, at most kMaxReplyBytes: control
// characters in the text become spaces and a long text is cut.
QByteArray replyLine(const Reply &reply);

// A reply line without its line end, or nothing when it is not one.
std::optional<Reply> parseReply(QByteArrayView line);

// What `status` reports of a running panel.
struct PanelStatus
{
    int port = 1;
    QString device;
    bool connected = false;
    bool automatic = false; // the mode switch stands at Auto
    int channel = 0;        // the channel the display shows
    int bank = 20;
    bool scanning = false;
    int scanStart = 0;
    int scanEnd = 0;
    std::optional<int> scanTermMs; // nothing when the term field holds a term the scan would refuse
};

// The status as one line of JSON (no line end):
// {"bank":20,"channel":7,"connected":true,"device":"/dev/ttyUSB0","mode":"manual",
//  "panel":true,"port":"COM1","scan_end":19,"scan_start":0,"scan_term":1,"scanning":false}
QByteArray statusJson(const PanelStatus &status);

// What `status` prints when no panel runs.
QByteArray noPanelJson();

} // namespace queltor::remote
