// The preview's commands that act on whole files (open, the three saves,
// editing the report, refresh), "Print &Setup..." and find.
#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/progresswindow.h"
#include "app/picturefile.h"
#include "app/qtservices.h"
#include "app/findwindow.h"
#include "base/bytefile.h"
#include "engine/fileeditor.h"
#include "engine/globals.h"
#include "engine/markup.h"
#include "engine/services.h"
#include "platform/desktop.h"
#include "surfaces/namedoutput.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <climits>
#include <fstream>
#include <stdexcept>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

namespace quillard {

namespace {

// The folder of a chosen file, without a trailing separator (except the root).
std::string FolderOf(const std::string& Path) { return PathFromQ(QFileInfo(PathToQ(Path)).absolutePath()); }

std::string WithoutNuls(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
    return s;
}

// The report, read as the page pass reads it (a FIFO or a device is refused,
// never waited on).
bool ReadWholeFile(const std::string& Path, std::string& Bytes)
{
    try {
        Bytes = ReadWholeReport(Path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The desktop's programs are given only a file they can open: a FIFO or a
// device the output went into is none.
bool IsRegularFile(const std::string& Path)
{
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// ---------------------------------------------------------------------------
// Print setup

void TPreviewWindow::PrintSetup1Click()
{
    if (!PrintOptionsWindow)
        return;
    PrintOptionsWindow->show();
    PrintOptionsWindow->raise();
    PrintOptionsWindow->activateWindow();
}

// ---------------------------------------------------------------------------
// The save dialog

std::string TPreviewWindow::RunSaveDialog(const char* Title, const std::string& Dir, const std::string& Name,
                                         const char* DefaultSuffix, const QStringList& Filters)
{
    QFileDialog dialog(this, QString::fromLatin1(Title), PathToQ(Dir));
    dialog.setObjectName("SaveDialog1");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(Filters);
    dialog.setDefaultSuffix(QString::fromLatin1(DefaultSuffix));
    if (!Name.empty())
        dialog.selectFile(QFileInfo(PathToQ(Name)).fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return PathFromQ(dialog.selectedFiles().first());
}

// ---------------------------------------------------------------------------
// Open File

void TPreviewWindow::OpenFile()
{
    CleanUpFiles();
    FSession.SetDeleteReportOnExit(false);
    PrintSwitch = false;
    PreviewSwitch = true;
    const std::string previous = FSession.ReportFileName();
    FSession.SetReportFileName({});
    if (OpenDocumentWindow)
        OpenDocumentWindow->SelectedPath.clear();
    if (LoadFile()) {
        // The browse dialog starts in the new report's folder next time.
        if (OpenDocumentWindow)
            OpenDocumentWindow->OpenDir = FolderOf(FSession.ReportFileName());
        else
            OpenDir = FolderOf(FSession.ReportFileName());
    } else {
        FSession.SetReportFileName(previous);
    }
}

// ---------------------------------------------------------------------------
// Save As text: the report byte for byte, markup and all

void TPreviewWindow::SaveAs()
{
    if (!Renderer())
        return;
    const std::string name = RunSaveDialog("Save File As...", SaveTextDir, SaveTextFileName, "TXT",
                                           {QStringLiteral("Ascii Text File (*.TXT *.txt)")});
    if (name.empty())
        return;
    SaveTextDir = FolderOf(name);
    SaveTextFileName = name;
    std::string bytes;
    std::string why = "the report cannot be read";
    const bool ok = ReadWholeFile(Renderer()->FileName, bytes) && WriteNamedOutput(name, bytes.data(), bytes.size(), &why);
    if (!ok)
        std::fprintf(stderr, "Save As: %s: %s\n", name.c_str(), why.c_str());
    ShowMessage(ok ? "File Saved" : "Error Saving File!", "");
}

// ---------------------------------------------------------------------------
// Save As PDF

void TPreviewWindow::SaveAsPDF()
{
    if (!Renderer())
        return;
    const std::string name = RunSaveDialog("Save PDF As...", SavePdfDir, SavePdfFileName, "PDF",
                                           {QStringLiteral("Portable Document Format (*.PDF *.pdf)")});
    if (name.empty())
        return;
    SavePdfDir = FolderOf(name);
    SavePdfFileName = name;
    try {
        if (ProgressWindow)
            ProgressWindow->ProgressGauge->Reset();
        const int result = Renderer()->MakePDF(ProgressWindow ? &ProgressWindow->ProgressGauge->Gauge : nullptr, name);
        SyncGauges();
        const std::string last = WithoutNuls(Globals().LastErrorMessage);
        if (result == 0) {
            if (IsRegularFile(name))
                OpenSavedFile(name);
        } else if (result == 3) {
            ShowMessage(" Error #" + std::to_string(result) + " while producing PDF Document.\r\n" + last +
                            "\r\n\r\n Is the destination PDF still open in Acrobat Reader?",
                        "Error Producing PDF Document!");
        } else {
            ShowMessage("Error #" + std::to_string(result) + " while producing PDF Document\r\n" + last,
                        "Error Producing PDF Document!");
        }
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Creating PDF");
    }
    // The job drew on a surface of its own: the preview page is drawn again.
    if (!PageBitmap && !FSession.Terminated())
        Render();
}

// ---------------------------------------------------------------------------
// Save As Graphic: the page bitmap as JPEG or BMP

void TPreviewWindow::SaveAsGraphic()
{
    const std::string name =
        RunSaveDialog("Save Web Graphic As...", SaveGraphicDir, SaveGraphicFileName, "JPG",
                      {QStringLiteral("JPEG Image (*.JPG *.JPEG *.jpg *.jpeg)"),
                       QStringLiteral("Bitmap Image (*.BMP *.bmp)")});
    if (name.empty())
        return;
    SaveGraphicDir = FolderOf(name);
    SaveGraphicFileName = name;
    // A page that is not drawn just now (a pass was stopped while the
    // dialog was up) is drawn first.
    if (!PageBitmap && Renderer() && !FSession.Terminated())
        Render();
    if (!PageBitmap) {
        ShowMessage("Error Saving file", "");
        return;
    }
    const QImage& page = PageBitmap->Image();
    std::string why;
    const bool bmp = name.size() >= 4 && UpperCase(name.substr(name.size() - 4)) == ".BMP";
    const bool ok = bmp ? SaveBmpFile(page, name, &why) : SaveJpegFile(page, name, &why);
    if (!ok) {
        std::fprintf(stderr, "Save As Graphic: %s: %s\n", name.c_str(), why.c_str());
        ShowMessage(bmp ? "Error Saving file\r\n" + why : std::string("Error Saving file"), "");
        return;
    }
    if (IsRegularFile(name))
        OpenSavedFile(name);
}

void TPreviewWindow::OpenSavedFile(const std::string& Path)
{
    if (OpenWithDesktop && !OpenWithDesktop(Path))
        ShowMessage("The file was saved as " + Path + ".\r\nNo program on this computer opens it.", "Saved");
}

// ---------------------------------------------------------------------------
// Modify Report: form feeds become {PAGE} once, then the report goes to the
// user's text editor

void TPreviewWindow::ModifyReport1Click()
{
    if (!Renderer())
        return;
    const std::string report = Renderer()->FileName;
    try {
        if (!Renderer()->FormFeedsConverted && Renderer()->FileSize > 64000) {
            Renderer()->FormFeedsConverted = true;
            std::string bytes;
            if (!ReadWholeFile(report, bytes))
                throw std::runtime_error("Cannot read " + report);
            if (bytes.find('\f') != std::string::npos) {
                std::string converted;
                converted.reserve(bytes.size() + 64);
                for (char c : bytes) {
                    if (c == '\f')
                        converted += "{PAGE}";
                    else
                        converted += c;
                }
                // The report is replaced whole or not at all.
                std::string why;
                if (!ReplaceFileSafely(report, converted, &why))
                    throw std::runtime_error(why);
            }
        }
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Editing Report");
    }

    // $VISUAL, then $EDITOR, then the desktop's program for text files.
    if (StartUserTextEditor(report))
        return;
    if (OpenWithDesktop && !OpenWithDesktop(report))
        ShowMessage("No program could be started to edit " + report +
                        ".\r\nSet VISUAL or EDITOR to a text editor, or install one the desktop opens text "
                        "files with.",
                    "Modify Report");
}

// ---------------------------------------------------------------------------
// Refresh: the report is read again; the page stays when it still exists

void TPreviewWindow::Refresh1Click() { RefreshReport(); }

// ---------------------------------------------------------------------------
// Find

void TPreviewWindow::FindDialog()
{
    if (!Renderer())
        return;
    if (!FindWindow) {
        try {
            FindWindow = new TFindWindow(this);
        } catch (const std::exception&) {
            ShowMessage("Error Creating \"Find\" Window", "Error");
            return;
        }
    }
    if (FindWindow->Execute(Renderer()) <= 0) {
        if (FSession.PageWasFound(FSession.CurrentPage())) {
            Clear();
            Render();
        }
        FSession.ClearFoundPages();
        StatusBar->clearMessage();
        return;
    }

    int total = 0, pages = 0, first = 0;
    // The page shown may carry the highlights of the search before.
    const bool highlighted = FSession.PageWasFound(FSession.CurrentPage());
    FSession.ClearFoundPages();
    const std::string find = Renderer()->Find.Text;
    if (!IsBlank(find)) {
        TByteFile file;
        try {
            file.Open(FSession.ReportFileName());
        } catch (const std::exception&) {
            ShowMessage("Cannot Open File", "Error opening \"" + FSession.ReportFileName() + "\"");
            FSession.SetReportFileName({});
            return;
        }
        int page = 1;
        std::string line, lineEnd;
        while (!file.Eof()) {
            const int64_t before = file.Position();
            Renderer()->GetLn(file, line, lineEnd);
            if (file.Position() == before && line.empty() && lineEnd.empty())
                break;  // nothing more can be read
            const int hits = CountHits(line, find, Renderer()->Find.CaseSensitive);
            if (hits > 0) {
                total += hits;
                if (FSession.AddFoundPage(page))
                    ++pages;
                if (first == 0)
                    first = page;
            }
            std::string counted = line;
            if (counted.find('\f') != std::string::npos)
                counted = ReplaceAll(counted, "\f", "{PAGE}");
            if (lineEnd.find('\f') != std::string::npos)
                counted += "{PAGE}";
            const std::string upper = UpperCase(counted);
            for (size_t p = upper.find("{PAGE}"); p != std::string::npos; p = upper.find("{PAGE}", p + 6))
                ++page;
            ProcessMessages();
            if (FSession.Terminated())
                return;
        }
    }

    if (first == 0) {
        // Nothing found: no highlight of the search before stays.
        actFindAgain->setEnabled(false);
        if (highlighted) {
            Clear();
            Render();
        }
        StatusBar->showMessage(QStringLiteral("Not Found!"));
        ShowMessage("String not found!", "");
        return;
    }
    actFindAgain->setEnabled(true);
    FSession.TidyFoundPages();
    std::string status = std::to_string(total) + " Occurance" + (total > 1 ? "s" : "") + " Found";
    if (pages > 1)
        status += " on Pages " + FSession.FoundPages().substr(1, FSession.FoundPages().size() - 2) +
                  "    (Press \"N\" for next page with an occurance on it)";
    StatusBar->showMessage(FromBytes(status));
    const bool samePage = first == FSession.CurrentPage();
    SetPage(first);
    if (samePage) {
        Clear();
        Render();
    }
}

bool TPreviewWindow::EndSearch()
{
    if (!Renderer() || FSession.FoundPages().empty())
        return false;
    const bool highlighted = FSession.PageWasFound(FSession.CurrentPage());
    Renderer()->Find.Text.clear();
    Renderer()->Find.TextUtf8.clear();
    FSession.ClearFoundPages();
    actFindAgain->setEnabled(false);
    StatusBar->clearMessage();
    if (highlighted) {
        Clear();
        Render();
    }
    return true;
}

bool TPreviewWindow::FindNext()
{
    // Without a search that found something the find keys do nothing.
    if (!Renderer() || FSession.FoundPages().empty())
        return false;
    const int next = FSession.NextFoundPage(FSession.CurrentPage());
    if (next > 0) {
        SetPage(next);
        return true;
    }
    KeyRepeating = false;
    tmrKeyRepeat->stop();
    ShowMessage("No more occurances were found!", "Search For \"" + Renderer()->Find.Text + "\"");
    return false;
}

}  // namespace quillard
