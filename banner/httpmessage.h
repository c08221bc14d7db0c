#pragma once

// The HTTP/1.0 side of a page fetch, without the sockets: where a request goes, the request
// text byte for byte, the reading of the reply header, what a reply's status makes the
// client do next, and the texts of socket failures.

#include "core/errors.h"

#include <string>
#include <string_view>
#include <vector>

namespace tlg {

// A socket failure: "Null Remote Address", "Connection Failed", "10054:Connection reset by
// peer", ...
class SocketError : public Failure {
public:
    using Failure::Failure;
};

// A request given up before its end: its client was destroyed or aborted, or the application
// is quitting. Nobody needs to be told; callers drop it quietly.
class AbortError : public Failure {
public:
    using Failure::Failure;
};

// The one buffer of a client: a request text is cut to it and a reply header line must fit it.
inline constexpr std::size_t kSocketBufferSize = 65536;
// A whole reply header, and a reply body (a banner page), are refused beyond these sizes.
inline constexpr std::size_t kMaxReplyHeaderSize = 65536;
inline constexpr std::size_t kMaxReplyBodySize = 1024 * 1024;
// Paths, Location and cookie values are kept to this many characters.
inline constexpr std::size_t kHeaderValueLimit = 256;
// Replies that ask for the request again (redirects, 299, 303 to 399) are followed this many
// times; the next such reply fails with "Too many redirects".
inline constexpr int kMaxRepeats = 10;

// Where a request goes. host and port carry over from one request to the next: an address
// that begins with "/" keeps the previous host, and one without ":" keeps the port.
struct HttpTarget {
    std::string host;
    std::string path;
    int port = 0; // 0 means 80
};

// Parses address into target. An address without a path gets "/" appended. Throws
// Failure("Empty URL") for an empty address, Failure("HTTP Secure Socket is not supported")
// for the scheme https, and Failure("Invalid port number <text>") when the host's port is not
// a number from 1 to 65535.
void ParseAddress(std::string& address, HttpTarget& target);

// The request header lines of a GET, without their line ends: the request line, Host, the two
// Accept lines, Cookie when cookie is not empty, and Content-type. With a proxy the full
// address stands in the request line, followed by "Proxy-Connection: Keep-Alive"; the Host
// line is never sent twice.
std::vector<std::string> BuildRequestLines(const std::string& address, const HttpTarget& target,
                                           const std::string& proxy, const std::string& cookie);

// The bytes sent: each line and CR LF, then one more CR LF, cut to kSocketBufferSize.
std::string RequestText(const std::vector<std::string>& lines);

// What a reply header told.
struct ReplyHeader {
    int status = 0;            // 0 when no status line came
    std::string location;      // from "Location: ", without the line end
    std::string cookie;        // from "Set-Cookie: ", without the line end
    long long contentLength = 0;
};

// The status of a status line: its second blank-separated field, 0 when that is not a number
// from 0 to 65535.
int ParseStatusLine(std::string_view line);

// Takes Set-Cookie, Location and Content-Length from a header line after the status line.
// The line's first field, up to its first blank and upper-cased, names it, so
// "Set-Cookie:id=1" (no blank after the colon) is not recognised. Throws Failure("Bad reply:
// the Location value holds a line break") (or Set-Cookie) when such a value holds a CR or LF
// anywhere before the line's own end: it would be sent on in the next request.
void ScanHeaderLine(std::string_view line, ReplyHeader& reply);

// True for the line that ends a reply header: a lone CR LF or LF, or nothing at all (the
// server has closed the connection).
bool EndsReplyHeader(std::string_view line);

// What the client does after a reply of a status.
struct ReplyOutcome {
    bool repeat = false;         // 299 to 399: the request goes again
    bool followLocation = false; // 300 to 302: to the Location of the reply
    bool redirect = false;       // 300 to 398: a cookie of the reply is kept for the next requests
};
ReplyOutcome EvaluateStatus(int status);

// An address after a redirect: one without any "/" (a bare page name) is taken on the host,
// at its port unless that is 80.
std::string CompleteRedirectAddress(const std::string& address, const HttpTarget& target);

// The Winsock code that stands for a POSIX errno value; 0 when there is none.
int WinsockCode(int posixErrno);

// "<code>:<text>" for a Winsock code of the error table, else "Unknown Error No. <code>".
std::string SocketErrorText(int winsockCode);

// The failure for a socket call that failed with errno: SocketErrorText of its Winsock code,
// or "Unknown Error No. <errno>" when it has none.
SocketError SocketFailure(int posixErrno);

} // namespace tlg
