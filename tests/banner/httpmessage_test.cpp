#include "banner/httpmessage.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tlg {
namespace {

TEST(HttpAddressTest, HostPathAndPortComeFromTheAddress)
{
    struct Case {
        std::string address;
        HttpTarget before;
        HttpTarget after;
        std::string addressAfter;
    };
    const std::string longPath = "/" + std::string(300, 'x');
    const Case cases[] = {
        {"http://maker.test/rklm/tlg-1.htm", {}, {"maker.test", "/rklm/tlg-1.htm", 80}, ""},
        {"http://h:81", {}, {"h", "/", 81}, "http://h:81/"},
        {"maker.test/a.htm", {"", "", 8000}, {"maker.test", "/a.htm", 8000}, ""}, // no scheme: port kept
        {"/b/c.htm", {"old", "/x", 8080}, {"old", "/b/c.htm", 8080}, ""},         // relative: host kept
        {"/a:b", {"old", "/x", 8080}, {"old", "/a:b", 8080}, ""},                 // a colon names no scheme here
        {"ftp://files.test/f", {}, {"files.test", "/f", 21}, ""},
        {"GOPHER://g.test", {}, {"g.test", "/", 70}, "GOPHER://g.test/"},
        {"http://h" + longPath, {}, {"h", longPath.substr(0, 256), 80}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::string address = c.address;
        HttpTarget target = c.before;
        ParseAddress(address, target);
        EXPECT_EQ(target.host, c.after.host);
        EXPECT_EQ(target.path, c.after.path);
        EXPECT_EQ(target.port, c.after.port);
        EXPECT_EQ(address, c.addressAfter.empty() ? c.address : c.addressAfter);
    }
    for (const std::string bad : {"http://h:abc/x", "http://h:0/x", "http://h:70000/x", "HTTPS://h/"}) {
        std::string address = bad;
        HttpTarget target;
        EXPECT_THROW(ParseAddress(address, target), Failure) << bad;
    }
}

TEST(HttpRequestTest, ProxyGetsTheWholeAddressAndOneHostLine)
{
    std::string address = "http://maker.test/rklm/tlg-1.htm";
    HttpTarget target;
    ParseAddress(address, target);
    EXPECT_EQ(RequestText(BuildRequestLines(address, target, "proxy.test", "id=7")),
              "GET http://maker.test/rklm/tlg-1.htm HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n"
              "Host: maker.test\r\n"
              "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
              "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
              "Cookie: id=7\r\nContent-type: application/x-www-form-urlencoded\r\n\r\n");
    EXPECT_EQ(RequestText({"GET / HTTP/1.0", std::string(70000, 'h')}).size(), kSocketBufferSize);
}

TEST(HttpReplyTest, StatusLineAndHeaderLines)
{
    const std::pair<std::string, int> statuses[] = {
        {"HTTP/1.0 200 OK\r\n", 200}, {"HTTP/1.1 404 Not Found\r\n", 404}, {"HTTP/1.0 302\n", 302},
        {"HTTP/1.0  200 OK\r\n", 0},  {"garbage\r\n", 0},                  {"HTTP/1.0 99999 X\r\n", 0},
    };
    for (const auto& [line, status] : statuses) {
        EXPECT_EQ(ParseStatusLine(line), status) << line;
    }

    ReplyHeader reply;
    ScanHeaderLine("Set-Cookie: session=42; path=/\r\n", reply);
    ScanHeaderLine("location: /rklm/moved.htm\r\n", reply);
    ScanHeaderLine("Content-Length: 1234\r\n", reply);
    EXPECT_EQ(reply.cookie, "session=42; path=/");
    EXPECT_EQ(reply.location, "/rklm/moved.htm");
    EXPECT_EQ(reply.contentLength, 1234);
    // Without a blank after the colon the first field is no header name.
    ReplyHeader other;
    ScanHeaderLine("Set-Cookie:id=1\r\n", other);
    EXPECT_EQ(other.cookie, "");
    ScanHeaderLine("Location: http://h/" + std::string(400, 'p') + "\n", other);
    EXPECT_EQ(other.location.size(), kHeaderValueLimit);
    EXPECT_FALSE(EndsReplyHeader(" \r\n"));
}

TEST(HttpReplyTest, StatusDecidesWhatFollows)
{
    // status, repeat, follow the Location, keep the cookie
    const std::tuple<int, bool, bool, bool> cases[] = {
        {0, false, false, false},   {298, false, false, false}, {299, true, false, false},
        {300, true, true, true},    {302, true, true, true},    {303, true, false, true},
        {398, true, false, true},   {399, true, false, false},  {400, false, false, false},
    };
    for (const auto& [status, repeat, follow, redirect] : cases) {
        const ReplyOutcome outcome = EvaluateStatus(status);
        EXPECT_EQ(std::tie(outcome.repeat, outcome.followLocation, outcome.redirect),
                  std::tie(repeat, follow, redirect))
            << status;
    }
}

TEST(SocketErrorTest, TextsFollowTheWinsockTable)
{
    EXPECT_STREQ(SocketFailure(ECONNRESET).what(), "10054:Connection reset by peer");
    EXPECT_STREQ(SocketFailure(ENETUNREACH).what(), "10051:Network is unreachable");
    EXPECT_EQ(SocketErrorText(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(SocketErrorText(12345), "Unknown Error No. 12345");
}

} // namespace
} // namespace tlg
