#include "app/webclient.h"

#include "base/bytefile.h"

#include "platform/settings.h"
#include "engine/markup.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

namespace {

// A port number "1" to "65535", spaces around it allowed.
bool ParsePort(const std::string& Text, int& Port)
{
    const std::string t = Trim(Text);
    if (t.empty() || t.size() > 5)
        return false;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535)
        return false;
    Port = v;
    return true;
}

// An integer with an optional sign; anything else is 0.
int SettingInteger(const std::string& Text)
{
    const std::string t = Trim(Text);
    size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    if (i == t.size() || t.size() > 10)
        return 0;
    long v = 0;
    for (size_t j = i; j < t.size(); ++j) {
        if (t[j] < '0' || t[j] > '9')
            return 0;
        v = v * 10 + (t[j] - '0');
    }
    v = std::min<long>(v, INT_MAX);
    return static_cast<int>(t[0] == '-' ? -v : v);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

QNetworkProxy ToQProxy(const TProxyAddress& P)
{
    if (P.Host.empty())
        return QNetworkProxy(QNetworkProxy::NoProxy);
    QNetworkProxy proxy(P.Socks ? QNetworkProxy::Socks5Proxy : QNetworkProxy::HttpProxy,
                        QString::fromStdString(P.Host), static_cast<quint16>(P.Port));
    if (!P.User.empty()) {
        proxy.setUser(QString::fromStdString(P.User));
        proxy.setPassword(QString::fromStdString(P.Password));
    }
    return proxy;
}

}  // namespace

// ---------------------------------------------------------------------------
// Proxy rules

TProxySetting ParseProxySetting(const std::optional<std::string>& ProxyEnable,
                                const std::optional<std::string>& ProxyServer)
{
    TProxySetting out;
    const int enable = ProxyEnable ? SettingInteger(*ProxyEnable) : 0;
    if (enable < 1 || !ProxyServer || IsBlank(*ProxyServer))
        return out;
    const std::string value = Trim(*ProxyServer);
    out.Use = true;
    const size_t colon = value.find(':');
    if (colon == std::string::npos) {
        out.Server = value;
        out.Port = 80;
    } else {
        out.Server = Trim(value.substr(0, colon));
        const std::string port = value.substr(colon + 1);
        if (!ParsePort(port, out.Port)) {
            out.Error = "'" + port + "' is not a valid proxy port (proxy server setting \"" + value + "\")";
            return out;
        }
    }
    if (out.Server.empty())
        out.Error = "The proxy server setting \"" + value + "\" names no proxy host";
    return out;
}

TProxySetting ReadProxySetting()
{
    const TInternetSettings s = ReadInternetSettings();
    return ParseProxySetting(s.ProxyEnable, s.ProxyServer);
}

TProxyAddress ParseProxyVariable(const std::string& Value)
{
    TProxyAddress out;
    std::string v = Trim(Value);
    if (v.empty())
        return out;
    if (v.find("://") == std::string::npos)
        v = "http://" + v;
    const QUrl url(QString::fromStdString(v), QUrl::TolerantMode);
    const std::string scheme = url.scheme().toLower().toStdString();
    if (!url.isValid() || url.host().isEmpty())
        return out;
    if (scheme == "socks5" || scheme == "socks5h")
        out.Socks = true;
    else if (scheme != "http")
        return out;  // a proxy this client cannot speak to
    out.Host = url.host().toStdString();
    out.Port = url.port(out.Socks ? 1080 : 80);
    out.User = url.userName().toStdString();
    out.Password = url.password().toStdString();
    return out;
}

