#include "engine/fileeditor.h"

#include "engine/bytefile.h"
#include "engine/markup.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

const char* const ReportTempName = "QUILLARD.TMP";

namespace detail {
std::function<void(const char* Step)> ReplaceFileProbe;
}

namespace {

// Arguments are passed without building strings, so errno is still the
// failed call's when it is read here.
[[noreturn]] void Fail(const char* What, const std::string& Path)
{
    const int err = errno;
    throw std::runtime_error(std::string(What) + " " + Path + ": " + std::strerror(err));
}

void Probe(const char* Step)
{
    if (detail::ReplaceFileProbe)
        detail::ReplaceFileProbe(Step);
}

// An exclusive lock on a folder (flock on the folder itself, so that nothing
// is added to it), held until the object goes. Rewrites by other processes
// wait for it; after a while the rewrite gives up with a reason. Where the
// file system has no such locks, the rewrite goes on without one.
class TFolderLock {
public:
    ~TFolderLock()
    {
        if (FFd >= 0)
            ::close(FFd);  // releases the lock
    }
    void Take(const std::string& Folder)
    {
        FFd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (FFd < 0)
            return;
        for (int waited = 0;; waited += 10) {
            if (::flock(FFd, LOCK_EX | LOCK_NB) == 0)
                return;
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK) {
                ::close(FFd);  // no locks here
                FFd = -1;
                return;
            }
            if (waited >= 30000)
                throw std::runtime_error("another program has been rewriting a file in " + Folder +
                                         " for half a minute");
            ::usleep(10000);
        }
    }

private:
    int FFd = -1;
};

}  // namespace

bool ReplaceFileSafely(const std::string& Target, const std::string& Content, std::string* Reason)
{
    std::string target = Target;
    std::string temp;
    int fd = -1;
    TFolderLock lock;
    try {
        if (target.empty() || target.find('\0') != std::string::npos)
            throw std::runtime_error("no file name");
        struct stat st {};
        bool existed = false;
        if (::lstat(target.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode)) {
                char* real = ::realpath(target.c_str(), nullptr);
                if (!real)
                    Fail("cannot follow the link", target);
                target = real;
                std::free(real);
            }
            if (::stat(target.c_str(), &st) != 0)
                Fail("cannot examine", target);
            if (!S_ISREG(st.st_mode))
                throw std::runtime_error(target + " is not a regular file");
            existed = true;
        }
        const size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        // One rewrite at a time in a folder: every rewrite there goes through
        // the same temporary name, and a second one (another instance adding
        // text to the same report) would take the first one's temporary file
        // away half-written, or put it in place half-written.
        lock.Take(folder.empty() ? "." : folder);
        temp = folder + ReportTempName;
        // A report that is itself called QUILLARD.TMP is written through a
        // name of its own.
        if (temp == target)
            temp += ".NEW";

        // Whatever lies at the temporary name (an old copy, a link put there)
        // goes first, so the content always lands in a new file of our own.
        if (::unlink(temp.c_str()) != 0 && errno != ENOENT)
            Fail("cannot remove the old", temp);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int err = errno;
            const std::string name = temp;
            temp.clear();  // not ours: nothing to remove
            errno = err;
            Fail("cannot create", name);
        }
        if (existed) {
            (void)!::fchown(fd, st.st_uid, st.st_gid);
            (void)!::fchmod(fd, st.st_mode & 0777);
        }
        size_t done = 0;
        while (done < Content.size()) {
            const ssize_t n = ::write(fd, Content.data() + done, Content.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                Fail("cannot write", temp);
            done += static_cast<size_t>(n);
        }
        Probe("written");
        if (::fsync(fd) != 0)
            Fail("cannot flush", temp);
        Probe("synced");
        const int closing = fd;
        fd = -1;
        if (::close(closing) != 0)
            Fail("cannot close", temp);
        if (::rename(temp.c_str(), target.c_str()) != 0)
            Fail("cannot rename over", target);
        temp.clear();
        // Make the change of name itself durable.
        const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            (void)::fsync(dir);
            ::close(dir);
        }
        return true;
    } catch (const std::exception& e) {
        if (fd >= 0)
            ::close(fd);
        if (!temp.empty())
            ::unlink(temp.c_str());
        if (Reason)
            *Reason = e.what();
        return false;
    }
}

bool tFileEditor::Load()
{
    const std::string name = Renderer ? Renderer->FileName : std::string();
    TByteFile file;
    try {
        file.Open(name);
    } catch (const std::exception&) {
        ShowMessage("Error Opening File \"" + name + "\"", "Error Editing Text");
        return false;
    }
    Text.clear();
    try {
        char block[64 * 1024];
        while (size_t n = file.Read(block, sizeof block))
            Text.append(block, n);
    } catch (const std::exception&) {
        ShowMessage("Error Reading File \"" + name + "\"", "Error Editing Text");
        file.Close();
        return false;
    }
    file.Close();
    return true;
}

bool tFileEditor::InsertText(const std::string& Markup, int Page)
{
    const int p = FindNth("{PAGE}", Text, Page);
    if (p >= 1)
        Text.insert(static_cast<size_t>(p) - 1, Markup);
    else
        Text += Markup;
    return true;
}

bool tFileEditor::Save()
{
    std::string why;
    if (!Renderer || !ReplaceFileSafely(Renderer->FileName, Text, &why)) {
        ShowMessage("Error Writing File \"QUILLARD.TMP\"", "Error Adding Text");
        return false;
    }
    return true;
}

int tFileEditor::FindNth(const std::string& Sub, const std::string& S, int N)
{
    if (N < 1 || Sub.empty())
        return 0;
    const std::string s = UpperCase(S), sub = UpperCase(Sub);
    size_t from = 0, p = std::string::npos;
    for (int i = 0; i < N; ++i) {
        p = s.find(sub, from);
        if (p == std::string::npos || p >= static_cast<size_t>(INT_MAX))
            return 0;
        from = p + 1;
    }
    return static_cast<int>(p) + 1;
}

}  // namespace quillard
