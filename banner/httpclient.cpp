#include "banner/httpclient.h"

#include "core/fileops.h"
#include "banner/downloadfile.h"

#include <optional>
#include <vector>

namespace tlg {

namespace {

// Where the lines of a reply header go: a file that replaces the old one whole once the header
// is complete (never written through a link in its place), or a text.
class HeaderSink {
public:
    HeaderSink(bool toFile, const std::string& fileName, std::string& text) : m_text(text)
    {
        if (toFile) {
            m_file.emplace(fileName);
        } else {
            m_text.clear();
        }
    }

    void write(std::string_view line)
    {
        m_size += line.size();
        if (m_size > kMaxReplyHeaderSize) {
            throw Failure("Reply header too long");
        }
        if (m_file) {
            m_file->append(line);
        } else {
            m_text += line;
        }
    }

    void commit()
    {
        if (m_file) {
            m_file->commit();
        }
    }

private:
    std::string& m_text;
    std::optional<DownloadFile> m_file;
    std::size_t m_size = 0;
};

} // namespace

HttpClient::HttpClient(QObject* parent) : Powersock(parent) {}

void HttpClient::Get(const std::string& address)
{
    if (m_inRequest) {
        // A handler that ran during a wait must not start a second request on this client.
        throw SocketError("Already connected");
    }
    m_inRequest = true;
    const std::shared_ptr<const bool> alive = aliveToken();
    struct EndOfRequest {
        const std::shared_ptr<const bool>& alive;
        bool& inRequest;
        ~EndOfRequest()
        {
            if (*alive) {
                inRequest = false;
            }
        }
    } endOfRequest{alive, m_inRequest};

    m_address = address;
    beginRequest();
    RequestLoop();
}

void HttpClient::RequestLoop()
{
    for (int repeats = 0;; ++repeats) {
        ParseAddress(m_address, m_target);
        const std::string request = RequestText(BuildRequestLines(m_address, m_target, m_proxy, m_cookie));

        ReplyOutcome outcome;
        {
            SocketConnection connection = m_proxy.empty() ? Connect(m_target.host, m_target.port)
                                                          : Connect(m_proxy, m_proxyPort);
            Send(connection, request);
            m_reply = ReplyHeader();
            std::string start = ReadHeader(connection);
            outcome = EvaluateStatus(m_reply.status);
            if (outcome.followLocation && m_reply.location.empty()) {
                // A redirect that names no place to go: its reply is all there is.
                outcome = ReplyOutcome();
            }
            // Only the reply that ends the request replaces the page; the body of a redirect
            // is read and dropped, so a redirect chain that fails leaves the old page in place.
            std::optional<DownloadFile> file;
            if (m_inputFileMode && !outcome.repeat) {
                file.emplace(m_body);
            }
            ReadBody(connection, std::move(start), file ? &*file : nullptr);
            if (file) {
                file->commit();
            }
        }
        if (!outcome.repeat) {
            return;
        }
        if (outcome.followLocation) {
            m_address = m_reply.location;
        }
        if (outcome.redirect) {
            if (!m_reply.cookie.empty()) {
                m_cookie = m_reply.cookie;
            }
            m_address = CompleteRedirectAddress(m_address, m_target);
        }
        if (repeats == kMaxRepeats) {
            throw Failure("Too many redirects");
        }
    }
}

std::string HttpClient::ReadHeader(SocketConnection& connection)
{
    HeaderSink sink(m_outputFileMode, m_header, m_headerText);
    std::vector<char> block(kSocketBufferSize);
    std::string pending; // received and not yet taken as lines; never more than the buffer
    bool closed = false;
    for (bool statusLine = true;; statusLine = false) {
        std::size_t lineEnd = pending.find('\n');
        while (lineEnd == std::string::npos && !closed) {
            if (pending.size() >= kSocketBufferSize) {
                throw Failure("Reply header line too long");
            }
            const std::size_t searchFrom = pending.size();
            const std::size_t n = Receive(connection, block.data(), kSocketBufferSize - pending.size());
            if (n == 0) {
                closed = true;
            } else {
                pending.append(block.data(), n);
                lineEnd = pending.find('\n', searchFrom);
            }
        }
        // A line cut off by the close is taken as it came; after it comes the empty line.
        std::string line;
        if (lineEnd == std::string::npos) {
            line.swap(pending);
        } else {
            line = pending.substr(0, lineEnd + 1);
            pending.erase(0, lineEnd + 1);
        }
        sink.write(line);
        if (statusLine) {
            m_reply.status = ParseStatusLine(line);
        } else {
            ScanHeaderLine(line, m_reply);
        }
        if (EndsReplyHeader(line)) {
            sink.commit();
            return pending;
        }
    }
}

void HttpClient::ReadBody(SocketConnection& connection, std::string start, DownloadFile* file)
{
    // The content length is not trusted to end the body: the server's close does.
    std::size_t size = 0;
    const auto take = [&](std::string_view bytes) {
        // An endless body must not fill the disk; the partial file goes with the failure.
        size += bytes.size();
        if (size > kMaxReplyBodySize) {
            throw Failure("Reply body larger than " + std::to_string(kMaxReplyBodySize / (1024 * 1024)) + " MiB");
        }
        if (file) {
            file->append(bytes);
        } else if (!m_inputFileMode) {
            m_bodyText += bytes;
        }
    };
    m_bodyText.clear();
    take(start);
    std::vector<char> block(kSocketBufferSize);
    while (const std::size_t n = Receive(connection, block.data(), block.size())) {
        take(std::string_view(block.data(), n));
    }
}

} // namespace tlg