bool NoProxyCovers(const std::string& NoProxy, const std::string& Host)
{
    std::string host = Lower(Host);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host.empty())
        return false;
    const QHostAddress hostAddress(QString::fromStdString(host));
    std::string list = NoProxy;
    for (char& c : list)
        if (c == ',' || c == '\t')
            c = ' ';
    size_t from = 0;
    while (from < list.size()) {
        size_t end = list.find(' ', from);
        if (end == std::string::npos)
            end = list.size();
        std::string entry = Lower(list.substr(from, end - from));
        from = end + 1;
        if (entry.empty())
            continue;
        if (entry == "*")
            return true;
        if (entry.find('/') != std::string::npos) {
            // A network: address/prefix.
            const auto subnet = QHostAddress::parseSubnet(QString::fromStdString(entry));
            if (!hostAddress.isNull() && subnet.second >= 0 && hostAddress.isInSubnet(subnet))
                return true;
            continue;
        }
        if (entry.front() == '[') {
            const size_t close = entry.find(']');
            entry = entry.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
            entry.erase(entry.find(':'));  // "name:port": the port is not compared
        }
        if (entry.rfind("*.", 0) == 0)
            entry.erase(0, 1);
        if (!entry.empty() && entry.front() == '.')
            entry.erase(0, 1);
        while (!entry.empty() && entry.back() == '.')
            entry.pop_back();
        if (entry.empty())
            continue;
        if (host == entry)
            return true;
        if (!hostAddress.isNull()) {
            if (hostAddress == QHostAddress(QString::fromStdString(entry)))
                return true;
            continue;  // an address is no domain's member
        }
        if (host.size() > entry.size() && host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
            host[host.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

TProxyAddress EnvironmentProxy(const std::string& Url)
{
    const QUrl url(QString::fromStdString(Url));
    const std::string scheme = url.scheme().toLower().toStdString();
    std::string value;
    if (scheme == "https") {
        value = GetEnvVar("https_proxy");
        if (value.empty())
            value = GetEnvVar("HTTPS_PROXY");
    } else if (scheme == "http") {
        // Only the lower-case name: the upper-case one can be set by whoever
        // sends a "Proxy:" header to a CGI program.
        value = GetEnvVar("http_proxy");
    }
    if (Trim(value).empty())
        return {};
    std::string noProxy = GetEnvVar("no_proxy");
    if (noProxy.empty())
        noProxy = GetEnvVar("NO_PROXY");
    if (NoProxyCovers(noProxy, url.host().toStdString()))
        return {};
    return ParseProxyVariable(value);
}

// ---------------------------------------------------------------------------
// The client

namespace {

// The longest status line and header block taken from a server.
const int MaxHeadBytes = 64 * 1024;
// "100 Continue" and the like before the real answer.
const int MaxInterimAnswers = 16;
// A chunk's size line, extension included.
const int MaxChunkLine = 1024;
const char* const InvalidChunk = "The server's answer has an invalid chunk";

int SocketErrorCode(QAbstractSocket::SocketError Error)
{
    switch (Error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyProtocolError:
        return QNetworkReply::UnknownProxyError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// One line ending in LF (a CR before it dropped) taken from the front of
// Buffer; false when the buffer holds no whole line yet.
bool TakeLine(QByteArray& Buffer, QByteArray& Line)
{
    const qsizetype end = Buffer.indexOf('\n');
    if (end < 0)
        return false;
    Line = Buffer.left(end);
    if (Line.endsWith('\r'))
        Line.chop(1);
    Buffer.remove(0, end + 1);
    return true;
}

}  // namespace

THttpClient::THttpClient(QObject* Parent) : QObject(Parent) {}

THttpClient::~THttpClient()
{
    if (FSocket) {
        FSocket->disconnect(this);
        FSocket->abort();
    }
    if (FFd >= 0)
        ::close(FFd);
}

TProxyAddress THttpClient::ProxyFor(const std::string& Url) const
{
    if (!Trim(ProxyServer).empty()) {
        TProxyAddress p;
        p.Host = Trim(ProxyServer);
        p.Port = ProxyPort;
        return p;
    }
    return EnvironmentProxy(Url);
}

void THttpClient::Fail(int Code, const std::string& Description)
{
    if (FFailed)
        return;  // the first cause is the one reported
    FFailed = true;
    FErrorCode = Code;
    FErrorText = Description;
}

void THttpClient::Stop(int Code, const std::string& Description)
{
    Fail(Code, Description);
    Finish();
}

void THttpClient::Finish()
{
    FDone = true;
    if (FLoop)
        FLoop->quit();
}

void THttpClient::Abort()
{
    if (!FBusy)
        return;
    Stop(QNetworkReply::OperationCanceledError, "The transfer was stopped");
}

bool THttpClient::WriteAll(const char* Data, int64_t Size)
{
    if (const int err = WriteFully(FFd, Data, static_cast<size_t>(std::max<int64_t>(Size, 0)))) {
        Fail(HttpErrorLocalFile, "Cannot write " + LocalFile + ": " + std::strerror(err));
        return false;
    }
    return true;
}

bool THttpClient::TakeBody(qsizetype Size)
{
    if (Size <= 0)
        return true;
    if (FReceived + Size > MaxBytes) {
        Fail(HttpErrorTooLarge, "The report is larger than " + std::to_string(MaxBytes) + " bytes");
        return false;
    }
    if (!WriteAll(FBuffer.constData(), Size))
        return false;
    FBuffer.remove(0, Size);
    FReceived += Size;
    if (OnProgress)
        OnProgress(FReceived, FLength);
    return true;
}

bool THttpClient::ParseHead(const QByteArray& Head)
{
    QByteArray rest = Head + '\n';
    QByteArray line;
    TakeLine(rest, line);
    // "HTTP/1.x 200 Reason"
    const QList<QByteArray> parts = line.split(' ');
    bool number = false;
    const int status = parts.size() >= 2 && parts[1].size() == 3 ? parts[1].toInt(&number) : 0;
    if (!line.startsWith("HTTP/") || !number || status < 100) {
        Fail(HttpErrorBadAnswer, "The server's answer is not HTTP: " + line.left(80).toStdString());
        return false;
    }
    FStatus = status;
    FReason = line.mid(parts[0].size() + 1 + 3).trimmed().toStdString();
    FLength = -1;
    FChunked = false;
    FLocation.clear();
    while (TakeLine(rest, line)) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.startsWith(' ') || line.startsWith('\t'))
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            const qlonglong length = value.toLongLong(&ok);
            if (!ok || length < 0 || (FLength >= 0 && FLength != length)) {
                Fail(HttpErrorBadAnswer, "The server's answer has an invalid length: " + value.left(40).toStdString());
                return false;
            }
            FLength = length;
        } else if (name == "transfer-encoding") {
            FChunked = FChunked || value.toLower().contains("chunked");
        } else if (name == "location") {
            FLocation = value.toStdString();
        }
    }
    if (FChunked)
        FLength = -1;
    return true;
}

// Takes what has arrived: the status line and headers, then the body.
// Finishes the request when the answer is complete or has failed.
void THttpClient::Process()
{
    while (!FDone) {
        if (!FHeadDone) {
            if (FBuffer.size() >= 5 && !FBuffer.startsWith("HTTP/")) {
                const qsizetype eol = FBuffer.indexOf('\n');
                Stop(HttpErrorBadAnswer, "The server's answer is not HTTP: " +
                                             FBuffer.left(std::min<qsizetype>(eol < 0 ? 80 : eol, 80)).trimmed().toStdString());
                return;
            }
            qsizetype end = FBuffer.indexOf("\r\n\r\n");
            qsizetype skip = 4;
            const qsizetype lf = FBuffer.indexOf("\n\n");
            if (lf >= 0 && (end < 0 || lf < end)) {
                end = lf;
                skip = 2;
            }
            // A head longer than MaxHeadBytes fails, however its bytes arrive:
            // without an end in sight, once the end can no longer come in time.
            if (end > MaxHeadBytes || (end < 0 && FBuffer.size() > MaxHeadBytes + 3)) {
                Stop(HttpErrorBadAnswer, "The server's answer has no end of its header");
                return;
            }
            if (end < 0)
                return;
            const QByteArray head = FBuffer.left(end);
            FBuffer.remove(0, end + skip);
            if (!ParseHead(head)) {
                Finish();
                return;
            }
            if (FStatus < 200) {
                // An interim answer; the real one follows (a server that
                // sends nothing else is not waited for without end).
                if (++FInterimAnswers > MaxInterimAnswers) {
                    Stop(HttpErrorBadAnswer, "The server sent too many interim answers");
                    return;
                }
                continue;
            }
            FHeadDone = true;
            const auto httpFailure = [this] {
                Fail(FStatus, FReason.empty() ? "HTTP status " + std::to_string(FStatus) : FReason);
            };
            const bool moved = FStatus == 301 || FStatus == 302 || FStatus == 303 || FStatus == 307 || FStatus == 308;
            if (moved && !FLocation.empty()) {
                FRedirect = true;
                Finish();
                return;
            }
            if (FStatus >= 300) {
                // An error page is no report.
                httpFailure();
                Finish();
                return;
            }
            if (FLength > MaxBytes) {
                Stop(HttpErrorTooLarge, "The report is larger than " + std::to_string(MaxBytes) + " bytes");
                return;
            }
            if (FStatus == 204 || FStatus == 205 || FLength == 0) {
                Finish();
                return;
            }
            FChunkState = TChunkState::Size;
            continue;
        }
        if (FChunked) {
            if (!ProcessChunks())
                return;
            continue;
        }
        // A body of known length, or one that ends with the connection.
        const qsizetype take = FLength >= 0 ? static_cast<qsizetype>(std::min<int64_t>(FLength - FReceived, FBuffer.size()))
                                            : FBuffer.size();
        if (!TakeBody(take)) {
            Finish();
            return;
        }
        if (FLength >= 0 && FReceived == FLength)
            Finish();
        return;
    }
}

// The chunked body: size lines, data, and the trailer after the last
// (empty) chunk. False when more data is needed or the request is over.
bool THttpClient::ProcessChunks()
{
    QByteArray line;
    switch (FChunkState) {
    case TChunkState::Size: {
        // A size line (with its extension) longer than MaxChunkLine fails,
        // whether it has come whole or is still coming.
        if (!TakeLine(FBuffer, line)) {
            if (FBuffer.size() > MaxChunkLine + 1) {
                Stop(HttpErrorBadAnswer, InvalidChunk);
            }
            return false;
        }
        if (line.size() > MaxChunkLine) {
            Stop(HttpErrorBadAnswer, InvalidChunk);
            return false;
        }
        const qsizetype semicolon = line.indexOf(';');
        const QByteArray digits = (semicolon >= 0 ? line.left(semicolon) : line).trimmed();
        bool ok = digits.size() <= 15;
        const qlonglong size = ok ? digits.toLongLong(&ok, 16) : 0;
        if (!ok || size < 0) {
            Stop(HttpErrorBadAnswer, InvalidChunk);
            return false;
        }
        FChunkLeft = size;
        FChunkState = size == 0 ? TChunkState::Trailer : TChunkState::Data;
        return true;
    }
    case TChunkState::Data: {
        const qsizetype take = static_cast<qsizetype>(std::min<int64_t>(FChunkLeft, FBuffer.size()));
        if (take == 0)
            return false;
        if (!TakeBody(take)) {
            Finish();
            return false;
        }
        FChunkLeft -= take;
        if (FChunkLeft == 0)
            FChunkState = TChunkState::DataEnd;
        return true;
    }
    case TChunkState::DataEnd:
        if (!TakeLine(FBuffer, line)) {
            if (FBuffer.size() > 2) {
                Stop(HttpErrorBadAnswer, InvalidChunk);
            }
            return false;
        }
        if (!line.isEmpty()) {
            Stop(HttpErrorBadAnswer, InvalidChunk);
            return false;
        }
        FChunkState = TChunkState::Size;
        return true;
    case TChunkState::Trailer:
        if (!TakeLine(FBuffer, line)) {
            // The line still coming counts at least its bytes so far, less a
            // CR, plus its end.
            if (FTrailerBytes + FBuffer.size() + 1 > MaxHeadBytes) {
                Stop(HttpErrorBadAnswer, "The server's answer has no end of its trailer");
            }
            return false;
        }
        if (line.isEmpty()) {
            Finish();  // the whole body has come
            return true;
        }
        FTrailerBytes += line.size() + 2;
        if (FTrailerBytes > MaxHeadBytes) {
            Stop(HttpErrorBadAnswer, "The server's answer has no end of its trailer");
            return false;
        }
        return true;
    }
    return false;
}

void THttpClient::ConnectionEnded()
{
    if (FDone || !FSocket)
        return;
    FBuffer += FSocket->readAll();
    Process();
    if (FDone)
        return;
    if (!FHeadDone) {
        Fail(QNetworkReply::RemoteHostClosedError, "The server closed the connection without an answer");
    } else if (FChunked || FLength >= 0) {
        Fail(HttpErrorIncomplete, "The connection ended after " + std::to_string(FReceived) + " bytes of the report" +
                                      (FLength >= 0 ? " of " + std::to_string(FLength) : std::string()));
    }
    // Otherwise the body is whatever came before the end.
    Finish();
}

bool THttpClient::Transfer(const QUrl& Url)
{
    FBuffer.clear();
    FDone = FHeadDone = FRedirect = false;
    FInterimAnswers = 0;
    FTrailerBytes = 0;
    FStatus = 0;
    FReason.clear();
    FLength = -1;
    FChunked = false;
    FLocation.clear();

    const bool tls = Url.scheme().toLower() == "https";
    if (tls && !QSslSocket::supportsSsl()) {
        Fail(QNetworkReply::SslHandshakeFailedError, "https addresses need a TLS library, and none is installed");
        return false;
    }
    const TProxyAddress proxy = ProxyFor(Url.toString().toStdString());
    const QString host = Url.host();
    const int port = Url.port(tls ? 443 : 80);
    // Plain http through an HTTP proxy: the proxy is asked for the whole
    // address. Otherwise the socket goes through the proxy (a tunnel, or
    // SOCKS) to the server, or straight there.
    const bool askProxy = !proxy.Host.empty() && !proxy.Socks && !tls;
    QTcpSocket* socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
    FSocket = socket;
    socket->setProxy(askProxy ? QNetworkProxy(QNetworkProxy::NoProxy) : ToQProxy(proxy));

    QByteArray target;
    if (askProxy) {
        target = Url.adjusted(QUrl::RemoveFragment).toEncoded();
    } else {
        target = Url.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (Url.hasQuery())
            target += "?" + Url.query(QUrl::FullyEncoded).toLatin1();
    }
    QByteArray hostHeader = Url.host(QUrl::FullyEncoded).toLatin1();
    if (hostHeader.contains(':'))
        hostHeader = "[" + hostHeader + "]";
    if (port != (tls ? 443 : 80))
        hostHeader += ":" + QByteArray::number(port);
    QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: " + hostHeader + "\r\nUser-Agent: " +
                         QByteArray::fromStdString(UserAgent) + "\r\nAccept: */*\r\nConnection: close\r\n";
    if (askProxy && !proxy.User.empty())
        request += "Proxy-Authorization: Basic " +
                   QByteArray::fromStdString(proxy.User + ":" + proxy.Password).toBase64() + "\r\n";
    request += "\r\n";

    if (FDeadline.hasExpired()) {
        Fail(QNetworkReply::TimeoutError, DeadlineText());
        return false;
    }
    QEventLoop loop;
    FLoop = &loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this] { Stop(QNetworkReply::TimeoutError, DeadlineText()); });
    deadline.start(static_cast<int>(std::clamp<qint64>(FDeadline.remainingTime(), 0, INT_MAX)));
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(std::max(1, TimeoutMs));
    auto progress = [&idle] { idle.start(); };
    connect(&idle, &QTimer::timeout, this, [this] {
        const int seconds = (TimeoutMs + 999) / 1000;
        Stop(QNetworkReply::TimeoutError, "The server sent nothing for " + std::to_string(seconds) +
                                              (seconds == 1 ? " second" : " seconds"));
    });
    auto send = [socket, request, progress] {
        progress();
        socket->write(request);
    };
    if (tls)
        connect(static_cast<QSslSocket*>(socket), &QSslSocket::encrypted, &idle, send);
    else
        connect(socket, &QAbstractSocket::connected, &idle, send);
    connect(socket, &QAbstractSocket::bytesWritten, &idle, progress);
    connect(socket, &QIODevice::readyRead, this, [this, socket, progress] {
        progress();
        FBuffer += socket->readAll();
        Process();
    });
    connect(socket, &QAbstractSocket::disconnected, this, &THttpClient::ConnectionEnded);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError Error) {
        if (Error == QAbstractSocket::RemoteHostClosedError) {
            ConnectionEnded();
            return;
        }
        Stop(SocketErrorCode(Error), socket->errorString().toStdString());
    });

    idle.start();
    if (tls)
        static_cast<QSslSocket*>(socket)->connectToHostEncrypted(host, static_cast<quint16>(port));
    else if (askProxy)
        socket->connectToHost(QString::fromStdString(proxy.Host), static_cast<quint16>(proxy.Port));
    else
        socket->connectToHost(host, static_cast<quint16>(port));
    if (!FDone)
        loop.exec(QEventLoop::AllEvents);
    FLoop = nullptr;
    idle.stop();
    deadline.stop();
    if (!FDone) {
        // The event loop was told to end (the program is ending).
        Fail(QNetworkReply::OperationCanceledError, "The transfer was stopped");
    }
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    FSocket = nullptr;
    return FRedirect && !FFailed;
}

