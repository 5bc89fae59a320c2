// The HTTP client that fetches a report from a web server: an HTTP/1.0 GET
// of one URL (http, or https over TLS) whose body goes into a local file,
// with a proxy, a user agent, redirects, a time-out without progress, an
// overall deadline and a size limit. The client speaks HTTP itself over Qt's sockets, so that it
// knows exactly whether the whole body came.
// Also the proxy rules: the user's Internet Settings, else the proxy
// variables of the environment.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QEventLoop;
class QTcpSocket;
class QUrl;

namespace quillard {

// Error codes of failures that are not the server's: an HTTP status the
// server answered is reported as that status (404, 500, ...), a failure of
// the connection as Qt's network error number (below 1000).
enum THttpClientError {
    HttpErrorLocalFile = 1001,   // the local file could not be opened or written
    HttpErrorTooLarge = 1002,    // the body is larger than MaxBytes
    HttpErrorIncomplete = 1003,  // the connection ended before the whole body came
    HttpErrorBadAddress = 1004,  // not an http or https address, or one without a host
    HttpErrorBadProxy = 1005,    // the proxy setting cannot be used
    HttpErrorBadAnswer = 1006,   // the server's answer is not valid HTTP
};

// A proxy server. An empty Host means none.
struct TProxyAddress {
    std::string Host;
    int Port = 0;
    std::string User, Password;
    bool Socks = false;  // a SOCKS 5 proxy rather than an HTTP one
};

// What the Internet Settings ask for. Use is false when they name no proxy
// (the client's proxy is then left as it is); Error is set when the setting
// names one that cannot be used.
struct TProxySetting {
    bool Use = false;
    std::string Server;
    int Port = 0;
    std::string Error;
};

// The rule for the ProxyEnable and ProxyServer values as stored (absent
// values are nullopt): ProxyEnable is an integer (anything else counts as
// 0); at 1 or more a non-blank ProxyServer "host:port" gives that host and
// port, a host alone port 80. A port that is not a number from 1 to 65535,
// or a missing host, is an error.
TProxySetting ParseProxySetting(const std::optional<std::string>& ProxyEnable,
                                const std::optional<std::string>& ProxyServer);
// The same for the values stored in the user's settings.
TProxySetting ReadProxySetting();

// The proxy the environment names for Url: https_proxy (or HTTPS_PROXY) for
// https addresses, http_proxy for http ones, nothing when no_proxy (or
// NO_PROXY) covers the host. Values are "host:port" or
// "scheme://[user:password@]host[:port]"; the port defaults to 80 (1080 for
// socks5).
TProxyAddress EnvironmentProxy(const std::string& Url);
// Parses one proxy variable's value; an empty Host when it is unusable.
TProxyAddress ParseProxyVariable(const std::string& Value);
// Whether a no_proxy list (names, ".domain", "*", IP addresses and
// address/prefix networks, separated by commas or spaces) covers Host.
bool NoProxyCovers(const std::string& NoProxy, const std::string& Host);

class THttpClient : public QObject {
public:
    explicit THttpClient(QObject* Parent = nullptr);
    ~THttpClient() override;

    // Sent as the User-Agent header.
    std::string UserAgent;
    // The proxy; an empty ProxyServer leaves the choice to the environment
    // (EnvironmentProxy), and without a proxy there the server is reached
    // directly.
    std::string ProxyServer;
    int ProxyPort = 0;
    // The file that receives the body. It is written in place (it may exist,
    // empty, already); after a failed transfer it no longer exists.
    std::string LocalFile;
    std::string URL;

    // A transfer with no progress for this long fails.
    int TimeoutMs = 60000;
    // A transfer that has not ended this long after Get began fails, however
    // steadily the server sends (redirects included).
    int DeadlineMs = 300000;
    int MaxRedirects = 10;
    int64_t MaxBytes = 256LL * 1024 * 1024;

    // Raised when the transfer has ended, successful or not, with the last
    // HTTP status (0 when the server never answered) and its text.
    std::function<void(int StatusCode, const std::string& Description)> OnDisconnected;
    // Raised for a failed transfer, before OnDisconnected.
    std::function<void(int ErrorCode, const std::string& Description)> OnError;
    // Bytes received so far and the whole (-1 when unknown).
    std::function<void(int64_t Received, int64_t Total)> OnProgress;

    // Fetches URL into LocalFile and returns when the transfer is over and
    // the events have run; true when the body was written whole. Window
    // messages run meanwhile. One transfer at a time: a call during a
    // transfer returns false at once.
    bool Get();
    // Stops the running transfer; it fails with "The transfer was stopped".
    void Abort();
    bool Busy() const { return FBusy; }

    // The proxy a GET of Url would go through now.
    TProxyAddress ProxyFor(const std::string& Url) const;

private:
    enum class TChunkState { Size, Data, DataEnd, Trailer };
    // One request and its answer; true when the answer sends the client on
    // to FLocation.
    bool Transfer(const QUrl& Url);
    void Process();
    bool ProcessChunks();
    bool ParseHead(const QByteArray& Head);
    void ConnectionEnded();
    // Writes the first Size bytes of the buffer into the local file.
    bool TakeBody(qsizetype Size);
    bool WriteAll(const char* Data, int64_t Size);
    void Fail(int Code, const std::string& Description);
    void Finish();
    // Fail, then Finish: the request is over.
    void Stop(int Code, const std::string& Description);

    // The text of a failure at the deadline.
    std::string DeadlineText() const;

    QTcpSocket* FSocket = nullptr;
    QEventLoop* FLoop = nullptr;
    QDeadlineTimer FDeadline;
    QByteArray FBuffer;
    bool FBusy = false;
    bool FDone = false;
    bool FHeadDone = false;
    bool FRedirect = false;
    bool FChunked = false;
    TChunkState FChunkState = TChunkState::Size;
    int64_t FChunkLeft = 0;
    int FInterimAnswers = 0;
    int64_t FTrailerBytes = 0;
    int FStatus = 0;
    std::string FReason;
    int64_t FLength = -1;
    std::string FLocation;
    int FFd = -1;
    int64_t FReceived = 0;
    bool FFailed = false;
    int FErrorCode = 0;
    std::string FErrorText;
};

}  // namespace quillard
