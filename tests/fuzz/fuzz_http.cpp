// The web client against a hostile server: a server on 127.0.0.1 answers
// every request with the input's bytes (written in pieces of a size the
// input picks) and closes. The client goes through it as its proxy, so that a
// redirect to any address comes back here too. Whatever the answer, the
// transfer ends, a fetched report is on disk whole and no larger than what
// was sent, a failed one has left no file and says why, and the end is
// reported once. The same answer sent at once gives the same outcome and the
// same file as sent in pieces. The proxy setting readers get the same bytes.
#include "app/webclient.h"
#include "tests/fuzz/fuzzutil.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quillard;

namespace {

[[noreturn]] void Fail(const char* What)
{
    std::fprintf(stderr, "fuzz_http: %s\n", What);
    std::abort();
}

// Answers each connection with Answer, Piece bytes at a time.
class TAnswerServer {
public:
    TAnswerServer()
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(FListen, 16) != 0 || ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            Fail("no listening socket on 127.0.0.1");
        Port = ntohs(a.sin_port);
        std::thread([this] { Serve(); }).detach();
    }

    void Set(std::string Bytes, size_t PieceSize)
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FAnswer = std::move(Bytes);
        FPiece = PieceSize;
    }

    int Port = 0;

private:
    void Serve()
    {
        for (;;) {
            const int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            std::string answer;
            size_t piece;
            {
                std::lock_guard<std::mutex> lock(FMutex);
                answer = FAnswer;
                piece = FPiece;
            }
            const int one = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            timeval tv{30, 0};
            ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            // The request first, so that closing does not reset the connection
            // under unread bytes.
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, size_t(n));
            }
            for (size_t at = 0; at < answer.size();) {
                const ssize_t n = ::send(c, answer.data() + at, std::min(piece, answer.size() - at), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                at += size_t(n);
            }
            ::shutdown(c, SHUT_WR);
            while (::recv(c, buf, sizeof buf, 0) > 0) {
            }
            ::close(c);
        }
    }

    int FListen = -1;
    std::mutex FMutex;
    std::string FAnswer;
    size_t FPiece = 1;
};

TAnswerServer* Server = nullptr;

bool Exists(const std::string& Path)
{
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0;
}

int64_t SizeOf(const std::string& Path)
{
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

void ProxyReaders(const std::string& S)
{
    const size_t cut = S.find('\n');
    const std::string first = S.substr(0, cut);
    const std::string second = cut == std::string::npos ? std::string() : S.substr(cut + 1);
    const TProxySetting setting = ParseProxySetting(first, second);
    if (setting.Use && setting.Error.empty() && (setting.Server.empty() || setting.Port < 1 || setting.Port > 65535))
        Fail("a proxy setting taken without a host or with a port out of range");
    const TProxyAddress variable = ParseProxyVariable(S);
    if (!variable.Host.empty() && (variable.Port < 0 || variable.Port > 65535))
        Fail("a proxy variable's port out of range");
    (void)NoProxyCovers(first, second);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartQt();
    // Only the proxy given below: none from the environment.
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(v);
    Server = new TAnswerServer();
    return 0;
}

namespace {

struct TOutcome {
    bool Ok = false;
    std::string File;
};

// One transfer of Answer, sent Piece bytes at a time, with its checks.
TOutcome Fetch(const std::string& Answer, size_t Piece, uint8_t Options)
{
    Server->Set(Answer, Piece);

    const std::string& file = fuzz::ScratchPath();
    if (Options & 4) {
        const uint8_t old[3] = {'o', 'l', 'd'};
        fuzz::WriteScratch(old, 3);  // a file there already is rewritten
    } else {
        fuzz::RemoveScratch();
    }

    THttpClient client;
    client.UserAgent = "QX3";
    client.ProxyServer = "127.0.0.1";
    client.ProxyPort = Server->Port;
    client.URL = (Options & 8) ? "http://report.invalid/Q/R.TXT?x=1" : "http://127.0.0.1/R.TXT";
    client.LocalFile = file;
    // Only a machine stalled for this long reaches it: the server always
    // ends its answer.
    client.TimeoutMs = 20000;
    client.MaxRedirects = 2;
    client.MaxBytes = (Options & 16) ? 64 : 1 << 20;
    int errors = 0, ends = 0;
    std::string errorText;
    client.OnError = [&](int, const std::string& Text) {
        ++errors;
        errorText = Text;
    };
    client.OnDisconnected = [&](int, const std::string&) { ++ends; };
    const bool ok = client.Get();

    if (ends != 1)
        Fail("the end of the transfer was not reported once");
    if (client.Busy())
        Fail("the client is still busy after the transfer");
    if (ok) {
        if (errors != 0)
            Fail("a successful transfer reported an error");
        const int64_t size = SizeOf(file);
        if (size < 0)
            Fail("a successful transfer left no file");
        if (size > int64_t(Answer.size()) || size > client.MaxBytes)
            Fail("the file is larger than what was sent");
    } else {
        if (errors != 1 || errorText.empty())
            Fail("a failed transfer did not say why");
        if (Exists(file))
            Fail("a failed transfer left its file");
    }
    TOutcome out;
    out.Ok = ok;
    if (ok) {
        std::ifstream in(file, std::ios::binary);
        out.File.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    fuzz::RemoveScratch();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 1)
        return 0;
    const uint8_t options = Data[0];
    const std::string answer(reinterpret_cast<const char*>(Data + 1), Size - 1);
    ProxyReaders(answer);

    static const size_t pieces[3] = {1, 7, 100};
    const TOutcome inPieces = Fetch(answer, pieces[(options & 3) % 3], options);
    const TOutcome atOnce = Fetch(answer, answer.size() + 1, options);
    if (inPieces.Ok != atOnce.Ok)
        Fail("the answer in pieces and at once had different outcomes");
    if (inPieces.File != atOnce.File)
        Fail("the answer in pieces and at once gave different files");
    return 0;
}
