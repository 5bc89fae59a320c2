#include "surfaces/namedoutput.h"

#include "base/bytefile.h"
#include "base/strings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace quillard {

namespace {

bool gDashMeansStandardOutput = false;
int gFifoReaderWaitMs = 5000;

// As many links as the system itself follows in one name.
constexpr int MaxLinks = 40;
// Output is handed to the file (or the spool) in pieces of this size.
constexpr size_t FlushSize = 256 * 1024;

std::string FolderOf(const std::string& Path)
{
    const size_t slash = Path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return Path.substr(0, slash);
}

std::string TempNameFor(const std::string& Target)
{
    static uint64_t counter = 0;
    const uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          (static_cast<uint64_t>(::getpid()) << 32) ^ (++counter * 0x9E3779B97F4A7C15ull);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(seed));
    const size_t slash = Target.rfind('/');
    const std::string base = slash == std::string::npos ? Target : Target.substr(slash + 1);
    return FolderOf(Target) + "/." + base + "." + suffix + ".tmp";
}

std::function<bool(int)>& StreamWaitHook()
{
    static std::function<bool(int)> hook;
    return hook;
}

// Writes all of Data into Fd; 0, or the errno of the failure (ECANCELED
// when the wait hook stopped it). A non-blocking descriptor (a stream's,
// or standard output left so by whoever shares it) is waited on, with the
// wait hook called meanwhile.
int WriteAll(int Fd, const char* Data, size_t Size)
{
    using TClock = std::chrono::steady_clock;
    TClock::time_point lastProgress = TClock::now();
    while (Size > 0) {
        const ssize_t n = ::write(Fd, Data, Size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                const std::function<bool(int)>& hook = StreamWaitHook();
                pollfd p{Fd, POLLOUT, 0};
                if (::poll(&p, 1, hook ? 50 : -1) < 0 && errno != EINTR)
                    return errno;
                if (hook && !(p.revents & (POLLOUT | POLLERR | POLLHUP))) {
                    const auto stalled = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() -
                                                                                              lastProgress);
                    if (!hook(static_cast<int>(std::min<long long>(stalled.count(), INT_MAX))))
                        return ECANCELED;
                }
                continue;
            }
            return errno;
        }
        lastProgress = TClock::now();
        if (n == 0)
            return EIO;
        Data += n;
        Size -= static_cast<size_t>(n);
    }
    return 0;
}

