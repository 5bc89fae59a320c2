#include "engine/reportfiles.h"

#include "engine/markup.h"
#include "engine/renderer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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

// The folder of a file name, made absolute; "" for no name.
std::string FolderOf(const std::string& FileName)
{
    if (FileName.empty())
        return {};
    const std::string path = Absolute(FileName);
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, std::max<size_t>(slash, 1));
}

// The path with every link, "." and ".." resolved; "" when it does not exist.
std::string RealPath(const std::string& Path)
{
    if (Path.empty())
        return {};
    char* real = ::realpath(Path.c_str(), nullptr);
    if (!real)
        return {};
    std::string s = real;
    std::free(real);
    return s;
}

// Whether the real path Folder is Base or lies below it.
bool AtOrBelow(const std::string& Folder, const std::string& Base)
{
    if (Folder.empty() || Base.empty())
        return false;
    if (Folder == Base || Base == "/")
        return true;
    return Folder.size() > Base.size() && Folder.compare(0, Base.size(), Base) == 0 && Folder[Base.size()] == '/';
}

TFileIdentity Identity(const struct stat& St) { return TFileIdentity{St.st_dev, St.st_ino, true}; }

// The file a name reaches now (links followed); unknown when none.
TFileIdentity IdentityAt(const std::string& Path)
{
    struct stat st {};
    if (Path.empty() || ::stat(Path.c_str(), &st) != 0)
        return {};
    return Identity(st);
}

// Opens the folder at the absolute path Folder from the root, one component
// at a time, refusing a symbolic link anywhere on the way (so that what is
// opened is the folder the path names now, not one a link was made to point
// at); -1 when that cannot be done.
int OpenFolderWithoutLinks(const std::string& Folder)
{
    if (Folder.empty() || Folder[0] != '/')
        return -1;
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    size_t i = 1;
    while (fd >= 0 && i < Folder.size()) {
        size_t slash = Folder.find('/', i);
        if (slash == std::string::npos)
            slash = Folder.size();
        const std::string part = Folder.substr(i, slash - i);
        i = slash + 1;
        if (part.empty() || part == ".")
            continue;
        const int next = part == ".." ? -1 : ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

}  // namespace

namespace {

// Walks the normalised name S from the folder Path, one component at a time,
// each spelt exactly when there is such an entry and otherwise without regard
// to letter case. Staying below the folder, ".." and symbolic links end the
// walk. The regular file reached, or "".
std::string WalkNoCase(const std::string& S, std::string Path, bool StayBelow)
{
    size_t i = 0;
    bool any = false;
    while (i <= S.size()) {
        size_t slash = S.find('/', i);
        if (slash == std::string::npos)
            slash = S.size();
        const std::string part = S.substr(i, slash - i);
        i = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == ".." && StayBelow)
            return {};
        if (!StayBelow && !Path.empty() && !IsDir(Path))
            return {};
        const std::string entry = part == ".." ? part : MatchEntry(Path, part);
        if (entry.empty())
            return {};
        Path = Join(Path, entry);
        any = true;
        struct stat st {};
        if (StayBelow && (::lstat(Path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)))
            return {};
    }
    return any && IsRegular(Path) ? Path : std::string();
}

}  // namespace

std::string FindFileNoCase(const std::string& Name, const std::string& BaseDir)
{
    if (Name.find('\0') != std::string::npos)
        return {};
    const std::string s = Normalised(Name);
    if (s.empty())
        return {};
    return WalkNoCase(s, s[0] == '/' ? "/" : BaseDir, false);
}

std::string FindReportFile(const std::string& Name, const std::string& ReportFileName)
{
    const std::string s = Normalised(Trim(Name));
    if (s.empty())
        return {};
    if (s[0] == '/')
        return FindFileNoCase(s, "/");
    std::string found;
    const std::string folder = FolderOf(ReportFileName);
    if (!folder.empty())
        found = FindFileNoCase(s, folder);
    if (found.empty())
        found = FindFileNoCase(s, WorkingFolder());
    return found.empty() ? found : Absolute(found);
}

