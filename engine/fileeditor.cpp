#include "engine/fileeditor.h"

#include "base/bytefile.h"
#include "engine/markup.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
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

// Why the file Real (the report Name, links followed), of status St, may not
// be rewritten; "" when it may.
std::string Refusal(const std::string& Name, const std::string& Real, const struct stat& St)
{
    if (!S_ISREG(St.st_mode))
        return "File \"" + Name + "\" is " + NotRegularReason(St.st_mode) + " and was left as it is";
    // Read-only by its permissions (which bind even a user the system would
    // let write it), or for this user.
    if ((St.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, Real.c_str(), W_OK, AT_EACCESS) != 0)
        return "File \"" + Name + "\" is read-only and was left as it is";
    return {};
}

}  // namespace

std::string RewriteRefusal(const std::string& Target)
{
    struct stat st {};
    if (Target.empty() || Target.find('\0') != std::string::npos || ::stat(Target.c_str(), &st) != 0)
        return {};  // nothing there to keep: the rewrite itself says what goes wrong
    return Refusal(Target, Target, st);
}

bool RewriteReport(const std::string& FileName, const std::string& Content, const char* Caption)
{
    const std::string refusal = RewriteRefusal(FileName);
    if (!refusal.empty()) {
        ShowMessage(refusal, Caption);
        return false;
    }
    if (!ReplaceFileSafely(FileName, Content)) {
        ShowMessage("Error Writing File \"QUILLARD.TMP\"", Caption);
        return false;
    }
    return true;
}

bool ReplaceFileSafely(const std::string& Target, const std::string& Content, std::string* Reason)
{
    std::string target = Target;
    std::string temp;
    int fd = -1;
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
            const std::string refusal = Refusal(Target, target, st);
            if (!refusal.empty())
                throw std::runtime_error(refusal);
            existed = true;
        }
        const size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);

        // A new file of our own under a name nobody else uses (another
        // rewrite in the folder, another user's file in a shared folder),
        // made readable and writable by this process's user alone.
        std::string pattern = folder + ReportTempName + ".XXXXXX";
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            Fail("cannot create a temporary file in", folder.empty() ? std::string(".") : folder);
        temp = pattern;
        Probe("created");
        if (existed) {
            // The report's owner and group where this user may give them,
            // while only the owner has access; then the report's permissions.
            // Kept in this user's group, the file gives the report group's
            // rights to nobody else.
            mode_t mode = st.st_mode & 0777;
            if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0)
                mode &= ~static_cast<mode_t>(0070);
            if (::fchmod(fd, mode) != 0)
                Fail("cannot give the report's permissions to", temp);
        }
        Probe("owned");
        if (const int err = WriteFully(fd, Content.data(), Content.size())) {
            errno = err;
            Fail("cannot write", temp);
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
    } catch (const std::exception& e) {
        ShowMessage("Error Opening File \"" + name + "\"\r\n" + e.what(), "Error Editing Text");
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
    if (!Renderer) {
        ShowMessage("Error Writing File \"QUILLARD.TMP\"", "Error Adding Text");
        return false;
    }
    return RewriteReport(Renderer->FileName, Text, "Error Adding Text");
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