// SIGPIPE is held back while a pipe or a socket is written, so that a reader
// that went away is a write error (EPIPE) the caller reports, not the end of
// the program. A SIGPIPE raised meanwhile is taken off before the mask goes
// back.
class TSigPipeHeld {
public:
    TSigPipeHeld()
    {
        sigemptyset(&FPipe);
        sigaddset(&FPipe, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        ::sigpending(&pending);
        FPendingBefore = sigismember(&pending, SIGPIPE) == 1;
        ::pthread_sigmask(SIG_BLOCK, &FPipe, &FOld);
    }
    ~TSigPipeHeld()
    {
        if (!FPendingBefore) {
            sigset_t pending;
            sigemptyset(&pending);
            ::sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec none{0, 0};
                while (::sigtimedwait(&FPipe, nullptr, &none) < 0 && errno == EINTR) {
                }
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
    }
    TSigPipeHeld(const TSigPipeHeld&) = delete;
    TSigPipeHeld& operator=(const TSigPipeHeld&) = delete;

private:
    sigset_t FPipe{}, FOld{};
    bool FPendingBefore = false;
};

// A private file for the output of a stream until it is complete: in
// $TMPDIR (else /tmp), unnamed, readable by this user alone. -1 with errno
// set when none can be made.
int OpenSpool()
{
    const char* env = std::getenv("TMPDIR");
    const std::string folder = env && *env ? env : "/tmp";
#ifdef O_TMPFILE
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
#endif
    std::string pattern = folder + "/quillard-spool.XXXXXX";
    const int named = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(pattern.c_str());
    return named;
}

std::string SecondsText(int Ms)
{
    char text[32];
    if (Ms % 1000 == 0)
        std::snprintf(text, sizeof text, "%d second%s", Ms / 1000, Ms == 1000 ? "" : "s");
    else
        std::snprintf(text, sizeof text, "%.1f seconds", Ms / 1000.0);
    return text;
}

}  // namespace

void SetDashMeansStandardOutput(bool Value) { gDashMeansStandardOutput = Value; }
bool DashMeansStandardOutput() { return gDashMeansStandardOutput; }

void SetStreamWaitHook(std::function<bool(int StalledMs)> Hook) { StreamWaitHook() = std::move(Hook); }

int FifoReaderWaitMs() { return gFifoReaderWaitMs; }
void SetFifoReaderWaitMs(int Ms) { gFifoReaderWaitMs = std::max(0, Ms); }

bool ResolveOutputName(const std::string& Name, TOutputTarget& Target, std::string* Reason)
{
    Target = {};
    if (Name.empty()) {
        SayWhy(Reason, std::strerror(ENOENT));
        return false;
    }
    if (Name.find('\0') != std::string::npos) {
        SayWhy(Reason, std::strerror(EINVAL));
        return false;
    }
    if (Name == "-" && DashMeansStandardOutput()) {
        Target.Kind = TOutputTarget::TKind::StandardOutput;
        Target.Path = Name;
        return true;
    }
    struct stat st {};
    if (::stat(Name.c_str(), &st) == 0) {
        Target.Mode = st.st_mode;
        Target.Owner = st.st_uid;
        Target.Group = st.st_gid;
        if (S_ISREG(st.st_mode)) {
            // The file the links lead to is the one replaced; the links stay.
            char* real = ::realpath(Name.c_str(), nullptr);
            if (!real) {
                SayWhy(Reason, std::strerror(errno));
                return false;
            }
            Target.Path = real;
            std::free(real);
            Target.Kind = TOutputTarget::TKind::RegularFile;
            return true;
        }
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)) {
            Target.Kind = TOutputTarget::TKind::Stream;
            Target.Path = Name;
            return true;
        }
        SayWhy(Reason, S_ISDIR(st.st_mode) ? std::string(std::strerror(EISDIR))
                                          : "It is " + FileKindName(st.st_mode) + ", not a file to write into");
        return false;
    }
    if (errno != ENOENT) {
        SayWhy(Reason, std::strerror(errno));  // a link loop among them
        return false;
    }
    // Nothing there: the name itself is made, or the file at the end of the
    // chain of links it starts (a dangling link makes its target).
    std::string path = Name;
    for (int hops = 0;; ++hops) {
        struct stat ls {};
        if (::lstat(path.c_str(), &ls) != 0) {
            if (errno == ENOENT)
                break;
            SayWhy(Reason, std::strerror(errno));
            return false;
        }
        if (!S_ISLNK(ls.st_mode))
            break;  // made by someone else meanwhile: the rename decides
        if (hops >= MaxLinks) {
            SayWhy(Reason, std::strerror(ELOOP));
            return false;
        }
        std::string link(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0) {
            SayWhy(Reason, std::strerror(errno));
            return false;
        }
        if (n == 0 || static_cast<size_t>(n) >= link.size()) {
            SayWhy(Reason, std::strerror(n == 0 ? ENOENT : ENAMETOOLONG));
            return false;
        }
        link.resize(static_cast<size_t>(n));
        path = link[0] == '/' ? link : FolderOf(path) + "/" + link;
    }
    Target.Kind = TOutputTarget::TKind::Missing;
    Target.Path = path;
    return true;
}

// ---------------------------------------------------------------------------

TNamedOutput::TNamedOutput(const std::string& Name) : FName(Name) { Open(); }

TNamedOutput::~TNamedOutput() { Discard(); }

void TNamedOutput::Fail(const char* What, const std::string& Reason)
{
    if (FError.empty()) {
        FReason = Reason;
        FError = std::string(What) + " \"" + FName + "\". " + Reason;
    }
    Discard();
}

