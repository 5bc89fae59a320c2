#include "platform/program.h"

#include "engine/markup.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace quillard {

namespace {

std::vector<std::string>& Arguments()
{
    static std::vector<std::string> args;
    return args;
}

std::string& VersionCache()
{
    static std::string cache = "EMPTY";
    return cache;
}

std::mt19937& Random()
{
    static std::mt19937 rng(static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count() ^ ::getpid()));
    return rng;
}

}  // namespace

std::string FileVersionValue(const std::string& Name)
{
    // The version block is the one the build writes: the project version
    // with a build number of 0.
    if (Name == "FileVersion" || Name == "ProductVersion")
        return std::string(QUILLARD_VERSION) + ".0";
    if (Name == "ProductName" || Name == "InternalName")
        return "Quillard";
    if (Name == "CompanyName")
        return "Merrowgate";
    if (Name == "FileDescription")
        return "Quillard report previewer and print gateway";
    if (Name == "OriginalFilename")
        return "quillard";
    return "Error Getting File Version Value";
}

std::string ShortVersion(const std::string& Value)
{
    std::string out;
    for (char c : Value) {
        if (c >= '0' && c <= '9') {
            out += c;
        } else if (c == '.') {
            if (out.find('.') != std::string::npos)
                break;
            out += c;
        }
    }
    return out;
}

std::string ProgramVersionText()
{
    if (VersionCache() == "EMPTY")
        VersionCache() = FileVersionValue("FileVersion");
    if (VersionCache().rfind("Error", 0) == 0)
        return "";
    return ShortVersion(VersionCache());
}

std::string MakeTempFileName()
{
    std::string folder = GetEnvVar("TEMP");
    if (folder.empty())
        folder = GetEnvVar("TMPDIR");
    if (folder.empty())
        folder = "/tmp";
    if (folder.back() != '/')
        folder += '/';
    std::uniform_int_distribution<int> number(0, 999998);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder + "QX" + std::to_string(number(Random())) + ".TMP";
        // Made here, exclusively and private, so nobody can slip a link or a
        // file of their own in under the name.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            return "";
    }
    return "";
}

void SetProgramArguments(const std::vector<std::string>& Args) { Arguments() = Args; }
const std::vector<std::string>& ProgramArguments() { return Arguments(); }

bool HasSwitch(const std::string& Name)
{
    for (const std::string& a : Arguments()) {
        if (a.size() < 2 || (a[0] != '-' && a[0] != '/'))
            continue;
        if (SameText(a.substr(1), Name))
            return true;
    }
    return false;
}

}  // namespace quillard
