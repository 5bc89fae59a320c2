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

std::string BaseNameOf(const std::string& Path)
{
    const size_t slash = Path.rfind('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// A name for the new file beside the target, of the same length whatever the
// target's name is (one of the longest names a folder allows has room only
// for itself).
std::string TempName()
{
    static uint64_t counter = 0;
    const uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          (static_cast<uint64_t>(::getpid()) << 32) ^ (++counter * 0x9E3779B97F4A7C15ull);
    char name[40];
    std::snprintf(name, sizeof name, ".quillard-%016llx.tmp", static_cast<unsigned long long>(seed));
    return name;
}

// Whether a symbolic link whose status is Link, in the folder Folder, may be
// followed. In a sticky folder that anybody may write (/tmp) a link is
// followed only when it is this user's or the folder owner's: anyone else
// could plant one there to lead the output into a file of this user's. The
// system applies the same rule to the links it follows when told to protect
// them.
bool MayFollowLink(const std::string& Folder, const struct stat& Link)
{
    struct stat folder {};
    if (::stat(Folder.empty() ? "/" : Folder.c_str(), &folder) != 0)
        return false;
    const mode_t shared = S_ISVTX | S_IWOTH;
    if ((folder.st_mode & shared) != shared)
        return true;
    return Link.st_uid == ::geteuid() || Link.st_uid == folder.st_uid;
}

// Follows every symbolic link in Name, part by part: Resolved is then an
// absolute path without links, Found the status of what is there and Exists
// false when its last part is missing (its folder is there). False with the
// errno in Err when the name cannot lead anywhere.
bool FollowName(const std::string& Name, std::string& Resolved, struct stat& Found, bool& Exists, int& Err)
{
    std::string done;  // the path followed so far; empty for the root
    if (Name[0] != '/') {
        char* cwd = ::getcwd(nullptr, 0);
        if (!cwd) {
            Err = errno;
            return false;
        }
        done = cwd;
        std::free(cwd);
        if (done == "/")
            done.clear();
    }
    std::string rest = Name;
    size_t pos = 0;
    int links = 0;
    for (;;) {
        while (pos < rest.size() && rest[pos] == '/')
            ++pos;
        if (pos >= rest.size())
            break;
        const size_t end = std::min(rest.find('/', pos), rest.size());
        const std::string part = rest.substr(pos, end - pos);
        pos = end;
        const size_t after = rest.find_first_not_of('/', pos);
        const bool last = after == std::string::npos;
        const bool folderWanted = last && pos < rest.size();  // a slash after the last part
        if (part == ".")
            continue;
        if (part == "..") {
            const size_t slash = done.rfind('/');
            done.erase(slash == std::string::npos ? 0 : slash);
            continue;
        }
        const std::string next = done + "/" + part;
        struct stat st {};
        if (::lstat(next.c_str(), &st) != 0) {
            if (errno == ENOENT && last) {
                if (folderWanted) {
                    Err = EISDIR;
                    return false;
                }
                Resolved = next;
                Exists = false;
                return true;
            }
            Err = errno;
            return false;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > MaxLinks) {
                Err = ELOOP;
                return false;
            }
            if (!MayFollowLink(done, st)) {
                Err = EACCES;
                return false;
            }
            std::string link(4096, '\0');
            const ssize_t n = ::readlink(next.c_str(), link.data(), link.size());
            if (n <= 0 || static_cast<size_t>(n) >= link.size()) {
                Err = n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG;
                return false;
            }
            link.resize(static_cast<size_t>(n));
            if (link[0] == '/')
                done.clear();
            rest = link + rest.substr(pos);
            pos = 0;
            continue;
        }
        if ((!last || folderWanted) && !S_ISDIR(st.st_mode)) {
            Err = ENOTDIR;
            return false;
        }
        done = next;
        Found = st;
    }
    if (done.empty()) {
        done = "/";
        if (::lstat("/", &Found) != 0) {
            Err = errno;
            return false;
        }
    }
    Resolved = done;
    Exists = true;
    return true;
}

TStreamWaitHook& StreamWaitHook()
{
    static TStreamWaitHook hook;
    return hook;
}

// Writes all of Data into Fd; 0, or the errno of the failure (ECANCELED
// when the wait hook stopped it, with its reason in StopReason). A
// non-blocking descriptor (a stream's, or standard output left so by
// whoever shares it) is waited on, with the wait hook called meanwhile.
int WriteAll(int Fd, const char* Data, size_t Size, std::string& StopReason)
{
    using TClock = std::chrono::steady_clock;
    TClock::time_point lastProgress = TClock::now();
    while (Size > 0) {
        const ssize_t n = ::write(Fd, Data, Size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                const TStreamWaitHook& hook = StreamWaitHook();
                pollfd p{Fd, POLLOUT, 0};
                if (::poll(&p, 1, hook ? 50 : -1) < 0 && errno != EINTR)
                    return errno;
                if (hook && !(p.revents & (POLLOUT | POLLERR | POLLHUP))) {
                    const auto stalled = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() -
                                                                                              lastProgress);
                    StopReason.clear();
                    if (!hook(static_cast<int>(std::min<long long>(stalled.count(), INT_MAX)), StopReason))
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

void SetStreamWaitHook(TStreamWaitHook Hook) { StreamWaitHook() = std::move(Hook); }

void SetStreamWaitHook(std::function<bool(int StalledMs)> Hook)
{
    if (!Hook) {
        StreamWaitHook() = nullptr;
        return;
    }
    StreamWaitHook() = [Hook = std::move(Hook)](int StalledMs, std::string&) { return Hook(StalledMs); };
}

void SetStreamWaitHook(std::nullptr_t) { StreamWaitHook() = nullptr; }

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
    std::string path;
    struct stat st {};
    bool exists = false;
    int err = 0;
    if (!FollowName(Name, path, st, exists, err)) {
        SayWhy(Reason, std::strerror(err));  // a link loop among them
        return false;
    }
    if (!exists) {
        // Nothing there: the name itself is made, or the file at the end of
        // the chain of links it starts (a dangling link makes its target).
        Target.Kind = TOutputTarget::TKind::Missing;
        Target.Path = path;
        return true;
    }
    Target.Mode = st.st_mode;
    Target.Owner = st.st_uid;
    Target.Group = st.st_gid;
    if (S_ISREG(st.st_mode)) {
        // The file the links lead to is the one replaced; the links stay.
        Target.Kind = TOutputTarget::TKind::RegularFile;
        Target.Path = path;
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
    if (Err == ECANCELED)
        Fail(What, FStopReason.empty() ? std::string("The writing was stopped") : FStopReason);
    else
        Fail(What, std::string(std::strerror(Err)));
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
    // The folder is held open: the new file is made, named and renamed in
    // it by short names, whatever the length of its path.
    FDirFd = ::open(FolderOf(FTarget.Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FDirFd < 0 && errno == EACCES)
        FDirFd = ::open(FolderOf(FTarget.Path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (FDirFd < 0) {
        Fail("Cannot create file", errno);
        return;
    }
#ifdef O_TMPFILE
    FFd = ::openat(FDirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode);
#endif
    for (int attempt = 0; FFd < 0; ++attempt) {
        const std::string name = TempName();
        FFd = ::openat(FDirFd, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, createMode);
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
    if (const int err = WriteAll(FFd, FBuffer.data(), FBuffer.size(), FStopReason)) {
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
            const std::string name = TempName();
            if (::linkat(AT_FDCWD, proc.c_str(), FDirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
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
    if (::renameat(FDirFd, FTempName.c_str(), FDirFd, BaseNameOf(FTarget.Path).c_str()) != 0) {
        Fail("Cannot create file", errno);
        return;
    }
    FTempName.clear();
    // The new name itself is made durable.
    (void)::fsync(FDirFd);
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
                err = WriteAll(out, block.data(), static_cast<size_t>(n), FStopReason);
            }
        }
        if (!err)
            err = WriteAll(out, FBuffer.data(), FBuffer.size(), FStopReason);
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
        ::unlinkat(FDirFd, FTempName.c_str(), 0);
    FTempName.clear();
    if (FDirFd >= 0)
        ::close(FDirFd);
    FDirFd = -1;
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