void TNamedOutput::Fail(const char* What, int Err)
{
    Fail(What, Err == ECANCELED ? std::string("The writing was stopped") : std::string(std::strerror(Err)));
}

void TNamedOutput::Open()
{
    std::string reason;
    if (!ResolveOutputName(FName, FTarget, &reason)) {
        Fail("Cannot create file", reason);
        return;
    }
    if (FTarget.Kind == TOutputTarget::TKind::Stream || FTarget.Kind == TOutputTarget::TKind::StandardOutput)
        return;  // spooled until complete
    // A file replaced is made readable by this user alone until it has the
    // old file's owner and permissions; a new one gets the default
    // permissions for new files.
    const bool replacing = FTarget.Kind == TOutputTarget::TKind::RegularFile;
    const mode_t createMode = replacing ? 0600 : 0666;
#ifdef O_TMPFILE
    FFd = ::open(FolderOf(FTarget.Path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode);
#endif
    for (int attempt = 0; FFd < 0; ++attempt) {
        const std::string name = TempNameFor(FTarget.Path);
        FFd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, createMode);
        if (FFd >= 0)
            FTempName = name;
        else if (errno != EEXIST || attempt > 100) {
            Fail("Cannot create file", errno);
            return;
        }
    }
    if (replacing) {
        // The old file's owner and group where this user may give them; a
        // permission that would reach other people than before is dropped.
        mode_t mode = FTarget.Mode & 07777;
        if (::fchown(FFd, FTarget.Owner, FTarget.Group) != 0) {
            mode &= ~static_cast<mode_t>(S_ISUID);
            if (::fchown(FFd, static_cast<uid_t>(-1), FTarget.Group) != 0)
                mode &= ~static_cast<mode_t>(S_ISGID | 0070);
        }
        (void)::fchmod(FFd, mode);
    }
}

void TNamedOutput::Append(const char* Data, size_t Size)
{
    if (Failed() || Size == 0)
        return;
    FBuffer.append(Data, Size);
    if (FBuffer.size() >= FlushSize)
        Flush();
}

void TNamedOutput::Flush()
{
    if (Failed() || FBuffer.empty())
        return;
    if (FFd < 0) {
        // A stream's output goes to the spool once it is more than a piece.
        FFd = OpenSpool();
        if (FFd < 0) {
            Fail("Cannot write file", errno);
            return;
        }
    }
    if (const int err = WriteAll(FFd, FBuffer.data(), FBuffer.size())) {
        Fail("Cannot write file", err);
        return;
    }
    FBuffer.clear();
}

void TNamedOutput::Commit()
{
    if (!Failed()) {
        if (FTarget.Kind == TOutputTarget::TKind::Stream || FTarget.Kind == TOutputTarget::TKind::StandardOutput)
            CommitStream();
        else
            CommitFile();
    }
    if (Failed())
        throw std::runtime_error(FError);
}

