// Shared pieces of the PDF tests: the real PDF tools (qpdf, pdftotext) run on
// the files written, and a reader for the parts of our own PDF files that the
// tests look into (content streams, objects, cross-reference table).
#pragma once

#include "surfaces/pdfwriter.h"

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quillard::test {

struct TToolRun {
    int Code = -1;
    std::string Out, Err;
};

// Runs Program to its end, in Env when one is given.
inline TToolRun RunTool(const QString& Program, const QStringList& Args,
                        const std::optional<QProcessEnvironment>& Env = std::nullopt)
{
    QProcess p;
    if (Env)
        p.setProcessEnvironment(*Env);
    p.start(Program, Args);
    if (!p.waitForStarted(30000))
        return {-1, "", (Program + " could not be started").toStdString()};
    p.waitForFinished(120000);
    TToolRun r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput().toStdString();
    r.Err = p.readAllStandardError().toStdString();
    return r;
}

// qpdf --check: exit 0 and no warnings.
inline ::testing::AssertionResult PassesQpdfCheck(const std::string& Path)
{
    TToolRun r = RunTool("qpdf", {"--check", QString::fromStdString(Path)});
    if (r.Code == 0 && r.Err.empty() && r.Out.find("WARNING") == std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "qpdf --check " << Path << " exited " << r.Code << "\n" << r.Out << r.Err;
}

// pdftotext of the pages (all when First is 0), in reading order.
inline std::string PdfText(const std::string& Path, int First = 0, int Last = 0, bool Layout = false)
{
    QStringList args;
    if (Layout)
        args << "-layout";
    if (First > 0)
        args << "-f" << QString::number(First) << "-l" << QString::number(Last);
    args << QString::fromStdString(Path) << "-";
    TToolRun r = RunTool("pdftotext", args);
    EXPECT_EQ(r.Code, 0) << r.Err;
    return r.Out;
}

// One field of pdfinfo's report ("Pages", "Page size", "Title"), trimmed.
inline std::string PdfInfo(const std::string& Path, const std::string& Field)
{
    TToolRun r = RunTool("pdfinfo", {QString::fromStdString(Path)});
    EXPECT_EQ(r.Code, 0) << r.Err;
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(Field + ":", 0) != 0)
            continue;
        std::string v = line.substr(Field.size() + 1);
        v.erase(0, v.find_first_not_of(' '));
        return v;
    }
    return "(no " + Field + ")";
}

// Every PDF file left in a folder passes qpdf --check.
inline void ExpectEveryPdfChecks(const QString& Folder)
{
    for (const QString& name : QDir(Folder).entryList({"*.pdf"}, QDir::Files))
        EXPECT_TRUE(PassesQpdfCheck(QDir(Folder).filePath(name).toStdString()));
}

inline std::string ReadBytes(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool FileExists(const std::string& Path) { return std::ifstream(Path).good(); }

// The bytes between each "stream" line and its "endstream", in file order:
// the page contents (pictures and patterns left out unless asked for).
inline std::vector<std::string> ContentStreams(const std::string& Pdf, bool AllStreams = false)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while ((pos = Pdf.find("stream\r\n", pos)) != std::string::npos) {
        if (pos >= 3 && Pdf.compare(pos - 3, 3, "end") == 0) {
            pos += 8;
            continue;
        }
        size_t start = pos + 8;
        size_t end = Pdf.find("endstream\r\n", start);
        if (end == std::string::npos)
            break;
        const size_t object = Pdf.rfind(" 0 obj\r\n", pos);
        const std::string head = Pdf.substr(object == std::string::npos ? 0 : object, pos - (object == std::string::npos ? 0 : object));
        const bool resource = head.find("/Subtype /Image") != std::string::npos || head.find("/Type /Pattern") != std::string::npos;
        if (AllStreams || !resource)
            out.push_back(Pdf.substr(start, end - start));
        pos = end + 11;
    }
    return out;
}

// Object number -> the object's text from "N 0 obj" to "endobj", found by
// scanning (not through the cross-reference table).
inline std::map<int, std::string> Objects(const std::string& Pdf)
{
    std::map<int, std::string> out;
    size_t pos = 0;
    while ((pos = Pdf.find(" 0 obj\r\n", pos)) != std::string::npos) {
        size_t lineStart = Pdf.rfind("\r\n", pos);
        lineStart = lineStart == std::string::npos ? 0 : lineStart + 2;
        int n = std::atoi(Pdf.substr(lineStart, pos - lineStart).c_str());
        size_t end = Pdf.find("endobj\r\n", pos);
        out[n] = Pdf.substr(lineStart, end + 8 - lineStart);
        pos = end;
    }
    return out;
}

// Where each object starts in the file, by scanning.
inline std::map<int, size_t> ObjectOffsets(const std::string& Pdf)
{
    std::map<int, size_t> out;
    size_t pos = 0;
    while ((pos = Pdf.find(" 0 obj\r\n", pos)) != std::string::npos) {
        size_t lineStart = Pdf.rfind("\r\n", pos);
        lineStart = lineStart == std::string::npos ? 0 : lineStart + 2;
        out[std::atoi(Pdf.substr(lineStart, pos - lineStart).c_str())] = lineStart;
        pos += 8;
    }
    return out;
}

// Sets an environment variable for the lifetime of the object.
class TScopedEnv {
public:
    TScopedEnv(const char* Name, const char* Value) : FName(Name)
    {
        if (const char* old = std::getenv(Name))
            FOld = old;
        if (Value)
            setenv(Name, Value, 1);
        else
            unsetenv(Name);
    }
    ~TScopedEnv()
    {
        if (FOld)
            setenv(FName.c_str(), FOld->c_str(), 1);
        else
            unsetenv(FName.c_str());
    }

private:
    std::string FName;
    std::optional<std::string> FOld;
};

// The lines joined, each ended by CR LF as the PDF writer ends them.
inline std::string Lines(std::initializer_list<const char*> L)
{
    std::string s;
    for (const char* l : L)
        (s += l) += "\r\n";
    return s;
}

// A PDF writer with a fixed creation date, writing into a folder of the test's own.
class PdfDocumentTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TScopedEnv Epoch{"SOURCE_DATE_EPOCH", "1700000000"};  // 2023-11-14 22:13:20 UTC
    TPdfWriter W;

    std::string Path(const std::string& Name) { return Dir.filePath(QString::fromStdString(Name)).toStdString(); }

    // Runs Draw between BeginDoc and EndDoc, checks the file with qpdf and
    // returns its bytes.
    std::string Document(const std::function<void(TPdfWriter&)>& Draw, const std::string& Name = "out.pdf")
    {
        W.FileName = Path(Name);
        W.BeginDoc();
        Draw(W);
        W.EndDoc();
        EXPECT_TRUE(PassesQpdfCheck(W.FileName));
        return ReadBytes(W.FileName);
    }
};

}  // namespace quillard::test
