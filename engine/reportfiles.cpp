#include "engine/reportfiles.h"

#include "engine/markup.h"
#include "engine/renderer.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

namespace {

bool IsDir(const std::string& Path)
{
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegular(const std::string& Path)
{
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& Path)
{
    struct stat st {};
    return ::lstat(Path.c_str(), &st) == 0;
}

std::string Join(const std::string& Dir, const std::string& Name)
{
    if (Dir.empty())
        return Name;
    return Dir.back() == '/' ? Dir + Name : Dir + "/" + Name;
}

// The entry of Dir whose name equals Name apart from letter case; the exact
// spelling wins, then the first in sorted order so that the choice never
// depends on the order the folder lists its entries in.
std::string MatchEntry(const std::string& Dir, const std::string& Name)
{
    if (Exists(Join(Dir, Name)))
        return Name;
    DIR* d = ::opendir(Dir.empty() ? "." : Dir.c_str());
    if (!d)
        return {};
    std::vector<std::string> hits;
    while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (SameText(n, Name))
            hits.push_back(n);
    }
    ::closedir(d);
    if (hits.empty())
        return {};
    std::sort(hits.begin(), hits.end());
    return hits.front();
}

std::string WorkingFolder()
{
    std::string buf(4096, '\0');
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE || buf.size() > (1u << 20))
            return {};
        buf.resize(buf.size() * 2);
    }
    return buf.c_str();
}

std::string Absolute(const std::string& Path)
{
    if (!Path.empty() && Path[0] == '/')
        return Path;
    const std::string cwd = WorkingFolder();
    return cwd.empty() ? Path : Join(cwd, Path);
}

// Backslashes become slashes and a drive letter goes.
std::string Normalised(const std::string& Name)
{
    std::string s = Name;
    std::replace(s.begin(), s.end(), '\\', '/');
    if (s.size() >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')))
        s.erase(0, 2);
    return s;
}

}  // namespace

std::string FindFileNoCase(const std::string& Name, const std::string& BaseDir)
{
    if (Name.find('\0') != std::string::npos)
        return {};
    const std::string s = Normalised(Name);
    if (s.empty())
        return {};
    std::string path = s[0] == '/' ? "/" : BaseDir;
    size_t i = 0;
    bool any = false;
    while (i <= s.size()) {
        size_t slash = s.find('/', i);
        if (slash == std::string::npos)
            slash = s.size();
        const std::string part = s.substr(i, slash - i);
        i = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (!path.empty() && !IsDir(path))
            return {};
        const std::string entry = part == ".." ? part : MatchEntry(path, part);
        if (entry.empty())
            return {};
        path = Join(path, entry);
        any = true;
    }
    if (!any || !IsRegular(path))
        return {};
    return path;
}

std::string FindReportFile(const std::string& Name, const std::string& ReportFileName)
{
    const std::string s = Normalised(Trim(Name));
    if (s.empty())
        return {};
    if (s[0] == '/')
        return FindFileNoCase(s, "/");
    std::string found = FindFileNoCase(s, WorkingFolder());
    if (found.empty() && !ReportFileName.empty()) {
        const std::string report = Absolute(ReportFileName);
        const size_t slash = report.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : report.substr(0, std::max<size_t>(slash, 1));
        if (!folder.empty())
            found = FindFileNoCase(s, folder);
    }
    return found.empty() ? found : Absolute(found);
}

bool ReadWholeFile(const std::string& Path, std::vector<uint8_t>& Bytes, int64_t MaxBytes)
{
    Bytes.clear();
    // Non-blocking, so that a FIFO put where a picture was expected cannot
    // hold the pass; only regular files are read.
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxBytes;
    if (ok) {
        try {
            Bytes.resize(static_cast<size_t>(st.st_size));
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    size_t got = 0;
    while (ok && got < Bytes.size()) {
        const ssize_t n = ::read(fd, Bytes.data() + got, Bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // the file shrank: what was read is the file
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!ok) {
        Bytes.clear();
        return false;
    }
    Bytes.resize(got);
    return true;
}

void MarkImageForDeletion(tRenderer& Renderer, const std::string& Path)
{
    // A name holding the list's separator could not be listed faithfully.
    if (Renderer.ReportIsUntrusted || Path.empty() || Path.find(';') != std::string::npos)
        return;
    const std::string item = Path + ";";
    const std::string& list = Renderer.ImagesToDelete;
    size_t from = 0;
    while (from < list.size()) {
        const size_t end = list.find(';', from);
        if (end == std::string::npos)
            break;
        if (list.compare(from, end - from + 1, item) == 0)
            return;
        from = end + 1;
    }
    Renderer.ImagesToDelete += item;
}

void CleanUpImageFiles(tRenderer& Renderer)
{
    std::string list;
    list.swap(Renderer.ImagesToDelete);
    if (Renderer.ReportIsUntrusted)
        return;
    while (!IsBlank(list)) {
        const size_t end = list.find(';');
        const std::string name = list.substr(0, end);
        list.erase(0, end == std::string::npos ? std::string::npos : end + 1);
        if (name.empty() || name.find('\0') != std::string::npos)
            continue;
        struct stat st {};
        if (::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(name.c_str());
    }
}

}  // namespace quillard