void TNamedOutput::CommitFile()
{
    Flush();
    if (Failed())
        return;
    if (::fsync(FFd) != 0) {
        Fail("Cannot write file", errno);
        return;
    }
    if (FTempName.empty()) {
        // Give the unnamed file a name beside the target for the rename.
        const std::string proc = "/proc/self/fd/" + std::to_string(FFd);
        for (int attempt = 0;; ++attempt) {
            const std::string name = TempNameFor(FTarget.Path);
            if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                FTempName = name;
                break;
            }
            if (errno != EEXIST || attempt > 100) {
                Fail("Cannot create file", errno);
                return;
            }
        }
    }
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0) {
        Fail("Cannot write file", errno);
        return;
    }
    if (::rename(FTempName.c_str(), FTarget.Path.c_str()) != 0) {
        Fail("Cannot create file", errno);
        return;
    }
    FTempName.clear();
    // The new name itself is made durable.
    const int dir = ::open(FolderOf(FTarget.Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    Discard();
}

int TNamedOutput::OpenStream()
{
    if (FTarget.Kind == TOutputTarget::TKind::StandardOutput) {
        std::fflush(stdout);
        if (::fcntl(STDOUT_FILENO, F_GETFL) < 0) {
            Fail("Cannot write file", errno);
            return -1;
        }
        return STDOUT_FILENO;
    }
    const char* path = FTarget.Path.c_str();
    int fd = -1;
    if (S_ISSOCK(FTarget.Mode)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (FTarget.Path.size() >= sizeof address.sun_path) {
            Fail("Cannot write file", ENAMETOOLONG);
            return -1;
        }
        std::memcpy(address.sun_path, path, FTarget.Path.size());
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int err = errno;
            ::close(fd);
            fd = -1;
            errno = err;
        }
        if (fd < 0) {
            Fail("Cannot write file", errno);
            return -1;
        }
        // The writing waits for the reader in WriteAll.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        return fd;
    }
    // Never waiting in open(): a FIFO without a reader fails at once with
    // ENXIO, and is tried again for a while in case its reader is just
    // starting; a device that waits for a line (a modem) does not hold the
    // program either.
    const auto start = std::chrono::steady_clock::now();
    auto pause = std::chrono::milliseconds(5);
    for (;;) {
        fd = ::open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0)
            break;
        const int err = errno;
        if (err == EINTR)
            continue;
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (err != ENXIO || !S_ISFIFO(FTarget.Mode) || waited.count() >= FifoReaderWaitMs()) {
            if (err == ENXIO && S_ISFIFO(FTarget.Mode))
                Fail("Cannot write file",
                     "No program reads from the FIFO (none came within " + SecondsText(FifoReaderWaitMs()) + ")");
            else
                Fail("Cannot write file", err);
            return -1;
        }
        std::this_thread::sleep_for(std::min(pause, std::chrono::milliseconds(FifoReaderWaitMs()) - waited));
        pause = std::min(pause * 2, std::chrono::milliseconds(200));
    }
    // The name was resolved before the output was made; what it leads to
    // now must still be something written in place.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        const int err = errno;
        ::close(fd);
        if (err)
            Fail("Cannot write file", err);
        else
            Fail("Cannot write file", "The name now leads to " + FileKindName(st.st_mode));
        return -1;
    }
    // From here on the pace is the reader's. A FIFO stays non-blocking:
    // the writing waits for its reader in WriteAll, with the wait hook. A
    // device blocks again (some drivers say "ready" and then take nothing,
    // which would spin).
    if (S_ISCHR(st.st_mode)) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

void TNamedOutput::CommitStream()
{
    const int out = OpenStream();
    if (out < 0)
        return;
    int err = 0;
    {
        TSigPipeHeld held;
        if (FFd >= 0) {
            if (::lseek(FFd, 0, SEEK_SET) != 0)
                err = errno;
            std::string block(FlushSize, '\0');
            while (!err) {
                const ssize_t n = ::read(FFd, block.data(), block.size());
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    err = errno;
                if (n <= 0)
                    break;
                err = WriteAll(out, block.data(), static_cast<size_t>(n));
            }
        }
        if (!err)
            err = WriteAll(out, FBuffer.data(), FBuffer.size());
        if (out != STDOUT_FILENO && ::close(out) != 0 && !err)
            err = errno;
    }
    if (err)
        Fail("Cannot write file", err);
    else
        Discard();
}

void TNamedOutput::Discard()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    if (!FTempName.empty())
        ::unlink(FTempName.c_str());
    FTempName.clear();
    FBuffer.clear();
    FBuffer.shrink_to_fit();
}

bool WriteNamedOutput(const std::string& Name, const void* Data, size_t Size, std::string* Reason)
{
    TNamedOutput out(Name);
    out.Append(static_cast<const char*>(Data), Size);
    try {
        out.Commit();
        return true;
    } catch (const std::runtime_error&) {
        if (Reason)
            *Reason = out.Reason();
        return false;
    }
}

}  // namespace quillard