std::string FindFileInFolder(const std::string& Name, const std::string& Folder)
{
    const std::string base = Folder.empty() ? std::string() : RealPath(Folder);
    const std::string s = Normalised(Trim(Name));
    if (base.empty() || s.empty() || s[0] == '/' || s.find('\0') != std::string::npos)
        return {};
    return WalkNoCase(s, base, true);
}

bool ReadWholeFile(const std::string& Path, std::vector<uint8_t>& Bytes, int64_t MaxBytes, TFileIdentity* Read)
{
    Bytes.clear();
    if (Read)
        *Read = {};
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
    if (Read)
        *Read = TFileIdentity{st.st_dev, st.st_ino, true};
    return true;
}

bool MarkImageForDeletion(tRenderer& Renderer, const std::string& Path, const TFileIdentity& Read,
                          const TFileIdentity& Report)
{
    if (Renderer.ReportIsUntrusted || Renderer.ReportFromNetwork || !Read.Known || Path.empty() || Path.find('\0') != std::string::npos)
        return false;
    const std::string reportFolder = RealPath(FolderOf(Renderer.FileName));
    const size_t slash = Path.rfind('/');
    if (reportFolder.empty() || slash == std::string::npos)
        return false;
    TPictureToDelete item;
    item.Path = Path;
    item.Name = Path.substr(slash + 1);
    item.Folder = RealPath(slash == 0 ? "/" : Path.substr(0, slash));
    item.ReportFolder = reportFolder;
    item.Picture = Read;
    item.Report = Report;
    if (item.Name.empty() || item.Name == "." || item.Name == ".." || !AtOrBelow(item.Folder, reportFolder))
        return false;
    // The name itself, not a link at it, is the file that decoded; and it is
    // not the report (by any name).
    struct stat st {};
    if (::lstat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || Identity(st) != Read || Read == Report ||
        Read == IdentityAt(Renderer.FileName))
        return false;
    for (const TPictureToDelete& listed : Renderer.ImagesToDelete)
        if (listed.Folder == item.Folder && listed.Name == item.Name)
            return true;
    Renderer.ImagesToDelete.push_back(std::move(item));
    return true;
}

namespace {

// Deletes one listed picture when it is still what was listed.
void DeleteListedPicture(const TPictureToDelete& Item, const TFileIdentity& ReportNow)
{
    if (!AtOrBelow(Item.Folder, Item.ReportFolder) || Item.Name.find('/') != std::string::npos)
        return;
    const int dir = OpenFolderWithoutLinks(Item.Folder);
    if (dir < 0)
        return;
    struct stat st {};
    if (::fstatat(dir, Item.Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        Identity(st) == Item.Picture && Identity(st) != Item.Report && Identity(st) != ReportNow)
        ::unlinkat(dir, Item.Name.c_str(), 0);
    ::close(dir);
}

}  // namespace

void CleanUpImageFiles(tRenderer& Renderer)
{
    std::vector<TPictureToDelete> list;
    list.swap(Renderer.ImagesToDelete);
    if (Renderer.ReportIsUntrusted || Renderer.ReportFromNetwork)
        return;
    const TFileIdentity reportNow = IdentityAt(Renderer.FileName);
    for (const TPictureToDelete& item : list)
        DeleteListedPicture(item, reportNow);
}

bool DeleteReportFile(const std::string& Path)
{
    if (Path.empty() || Path.find('\0') != std::string::npos)
        return false;
    // The file the name reaches, as the system follows it.
    const int fd = ::open(Path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    const std::string real = regular ? RealPath(Path) : std::string();
    const size_t slash = real.rfind('/');
    if (slash == std::string::npos)
        return false;
    const std::string name = real.substr(slash + 1);
    const int dir = OpenFolderWithoutLinks(slash == 0 ? "/" : real.substr(0, slash));
    if (dir < 0)
        return false;
    // Still that file, and nothing else, at its real name.
    struct stat now {};
    const bool same = ::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(now.st_mode) &&
                      Identity(now) == Identity(st);
    const bool deleted = same && ::unlinkat(dir, name.c_str(), 0) == 0;
    ::close(dir);
    return deleted;
}

}  // namespace quillard
