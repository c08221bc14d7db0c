// The reply's status and header lines, and the request that a redirect then builds: nothing
// the server sends may put a line break into a request line.

#include "banner/httpmessage.h"
#include "fuzzinput.h"

#include <string>
#include <vector>

using namespace tlg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    ReplyHeader header;
    bool refused = false;
    std::size_t start = 0;
    for (bool statusLine = true; start < reply.size() && !refused; statusLine = false) {
        const std::size_t end = reply.find('\n', start);
        const std::string_view line = reply.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start + 1);
        start = end == std::string_view::npos ? reply.size() : end + 1;
        if (statusLine) {
            header.status = ParseStatusLine(line);
            FUZZ_CHECK(header.status >= 0 && header.status <= 65535);
            continue;
        }
        try {
            ScanHeaderLine(line, header);
        } catch (const Failure&) {
            refused = true;
        }
        if (EndsReplyHeader(line))
            break;
    }
    FUZZ_CHECK(header.location.size() <= kHeaderValueLimit && header.cookie.size() <= kHeaderValueLimit);
    FUZZ_CHECK(header.location.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(header.cookie.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(header.contentLength >= 0);
    const ReplyOutcome outcome = EvaluateStatus(header.status);
    FUZZ_CHECK(!outcome.followLocation || outcome.repeat);

    // Following the redirect as the client does.
    HttpTarget target{"127.0.0.1", "/", 8080};
    std::string address = header.location.empty() ? std::string("/") : header.location;
    try {
        ParseAddress(address, target);
    } catch (const Failure&) {
        return 0;
    }
    address = CompleteRedirectAddress(address, target);
    for (const std::string& proxy : {std::string(), std::string("proxy")}) {
        const std::vector<std::string> lines = BuildRequestLines(address, target, proxy, header.cookie);
        for (const std::string& line : lines)
            FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(RequestText(lines).size() <= kSocketBufferSize);
    }
    return 0;
}
