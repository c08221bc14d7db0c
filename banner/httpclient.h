#pragma once

// The HTTP client of the banner: a GET over HTTP/1.0, one connection per request, the reply
// header to one file and the body to another. Get blocks its caller but keeps the
// application's events running while it waits (see Powersock).

#include "banner/httpmessage.h"
#include "banner/powersock.h"

#include <string>

namespace tlg {

class DownloadFile;

class HttpClient : public Powersock {
    Q_OBJECT

public:
    explicit HttpClient(QObject* parent = nullptr);

    // The server port; 0 means 80. A port in an address replaces it.
    int port() const { return m_target.port; }
    void setPort(int port) { m_target.port = port; }
    // A proxy host name or address; empty (the default) means none.
    const std::string& proxy() const { return m_proxy; }
    void setProxy(const std::string& proxy) { m_proxy = proxy; }
    int proxyPort() const { return m_proxyPort; }
    void setProxyPort(int port) { m_proxyPort = port; }

    // With inputFileMode on (the default) the reply body goes to the file named by body
    // ("Default.htm" at first); off, it goes to bodyText().
    const std::string& body() const { return m_body; }
    void setBody(const std::string& fileName) { m_body = fileName; }
    bool inputFileMode() const { return m_inputFileMode; }
    void setInputFileMode(bool on) { m_inputFileMode = on; }
    const std::string& bodyText() const { return m_bodyText; }

    // With outputFileMode on (the default) the reply header goes to the file named by header
    // ("Head.txt" at first; a name without a folder is taken in the current directory); off,
    // it goes to headerText().
    const std::string& header() const { return m_header; }
    void setHeader(const std::string& fileName) { m_header = fileName; }
    bool outputFileMode() const { return m_outputFileMode; }
    void setOutputFileMode(bool on) { m_outputFileMode = on; }
    const std::string& headerText() const { return m_headerText; }

    // The request cookie: sent while not empty. A redirect that brings a cookie sets it, and
    // it stays for the later requests of this client.
    const std::string& cookie() const { return m_cookie; }
    void setCookie(const std::string& cookie) { m_cookie = cookie; }

    // The last request: the address (with its redirects followed), and what its reply said.
    const std::string& address() const { return m_address; }
    const HttpTarget& target() const { return m_target; }
    int status() const { return m_reply.status; }
    const ReplyHeader& reply() const { return m_reply; }

    // Requests address with GET and returns when the last reply has been read to its end and
    // the connection is closed. Redirects (300 to 302, to the Location) and the replies 299
    // and 303 to 399 (the same address again) are followed up to kMaxRepeats times; the body
    // file is then replaced by the last reply's body, also for a status of 400 and above, which
    // is no error, and for a redirect without a Location, which ends the request. A server that closes without a reply gives status 0, empty header and body.
    // Throws the failures of ParseAddress, SocketError (see Powersock, and "Already connected"
    // while another Get of this client waits), Failure("Cannot create file <name>") for the
    // header or body file, Failure("Reply header line too long") for a header line that does
    // not fit kSocketBufferSize, Failure("Reply header too long") for a header of more than
    // kMaxReplyHeaderSize bytes, Failure("Reply body larger than 1 MiB") for a body of more than
    // kMaxReplyBodySize bytes, Failure("Bad reply: ...") for a Location or Set-Cookie value
    // holding a line break, Failure("Too many redirects"), the time-outs of Powersock, and
    // AbortError when the client is destroyed or aborted meanwhile. On failure the body file
    // keeps its old content and no partial file is left. The header file is replaced whole once
    // a header is complete; a symbolic link in its place is replaced, never written through.
    void Get(const std::string& address);

private:
    void RequestLoop();
    // Reads the reply header line by line into the header destination and m_reply; returns
    // the bytes after the header that came with its last block.
    std::string ReadHeader(SocketConnection& connection);
    // Reads the body until the server closes the connection, into file (when not null) or
    // m_bodyText.
    void ReadBody(SocketConnection& connection, std::string start, DownloadFile* file);

    HttpTarget m_target;
    std::string m_proxy;
    int m_proxyPort = 0;
    std::string m_body = "Default.htm";
    std::string m_header = "Head.txt";
    bool m_inputFileMode = true;
    bool m_outputFileMode = true;
    std::string m_cookie;

    std::string m_address;
    ReplyHeader m_reply;
    std::string m_bodyText;
    std::string m_headerText;
    bool m_inRequest = false;
};

} // namespace tlg
