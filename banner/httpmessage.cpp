#include "banner/httpmessage.h"

#include "core/fields.h"

#include <algorithm>
#include <cerrno>

namespace tlg {

namespace {

std::size_t nthSlash(std::string_view s, int n)
{
    std::size_t at = std::string_view::npos;
    for (std::size_t from = 0; n > 0; --n) {
        at = s.find('/', from);
        if (at == std::string_view::npos) {
            return at;
        }
        from = at + 1;
    }
    return at;
}

std::string_view withoutLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// line from its character `from` (0-based) on, without its line end, at most 256 characters.
std::string valueFrom(std::string_view line, std::size_t from)
{
    line = withoutLineEnd(line);
    if (from >= line.size()) {
        return {};
    }
    return std::string(line.substr(from, kHeaderValueLimit));
}

// A decimal number of digits only, up to `limit`; -1 otherwise.
long long parseNumber(std::string_view text, long long limit)
{
    if (text.empty() || text.size() > 18) {
        return -1;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value <= limit ? value : -1;
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return upperAscii(a) == upperAscii(b);
}

std::string_view headerName(std::string_view line)
{
    return line.substr(0, line.find(':'));
}

// Adds a header line, or replaces the one of the same name in its place.
void putHeaderLine(std::vector<std::string>& lines, std::string line)
{
    for (std::string& existing : lines) {
        if (existing.find(':') != std::string::npos &&
            sameIgnoringCase(headerName(existing), headerName(line))) {
            existing = std::move(line);
            return;
        }
    }
    lines.push_back(std::move(line));
}

struct WinsockEntry {
    int code;
    const char* text;
};

constexpr WinsockEntry kWinsockTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

// Winsock numbers its codes after the BSD errno values; Linux numbers them otherwise.
struct ErrnoEntry {
    int posix;
    int winsock;
};

constexpr ErrnoEntry kErrnoCodes[] = {
    {EINTR, 10004},           {EBADF, 10009},           {EACCES, 10013},
    {EFAULT, 10014},          {EINVAL, 10022},          {EMFILE, 10024},
    {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},     {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},      {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},     {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},      {EPIPE, 10054},
    {ENOBUFS, 10055},         {EISCONN, 10056},         {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
    {EUSERS, 10068},          {EDQUOT, 10069},          {ESTALE, 10070},
    {EREMOTE, 10071},
};

} // namespace

void ParseAddress(std::string& address, HttpTarget& target)
{
    if (address.empty()) {
        throw Failure("Empty URL");
    }
    if (target.port == 0) {
        target.port = 80;
    }
    const bool hasDoubleSlash = address.find("//") != std::string::npos;

    std::size_t pathStart = std::string::npos;
    if (hasDoubleSlash) {
        pathStart = nthSlash(address, 3);
    } else {
        pathStart = address.find('/');
    }
    target.path = pathStart == std::string::npos ? std::string()
                                                 : address.substr(pathStart, kHeaderValueLimit);

    // A colon inside a path ("/a:b") names no scheme.
    const std::size_t colon = address.find(':');
    if (colon != std::string::npos && address.find('/') >= colon) {
        const std::string scheme = upperAscii(std::string_view(address).substr(0, colon));
        if (scheme == "HTTPS") {
            throw Failure("HTTP Secure Socket is not supported");
        }
        target.port = scheme == "GOPHER" ? 70 : scheme == "FTP" ? 21 : 80;
    }

    bool hostGiven = true;
    std::string host;
    if (hasDoubleSlash) {
        const std::size_t second = nthSlash(address, 2);
        const std::size_t third = nthSlash(address, 3);
        host = address.substr(second + 1, third == std::string::npos ? std::string::npos
                                                                     : third - second - 1);
    } else if (address.front() == '/') {
        hostGiven = false;
    } else {
        host = address.substr(0, address.find('/'));
    }
    if (hostGiven) {
        const std::size_t portColon = host.find(':');
        if (portColon != std::string::npos) {
            const std::string portText = host.substr(portColon + 1);
            const long long port = parseNumber(portText, 65535);
            if (port <= 0) {
                throw Failure("Invalid port number " + portText);
            }
            target.port = static_cast<int>(port);
            host.resize(portColon);
        }
        target.host = host;
    }

    if (target.path.empty()) {
        target.path = "/";
        address += '/';
    }
}

std::vector<std::string> BuildRequestLines(const std::string& address, const HttpTarget& target,
                                           const std::string& proxy, const std::string& cookie)
{
    std::vector<std::string> lines;
    if (proxy.empty()) {
        lines.push_back("GET " + target.path + " HTTP/1.0");
    } else {
        lines.push_back("GET " + address + " HTTP/1.0");
        lines.push_back("Proxy-Connection: Keep-Alive");
        lines.push_back("Host: " + target.host);
    }
    putHeaderLine(lines, "Host: " + target.host);
    lines.push_back("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    lines.push_back("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!cookie.empty()) {
        lines.push_back("Cookie: " + cookie);
    }
    lines.push_back("Content-type: application/x-www-form-urlencoded");
    return lines;
}

std::string RequestText(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    text += "\r\n";
    if (text.size() > kSocketBufferSize) {
        text.resize(kSocketBufferSize);
    }
    return text;
}

int ParseStatusLine(std::string_view line)
{
    line = withoutLineEnd(line);
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos) {
        return 0;
    }
    std::string_view field = line.substr(first + 1);
    field = field.substr(0, field.find(' '));
    const long long status = parseNumber(field, 65535);
    return status < 0 ? 0 : static_cast<int>(status);
}

void ScanHeaderLine(std::string_view line, ReplyHeader& reply)
{
    const std::string name = upperAscii(withoutLineEnd(line).substr(0, line.find(' ')));
    if (name == "SET-COOKIE:" || name == "LOCATION:") {
        // Only the line's own end (LF or CR LF) may follow the value.
        std::string_view value = line;
        if (!value.empty() && value.back() == '\n') {
            value.remove_suffix(1);
        }
        if (!value.empty() && value.back() == '\r') {
            value.remove_suffix(1);
        }
        if (value.find_first_of("\r\n") != std::string_view::npos) {
            throw Failure(std::string("Bad reply: the ") + (name == "LOCATION:" ? "Location" : "Set-Cookie") +
                          " value holds a line break");
        }
    }
    if (name == "SET-COOKIE:") {
        reply.cookie = valueFrom(line, 12);
    } else if (name == "LOCATION:") {
        reply.location = valueFrom(line, 10);
    } else if (name == "CONTENT-LENGTH:") {
        std::string_view rest = trimBlanks(withoutLineEnd(line).substr(name.size()));
        rest = rest.substr(0, rest.find(' '));
        reply.contentLength = std::max(parseNumber(rest, 1LL << 62), 0LL);
    }
}

bool EndsReplyHeader(std::string_view line)
{
    return line.empty() || line == "\r\n" || line == "\n";
}

ReplyOutcome EvaluateStatus(int status)
{
    ReplyOutcome outcome;
    outcome.repeat = status >= 299 && status <= 399;
    outcome.followLocation = status >= 300 && status <= 302;
    outcome.redirect = status >= 300 && status <= 398;
    return outcome;
}

std::string CompleteRedirectAddress(const std::string& address, const HttpTarget& target)
{
    if (address.find('/') != std::string::npos) {
        return address;
    }
    // Without its port the address would lead to port 80, another server.
    const std::string port = target.port == 80 ? std::string() : ":" + std::to_string(target.port);
    return "http://" + target.host + port + "/" + address;
}

int WinsockCode(int posixErrno)
{
    for (const ErrnoEntry& entry : kErrnoCodes) {
        if (entry.posix == posixErrno) {
            return entry.winsock;
        }
    }
    return 0;
}

std::string SocketErrorText(int winsockCode)
{
    for (const WinsockEntry& entry : kWinsockTexts) {
        if (entry.code == winsockCode) {
            return std::to_string(winsockCode) + ":" + entry.text;
        }
    }
    return "Unknown Error No. " + std::to_string(winsockCode);
}

SocketError SocketFailure(int posixErrno)
{
    const int code = WinsockCode(posixErrno);
    return SocketError(SocketErrorText(code != 0 ? code : posixErrno));
}

} // namespace tlg