std::string THttpClient::DeadlineText() const
{
    const int seconds = (std::max(1, DeadlineMs) + 999) / 1000;
    return "The transfer did not end within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

bool THttpClient::Get()
{
    if (FBusy)
        return false;
    FBusy = true;
    FDeadline.setRemainingTime(std::max(1, DeadlineMs));
    FFailed = false;
    FErrorCode = 0;
    FErrorText.clear();
    FReceived = 0;
    FStatus = 0;
    FReason.clear();

    // The file first: whatever happens next, it ends up holding the body or
    // not existing.
    if (LocalFile.empty()) {
        Fail(HttpErrorLocalFile, "No local file to receive the report");
    } else {
        FFd = ::open(LocalFile.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
        if (FFd < 0 && errno == ENOENT)
            FFd = ::open(LocalFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        struct stat st {};
        if (FFd >= 0 && (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(FFd);
            FFd = -1;
            errno = EINVAL;
        }
        if (FFd < 0)
            Fail(HttpErrorLocalFile, "Cannot write " + LocalFile + ": " + std::strerror(errno));
    }

    const QUrl url(QString::fromStdString(URL));
    const QString scheme = url.scheme().toLower();
    if (!FFailed && (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()))
        Fail(HttpErrorBadAddress, "Not a web address that can be fetched: " + URL);
    const TProxyAddress proxy = ProxyFor(URL);
    if (!FFailed && !proxy.Host.empty() && (proxy.Port < 1 || proxy.Port > 65535))
        Fail(HttpErrorBadProxy, "The proxy port " + std::to_string(proxy.Port) + " of " + proxy.Host + " is not valid");

    // One request per hop: redirects are followed here, each to a web
    // address, never from https down to http, at most MaxRedirects times.
    QUrl current = url;
    for (int hop = 0; !FFailed; ++hop) {
        if (!Transfer(current))
            break;
        const QUrl target = current.resolved(QUrl(QString::fromStdString(FLocation)));
        const QString to = target.scheme().toLower();
        if (hop >= MaxRedirects) {
            Fail(QNetworkReply::TooManyRedirectsError,
                 "The server sent the report elsewhere more than " + std::to_string(MaxRedirects) + " times");
        } else if (!target.isValid() || (to != "http" && to != "https") || target.host().isEmpty() ||
                   (current.scheme().toLower() == "https" && to == "http")) {
            Fail(QNetworkReply::InsecureRedirectError,
                 "The server sent the report elsewhere, to an address that is not followed: " +
                     target.toString().toStdString());
        }
        current = target;
    }

    if (FFd >= 0) {
        if (::close(FFd) != 0 && !FFailed)
            Fail(HttpErrorLocalFile, "Cannot write " + LocalFile + ": " + std::strerror(errno));
        FFd = -1;
        if (FFailed)
            ::unlink(LocalFile.c_str());
    }

    FBusy = false;
    const bool ok = !FFailed;
    const int status = FStatus;
    const std::string reason = FReason;
    if (!ok && OnError)
        OnError(FErrorCode, FErrorText);
    if (OnDisconnected)
        OnDisconnected(status, !reason.empty() ? reason
                                               : status ? "HTTP status " + std::to_string(status) : "Connection closed");
    return ok;
}

}  // namespace quillard
