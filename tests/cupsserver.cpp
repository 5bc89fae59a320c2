#include "tests/cupsserver.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <cups/cups.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quillard::test {

namespace {

const char* const Cupsd = "/usr/sbin/cupsd";

struct THttpCloser {
    void operator()(http_t* h) const { httpClose(h); }
};
struct TIppDeleter {
    void operator()(ipp_t* p) const { ippDelete(p); }
};

bool WriteText(const std::string& Path, const std::string& Text)
{
    std::ofstream f(Path, std::ios::binary);
    f << Text;
    return static_cast<bool>(f);
}

void RemoveTree(const std::string& Dir)
{
    if (!Dir.empty() && Dir.rfind("/tmp/", 0) == 0)
        RunProgram("rm", {"-rf", Dir});
}

}  // namespace

std::string ReadFile(const std::string& Path)
{
    std::ifstream f(Path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string RunProgram(const std::string& Program, const std::vector<std::string>& Args, int* Code, std::string* Err)
{
    QProcess p;
    QStringList args;
    for (const std::string& a : Args)
        args << QString::fromStdString(a);
    p.start(QString::fromStdString(Program), args);
    if (!p.waitForStarted(10000)) {
        if (Code)
            *Code = -1;
        if (Err)
            *Err = Program + " could not be started: " + p.errorString().toStdString();
        return {};
    }
    p.closeWriteChannel();
    p.waitForFinished(120000);
    if (Code)
        *Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (Err)
        *Err = p.readAllStandardError().toStdString();
    return p.readAllStandardOutput().toStdString();
}

// ---------------------------------------------------------------------------

TCupsServer::~TCupsServer() { Stop(); }

void TCupsServer::AddFilter(const std::string& Program) { FFilters.push_back(Program); }

void TCupsServer::AddConfFile(const std::string& Name, const std::string& Text) { FConfFiles.emplace_back(Name, Text); }

bool TCupsServer::MakeServerBin(std::string& Line)
{
    // The system's ServerBin, folder by folder, with the filter folder made
    // anew: the system's filters linked, ours copied (the spooler runs only
    // programs owned by root in folders nobody else writes to).
    const std::string system = "/usr/lib/cups", ours = FDir + "/serverbin";
    ::mkdir(ours.c_str(), 0755);
    for (const char* sub : {"backend", "cgi-bin", "daemon", "driver", "monitor", "notifier"}) {
        const std::string from = system + "/" + sub;
        if (::access(from.c_str(), F_OK) == 0 && ::symlink(from.c_str(), (ours + "/" + sub).c_str()) != 0) {
            FError = "cannot link " + from + ": " + std::strerror(errno);
            return false;
        }
    }
    const std::string filters = ours + "/filter";
    ::mkdir(filters.c_str(), 0755);
    if (DIR* d = ::opendir((system + "/filter").c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != ".." &&
                ::symlink((system + "/filter/" + name).c_str(), (filters + "/" + name).c_str()) != 0)
                continue;  // a filter that cannot be linked is one the queue lacks
        }
        ::closedir(d);
    }
    for (const std::string& program : FFilters) {
        const std::string target = filters + "/" + program.substr(program.rfind('/') + 1);
        if (!WriteText(target, ReadFile(program)) || ::chmod(target.c_str(), 0755) != 0) {
            FError = "cannot copy the filter " + program;
            return false;
        }
    }
    Line = "ServerBin " + ours + "\n";
    return true;
}

bool TCupsServer::Start()
{
    if (Running())
        return true;
    FError.clear();
    if (::access(Cupsd, X_OK) != 0) {
        FError = std::string(Cupsd) + " is missing: install the cups-daemon package (scripts/setup.sh does)";
        return false;
    }
    char templ[] = "/tmp/quillard-cups-XXXXXX";
    if (!::mkdtemp(templ)) {
        FError = std::string("cannot make a scratch folder: ") + std::strerror(errno);
        return false;
    }
    FDir = templ;
    // The spooler runs its filters as an unprivileged user: they must reach
    // the spool folders.
    ::chmod(FDir.c_str(), 0755);
    for (const char* sub : {"/conf", "/spool", "/tmp", "/cache", "/state", "/log", "/out"})
        ::mkdir((FDir + sub).c_str(), 0755);
    ::chmod((FDir + "/out").c_str(), 01777);
    // The filters (run as the spooler's unprivileged user) keep their
    // temporary files in TempDir.
    ::chmod((FDir + "/tmp").c_str(), 01777);
    FSocket = FDir + "/cups.sock";

    std::string serverBin;
    if (!FFilters.empty() && !MakeServerBin(serverBin))
        return false;
    for (const auto& [name, text] : FConfFiles)
        if (!WriteText(FDir + "/conf/" + name, text)) {
            FError = "cannot write " + name + " in " + FDir + "/conf";
            return false;
        }
    std::string user;
    if (::geteuid() != 0) {
        if (passwd* pw = ::getpwuid(::geteuid()))
            user += std::string("User ") + pw->pw_name + "\n";
        if (group* gr = ::getgrgid(::getegid()))
            user += std::string("Group ") + gr->gr_name + "\n";
    }
    const bool ok =
        WriteText(FDir + "/conf/cupsd.conf",
                  "Listen " + FSocket + "\n"
                  "Browsing No\n"
                  "BrowseLocalProtocols none\n"
                  "DefaultShared No\n"
                  "WebInterface No\n"
                  "LogLevel info\n"
                  "MaxLogSize 0\n"
                  "PreserveJobHistory Yes\n"
                  "PreserveJobFiles Yes\n"
                  "MaxJobs 0\n"
                  "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                  "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n") &&
        WriteText(FDir + "/conf/cups-files.conf",
                  "ServerRoot " + FDir + "/conf\n"
                  "RequestRoot " + FDir + "/spool\n"
                  "TempDir " + FDir + "/tmp\n"
                  "CacheDir " + FDir + "/cache\n"
                  "StateDir " + FDir + "/state\n"
                  "ErrorLog " + FDir + "/log/error_log\n"
                  "AccessLog " + FDir + "/log/access_log\n"
                  "PageLog " + FDir + "/log/page_log\n"
                  "Printcap " + FDir + "/state/printcap\n"
                  "FileDevice Yes\n" + user + serverBin) &&
        // Network discovery stays on this machine should anything ask.
        WriteText(FDir + "/conf/snmp.conf", "Address 127.0.0.1\nCommunity public\n");
    if (!ok) {
        FError = "cannot write the spooler's configuration in " + FDir;
        return false;
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        FError = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        const int log = ::open((FDir + "/log/cupsd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        const std::string conf = FDir + "/conf/cupsd.conf", files = FDir + "/conf/cups-files.conf";
        ::execl(Cupsd, "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    FPid = pid;

    ::setenv("CUPS_SERVER", FSocket.c_str(), 1);
    cupsSetServer(FSocket.c_str());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            FError = "cupsd ended at once: " + ReadFile(FDir + "/log/cupsd.out") + Log();
            return false;
        }
        if (::access(FSocket.c_str(), F_OK) == 0) {
            std::unique_ptr<http_t, THttpCloser> http(
                httpConnect2(FSocket.c_str(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 2000, nullptr));
            if (http)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FError = "cupsd did not answer within 20 seconds: " + Log();
    Stop();
    return false;
}

void TCupsServer::Stop()
{
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 250 && ::waitpid(FPid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (::waitpid(FPid, &status, WNOHANG) == 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &status, 0);
        }
        FPid = -1;
    }
    RemoveTree(FDir);
    FDir.clear();
}

std::string TCupsServer::Log() const
{
    std::string log = ReadFile(FDir + "/log/error_log");
    if (log.size() > 3000)
        log = log.substr(log.size() - 3000);
    return log;
}

bool TCupsServer::Admin(const std::vector<std::string>& Args)
{
    int code = 0;
    std::string err;
    std::vector<std::string> args = {"-h", FSocket};
    args.insert(args.end(), Args.begin() + 1, Args.end());
    RunProgram(Args[0], args, &code, &err);
    if (code != 0)
        ADD_FAILURE() << Args[0] << " failed (" << code << "): " << err << "\n" << Log();
    return code == 0;
}

std::string TCupsServer::OutputFile(const std::string& Queue) const { return FDir + "/out/" + Queue + ".pdf"; }

bool TCupsServer::AddQueue(const std::string& Name, const std::string& Ppd) { return AddQueue(Name, Ppd, {}); }

bool TCupsServer::AddQueue(const std::string& Name, const std::string& Ppd, const std::vector<std::string>& More)
{
    std::vector<std::string> args = {"lpadmin", "-p", Name, "-E", "-v", "file://" + OutputFile(Name)};
    if (Ppd.empty()) {
        args.push_back("-m");
        args.push_back("raw");
    } else {
        args.push_back("-P");
        args.push_back(Ppd);
    }
    args.insert(args.end(), More.begin(), More.end());
    return Admin(args);
}

bool TCupsServer::Disable(const std::string& Name) { return Admin({"cupsdisable", Name}); }

bool TCupsServer::SetDefault(const std::string& Name) { return Admin({"lpadmin", "-d", Name}); }
bool TCupsServer::Reject(const std::string& Name) { return Admin({"cupsreject", Name}); }
bool TCupsServer::Delete(const std::string& Name) { return Admin({"lpadmin", "-x", Name}); }

void TCupsServer::Reset()
{
    std::unique_ptr<http_t, THttpCloser> http(
        httpConnect2(FSocket.c_str(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr));
    if (!http)
        return;
    ipp_t* req = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
    std::unique_ptr<ipp_t, TIppDeleter> resp(cupsDoRequest(http.get(), req, "/"));
    std::vector<std::string> names;
    if (resp)
        for (ipp_attribute_t* a = ippFirstAttribute(resp.get()); a; a = ippNextAttribute(resp.get()))
            if (ippGetName(a) && std::strcmp(ippGetName(a), "printer-name") == 0)
                names.emplace_back(ippGetString(a, 0, nullptr));
    for (const std::string& n : names) {
        cupsCancelJob2(http.get(), n.c_str(), CUPS_JOBID_ALL, 1);
        Delete(n);
    }
    RunProgram("sh", {"-c", "rm -f '" + FDir + "/out/'*"});
}

std::vector<TCupsServer::TJob> TCupsServer::Jobs() const
{
    std::vector<TJob> jobs;
    std::unique_ptr<http_t, THttpCloser> http(
        httpConnect2(FSocket.c_str(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr));
    if (!http)
        return jobs;
    cups_job_t* list = nullptr;
    const int n = cupsGetJobs2(http.get(), &list, nullptr, 0, CUPS_WHICHJOBS_ALL);
    for (int i = 0; i < n; ++i)
        jobs.push_back({list[i].id, list[i].title ? list[i].title : "", list[i].dest ? list[i].dest : "",
                        static_cast<int>(list[i].state)});
    cupsFreeJobs(n, list);
    std::sort(jobs.begin(), jobs.end(), [](const TJob& a, const TJob& b) { return a.Id < b.Id; });
    return jobs;
}

std::map<std::string, std::vector<std::string>> TCupsServer::JobAttributes(int Id) const
{
    std::map<std::string, std::vector<std::string>> out;
    std::unique_ptr<http_t, THttpCloser> http(
        httpConnect2(FSocket.c_str(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr));
    if (!http)
        return out;
    ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[256];
    std::snprintf(uri, sizeof uri, "ipp://localhost/jobs/%d", Id);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    // As the job's owner: the spooler shows a job's name only to its owner.
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
    std::unique_ptr<ipp_t, TIppDeleter> resp(cupsDoRequest(http.get(), req, "/"));
    if (!resp)
        return out;
    for (ipp_attribute_t* a = ippFirstAttribute(resp.get()); a; a = ippNextAttribute(resp.get())) {
        if (!ippGetName(a) || ippGetGroupTag(a) != IPP_TAG_JOB)
            continue;
        std::vector<std::string>& values = out[ippGetName(a)];
        for (int i = 0; i < ippGetCount(a); ++i) {
            switch (ippGetValueTag(a)) {
            case IPP_TAG_INTEGER: values.push_back(std::to_string(ippGetInteger(a, i))); break;
            case IPP_TAG_ENUM: {
                const char* s = ippEnumString(ippGetName(a), ippGetInteger(a, i));
                values.push_back(s ? s : std::to_string(ippGetInteger(a, i)));
                break;
            }
            default: {
                const char* s = ippGetString(a, i, nullptr);
                values.push_back(s ? s : "");
            }
            }
        }
    }
    return out;
}

bool TCupsServer::WaitUntilIdle(int Seconds) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    while (std::chrono::steady_clock::now() < until) {
        bool busy = false;
        for (const TJob& j : Jobs())
            busy = busy || j.State == IPP_JSTATE_PENDING || j.State == IPP_JSTATE_PROCESSING;
        if (!busy)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string TCupsServer::SpooledDocument(int Id) const
{
    char name[64];
    std::snprintf(name, sizeof name, "/spool/d%05d-001", Id);
    return FDir + name;
}

// ---------------------------------------------------------------------------

namespace {
TCupsServer* gShared = nullptr;

class TCupsEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        delete gShared;
        gShared = nullptr;
    }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new TCupsEnvironment);
}  // namespace

TCupsServer& SharedCups()
{
    if (!gShared) {
        gShared = new TCupsServer;
        gShared->Start();
    }
    return *gShared;
}

std::string GenericPdfPpd()
{
    for (const char* p : {"/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd",
                          "/usr/share/cups/model/cupsfilters/Generic-PDF_Printer-PDF.ppd"})
        if (::access(p, R_OK) == 0)
            return p;
    return {};
}

std::string WritePpd(const std::string& Path, const std::vector<std::pair<std::string, std::string>>& Edits)
{
    std::istringstream in(ReadFile(GenericPdfPpd()));
    std::vector<bool> used(Edits.size());
    std::string out, line;
    while (std::getline(in, line)) {
        bool replaced = false;
        for (size_t i = 0; i < Edits.size() && !replaced; ++i)
            if (line.rfind(Edits[i].first, 0) == 0) {
                if (!used[i])
                    out += Edits[i].second + "\n";
                used[i] = true;
                replaced = true;
            }
        if (!replaced)
            out += line + "\n";
    }
    for (size_t i = 0; i < Edits.size(); ++i)
        if (!used[i])
            out += Edits[i].second + "\n";
    WriteText(Path, out);
    return Path;
}

std::vector<TPdfWord> PdfWords(const std::string& Path)
{
    std::vector<TPdfWord> words;
    const QString xml = QString::fromStdString(RunProgram("pdftotext", {"-bbox", Path, "-"}));
    static const QRegularExpression page(QStringLiteral("<page "));
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([-0-9.]+)\" yMin=\"([-0-9.]+)\" xMax=\"([-0-9.]+)\" yMax=\"([-0-9.]+)\">([^<]*)</word>"));
    int pageNo = 0;
    qsizetype pos = 0;
    while (true) {
        const qsizetype nextPage = xml.indexOf(page, pos);
        const QRegularExpressionMatch m = word.match(xml, pos);
        if (nextPage >= 0 && (!m.hasMatch() || nextPage < m.capturedStart())) {
            ++pageNo;
            pos = nextPage + 1;
            continue;
        }
        if (!m.hasMatch())
            break;
        words.push_back({m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                         m.captured(4).toDouble(), m.captured(5).toStdString(), pageNo});
        pos = m.capturedEnd();
    }
    return words;
}

std::map<std::string, std::string> PdfInfo(const std::string& Path)
{
    std::map<std::string, std::string> info;
    std::istringstream in(RunProgram("pdfinfo", {Path}));
    std::string line;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        size_t v = line.find_first_not_of(' ', colon + 1);
        info[line.substr(0, colon)] = v == std::string::npos ? "" : line.substr(v);
    }
    return info;
}

std::vector<std::string> PdfPageTexts(const std::string& Path)
{
    std::vector<std::string> pages;
    const std::string text = RunProgram("pdftotext", {"-layout", Path, "-"});
    size_t start = 0;
    while (start < text.size()) {
        size_t ff = text.find('\f', start);
        if (ff == std::string::npos)
            ff = text.size();
        pages.push_back(text.substr(start, ff - start));
        start = ff + 1;
    }
    return pages;
}

}  // namespace quillard::test
