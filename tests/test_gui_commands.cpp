// The preview's whole-file commands on the offscreen platform with real
// files: Save As text, PDF and picture, Modify Report with its one-time
// form-feed conversion and the editor, Refresh, Open File, and find with
// its status-bar texts, page list and find next.
#include "tests/pdftestutil.h"
#include "tests/modal.h"
#include "tests/windowtest.h"

#include "app/opendocumentwindow.h"
#include "app/previewwindow.h"
#include "app/printoptionswindow.h"
#include "app/findwindow.h"
#include "engine/markup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <filesystem>

namespace quillard::test {
namespace {

// A report of Pages pages separated by form feeds; each page names itself.
std::string PagedReport(int Pages)
{
    std::string s;
    for (int p = 1; p <= Pages; ++p) {
        if (p > 1)
            s += "\f";
        s += "{CPI10}Page " + std::to_string(p) + " of the report\r\n";
        s += "Line of page " + std::to_string(p) + "\r\n";
    }
    return s;
}

// Puts Path into a file dialog's name box. selectFile leaves the box alone
// while it has the focus, which it gets when the dialog is first activated:
// an answer given after that came back as the folder alone, now and then.
void ChooseFile(QFileDialog* Dialog, const std::string& Path)
{
    if (QWidget* focus = QApplication::focusWidget(); focus && Dialog->isAncestorOf(focus))
        focus->clearFocus();
    Dialog->selectFile(QString::fromStdString(Path));
}

// Answers the next save dialog with Path (or cancels it when Path is empty),
// recording the dialog's title and starting folder.
struct TSaveAnswer {
    QString Title, Folder;
    bool Seen = false;
};
void AnswerSaveDialog(const std::string& Path, TSaveAnswer* Seen = nullptr)
{
    WhenModal([Path, Seen](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        if (!d) {
            w->close();
            return;
        }
        if (Seen) {
            Seen->Seen = true;
            Seen->Title = d->windowTitle();
            Seen->Folder = d->directory().absolutePath();
        }
        if (Path.empty()) {
            d->reject();
            return;
        }
        ChooseFile(d, Path);
        QMetaObject::invokeMethod(d, "done", Qt::DirectConnection, Q_ARG(int, QDialog::Accepted));
    }, "QFileDialog");
}

// Runs the find window with Text and Match Case (below, with the finds).
void AnswerFind(const std::string& Text, bool MatchCase);

class CommandsTest : public WindowTest {
protected:
    void Start(const std::string& Bytes)
    {
        MakeWindows({Write(Bytes)});
        W->FormActivate();
        ASSERT_NE(W->Session().Renderer(), nullptr);
    }

    std::string Status() const { return W->StatusBar->currentMessage().toStdString(); }

    // Opens a one-line report and searches for its "needle": gives the page
    // as it was without the highlight; the page shown has it.
    QImage StartWithTheNeedleHighlighted()
    {
        Start("Plain words and a needle here\r\n");
        const QImage plain = W->PageBitmap->Image().copy();
        AnswerFind("needle", false);
        W->FindDialog();
        EXPECT_NE(W->PageBitmap->Image(), plain);
        return plain;
    }
};

// ---- Save As text ------------------------------------------------------------

TEST_F(CommandsTest, SaveAsTextCopiesTheReportByteForByte)
{
    std::string bytes = PagedReport(3);
    bytes += "{FONT NAME=\"Arial\"}caf\xe9 \x01\x7f{/FONT}\r\n";
    bytes += std::string("no line end, a NUL \0 here", 25);
    Start(bytes);
    const std::string target = Path("saved/COPY.TXT");
    std::filesystem::create_directories(Path("saved"));
    TSaveAnswer seen;
    AnswerSaveDialog(target, &seen);
    W->mnuSaveAs->trigger();
    EXPECT_TRUE(seen.Seen);
    EXPECT_EQ(seen.Title, "Save File As...");
    EXPECT_EQ(ReadBytes(target), bytes);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Text, "File Saved");
    EXPECT_EQ(Services.Messages[0].Caption, "");
    EXPECT_EQ(W->SaveTextDir, Path("saved"));
    EXPECT_EQ(W->SaveTextFileName, target);

    // The next save starts in that folder, and an unwritable target says so.
    std::filesystem::create_directories(Path("locked"));
    std::filesystem::permissions(Path("locked"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    TSaveAnswer again;
    AnswerSaveDialog(Path("locked/NO.TXT"), &again);
    W->SaveAs();
    std::filesystem::permissions(Path("locked"), std::filesystem::perms::owner_all);
    EXPECT_EQ(again.Folder.toStdString(), Path("saved"));
    if (::geteuid() != 0) {
        ASSERT_EQ(Services.Messages.size(), 2u) << MessagesText();
        EXPECT_EQ(Services.Messages[1].Text, "Error Saving File!");
    }
}

// A chosen name that is a symbolic link, dangling or not: the file it leads
// to gets the report, and the link stays a link.
TEST_F(CommandsTest, SaveAsTextThroughALinkWritesTheFileItLeadsTo)
{
    const std::string bytes = PagedReport(2);
    Start(bytes);
    std::filesystem::create_directories(Path("saved"));
    Write("old content", "saved/REAL.TXT");
    std::filesystem::create_symlink("REAL.TXT", Path("saved/LINK.TXT"));
    std::filesystem::create_symlink("NEW.TXT", Path("saved/DANGLING.TXT"));
    for (const char* name : {"saved/LINK.TXT", "saved/DANGLING.TXT"}) {
        AnswerSaveDialog(Path(name));
        W->SaveAs();
        EXPECT_TRUE(std::filesystem::is_symlink(Path(name))) << name;
    }
    EXPECT_EQ(ReadBytes(Path("saved/REAL.TXT")), bytes);
    EXPECT_EQ(ReadBytes(Path("saved/NEW.TXT")), bytes);
    ASSERT_EQ(Services.Messages.size(), 2u) << MessagesText();
    EXPECT_EQ(Services.Messages[1].Text, "File Saved");
}

TEST_F(CommandsTest, CancelledSaveWritesNothing)
{
    Start(PagedReport(2));
    AnswerSaveDialog("");
    W->SaveAs();
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    EXPECT_TRUE(W->SaveTextFileName.empty());
}

// ---- Save As PDF -------------------------------------------------------------

TEST_F(CommandsTest, SaveAsPdfWritesACheckedPdfAndOpensIt)
{
    Start(PagedReport(3));
    const std::string target = Path("REPORT.PDF");
    TSaveAnswer seen;
    AnswerSaveDialog(target, &seen);
    W->mnuSaveAsPDF->trigger();
    EXPECT_EQ(seen.Title, "Save PDF As...");
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    EXPECT_TRUE(PassesQpdfCheck(target));
    const std::string text = PdfText(target);
    for (int p = 1; p <= 3; ++p)
        EXPECT_NE(text.find("Page " + std::to_string(p) + " of the report"), std::string::npos) << text;
    EXPECT_EQ(PdfInfo(target, "Pages"), "3");
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], target);
    EXPECT_EQ(W->SavePdfDir, Dir.path().toStdString());
    // The preview is still there and still pages.
    ASSERT_NE(W->PageBitmap, nullptr);
    EXPECT_FALSE(InkBox(W->PageBitmap->Image()).Empty());
}

// The disk fills while the PDF is written (a limit on the size of the files
// the process writes; with SIGXFSZ ignored a write past it fails as on a full
// disk): the message says why, and nothing is left under the chosen name.
TEST_F(CommandsTest, SaveAsPdfOnAFullDiskSaysWhyAndLeavesNoFile)
{
    Start(PagedReport(40));
    const std::string target = Path("FULL.PDF");
    AnswerSaveDialog(target);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 2048;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    W->SaveAsPDF();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Error Producing PDF Document!");
    EXPECT_EQ(Services.Messages[0].Text.rfind(" Error #3 while producing PDF Document.\r\nMakePDF: Cannot write file", 0), 0u)
        << MessagesText();
    EXPECT_NE(Services.Messages[0].Text.find(std::strerror(EFBIG)), std::string::npos) << MessagesText();
    EXPECT_FALSE(FileExists(target));
    EXPECT_TRUE(Opened.empty());
    // The preview goes on.
    ASSERT_NE(W->PageBitmap, nullptr);
    EXPECT_FALSE(InkBox(W->PageBitmap->Image()).Empty());
}

// Disabled: the file dialog's own folder watcher sometimes notices the folder
// going away before the answer is accepted and cancels the dialog, so the
// test does not reliably reach the PDF job. To be rewritten to remove the
// folder after the dialog has closed.
TEST_F(CommandsTest, SaveAsPdfIntoAFolderThatIsGoneSaysWhy)
{
    Start(PagedReport(1));
    std::filesystem::create_directories(Path("gone"));
    WhenModal(
        [this](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            ChooseFile(d, Path("gone/X.PDF"));
            // The folder goes away between the choice and the writing (once
            // the dialog is done with it: its folder watcher would otherwise
            // see it go).
            QObject::connect(d, &QDialog::finished, [this] { std::filesystem::remove_all(Path("gone")); });
            QMetaObject::invokeMethod(d, "done", Qt::DirectConnection, Q_ARG(int, QDialog::Accepted));
        },
        "QFileDialog");
    W->SaveAsPDF();
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Error Producing PDF Document!");
    EXPECT_NE(Services.Messages[0].Text.find(" while producing PDF Document"), std::string::npos);
    EXPECT_TRUE(Opened.empty());
}

// ---- Save As Graphic ---------------------------------------------------------

struct TGraphicCase {
    const char* Name;
    const char* Written;  // the file the dialog makes of it
    bool Bmp;
};

class SaveGraphicTest : public CommandsTest, public ::testing::WithParamInterface<TGraphicCase> {};

TEST_P(SaveGraphicTest, WritesThePageBitmapAsPicture)
{
    Start(PagedReport(2));
    ASSERT_NE(W->PageBitmap, nullptr);
    const QImage page = W->PageBitmap->Image().convertToFormat(QImage::Format_RGB32);
    TSaveAnswer seen;
    AnswerSaveDialog(Path(GetParam().Name), &seen);
    W->mnuSaveAsGraphic->trigger();
    EXPECT_EQ(seen.Title, "Save Web Graphic As...");
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    const std::string written = Path(GetParam().Written);
    const std::string bytes = ReadBytes(written);
    ASSERT_GT(bytes.size(), 4u) << written;
    if (GetParam().Bmp) {
        EXPECT_EQ(bytes.substr(0, 2), "BM");
    } else {
        EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
        EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
    }
    const QImage back = QImage(QString::fromStdString(written)).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(back.isNull());
    ASSERT_EQ(back.size(), page.size());
    if (GetParam().Bmp) {
        EXPECT_EQ(back, page);
    } else {
        // Lossy, but the same picture: the mean difference is small and the
        // text is where it was.
        double diff = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                diff += std::abs(qGray(page.pixel(x, y)) - qGray(back.pixel(x, y)));
        EXPECT_LT(diff / (page.width() * page.height()), 3.0);
        const TInkBox a = InkBox(page), b = InkBox(back);
        EXPECT_NEAR(a.Left, b.Left, 2);
        EXPECT_NEAR(a.Top, b.Top, 2);
        EXPECT_NEAR(a.Right, b.Right, 2);
    }
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], written);
    EXPECT_EQ(W->SaveGraphicFileName, written);
}

INSTANTIATE_TEST_SUITE_P(Names, SaveGraphicTest,
                         ::testing::Values(TGraphicCase{"page.bmp", "page.bmp", true},
                                           TGraphicCase{"PAGE.BMP", "PAGE.BMP", true},
                                           TGraphicCase{"page.jpeg", "page.jpeg", false},
                                           TGraphicCase{"PAGE.JPG", "PAGE.JPG", false},
                                           TGraphicCase{"page", "page.JPG", false}),
                         [](const auto& Info) {
                             std::string n = Info.param.Written;
                             for (char& c : n)
                                 if (c == '.')
                                     c = '_';
                             return n;
                         });

// ---- Modify Report -----------------------------------------------------------

// A report above 64000 bytes with form feeds between its pages.
std::string LargeReport(int* FormFeeds)
{
    std::string s;
    int page = 1, ff = 0;
    while (s.size() < 70000) {
        s += "Line of page " + std::to_string(page) + " with some filler text to make it long enough\r\n";
        if (s.size() % 1500 < 90) {
            s += "\f";
            ++ff;
            ++page;
        }
    }
    *FormFeeds = ff;
    return s;
}

TEST_F(CommandsTest, ModifyReportConvertsFormFeedsOnceAndStartsTheEditor)
{
    int formFeeds = 0;
    const std::string original = LargeReport(&formFeeds);
    ASSERT_GT(formFeeds, 10);
    ASSERT_GT(original.size(), 64000u);
    Start(original);
    // The editor: a script that notes what it was given.
    const std::string noted = Path("editor.out");
    const std::string script = Write("#!/bin/sh\nprintf '%s' \"$1\" > '" + noted + "'\n", "editor.sh");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    ::setenv("VISUAL", script.c_str(), 1);

    W->actModifyReport->trigger();
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    const std::string converted = ReadBytes(W->Session().ReportFileName());
    EXPECT_EQ(converted.find('\f'), std::string::npos);
    EXPECT_EQ(converted.size(), original.size() + 5 * formFeeds);
    EXPECT_EQ(converted, ReplaceAll(original, "\f", "{PAGE}"));
    EXPECT_TRUE(QDir(Dir.path()).entryList({"QUILLARD.TMP*"}, QDir::AllEntries | QDir::System).isEmpty());
    EXPECT_FALSE(std::filesystem::exists("QX_TRANS.TMP"));
    QElapsedTimer t;
    t.start();
    // The shell makes the file before it writes into it.
    while (ReadBytes(noted) != W->Session().ReportFileName() && t.elapsed() < 10000)
        QTest::qWait(20);
    EXPECT_EQ(ReadBytes(noted), W->Session().ReportFileName());
    EXPECT_TRUE(Opened.empty());

    // A second Modify Report in the same run leaves new form feeds alone.
    std::ofstream(W->Session().ReportFileName(), std::ios::binary | std::ios::app) << "\fmore\r\n";
    ::setenv("VISUAL", "true", 1);
    W->actSource->trigger();
    EXPECT_NE(ReadBytes(W->Session().ReportFileName()).find("\fmore"), std::string::npos);
}

TEST_F(CommandsTest, ModifyReportLeavesASmallReportAsItIsAndFallsBackToTheDesktop)
{
    const std::string original = PagedReport(3);
    Start(original);
    ::unsetenv("VISUAL");
    ::setenv("EDITOR", "", 1);
    W->ModifyReport1Click();
    EXPECT_EQ(ReadBytes(W->Session().ReportFileName()), original);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], W->Session().ReportFileName());
    ::unsetenv("EDITOR");
}

// When no program of the desktop opens what was saved (or the report to
// edit), the user hears so instead of nothing happening.
TEST_F(CommandsTest, NoProgramToOpenTheFileIsSaid)
{
    Start(PagedReport(2));
    DesktopOpens = false;
    const std::string pdf = Path("REPORT.PDF");
    AnswerSaveDialog(pdf, nullptr);
    W->mnuSaveAsPDF->trigger();
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Saved");
    EXPECT_EQ(Services.Messages[0].Text, "The file was saved as " + pdf + ".\r\nNo program on this computer opens it.");
    EXPECT_TRUE(PassesQpdfCheck(pdf));

    Services.Messages.clear();
    ::unsetenv("VISUAL");
    ::setenv("EDITOR", "", 1);
    W->ModifyReport1Click();
    ::unsetenv("EDITOR");
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Modify Report");
    EXPECT_EQ(Services.Messages[0].Text.rfind("No program could be started to edit " + W->Session().ReportFileName(), 0),
              0u);
}

TEST_F(CommandsTest, ModifyReportThatCannotBeReplacedKeepsTheReportWhole)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes anywhere";
    int formFeeds = 0;
    const std::string original = LargeReport(&formFeeds);
    Start(original);
    std::filesystem::permissions(Dir.path().toStdString(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    W->ModifyReport1Click();
    std::filesystem::permissions(Dir.path().toStdString(), std::filesystem::perms::owner_all);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Caption, "Error Editing Report");
    EXPECT_EQ(ReadBytes(W->Session().ReportFileName()), original);
}

// ---- Refresh -----------------------------------------------------------------

TEST_F(CommandsTest, RefreshKeepsThePageWhileItExists)
{
    Start(PagedReport(8));
    W->edtPageNum->setText("3");
    ASSERT_EQ(W->Session().CurrentPage(), 3);
    std::ofstream(W->Session().ReportFileName(), std::ios::binary) << ReplaceAll(PagedReport(5), "of the report", "refreshed");
    W->actRefresh->trigger();
    EXPECT_EQ(W->Session().PageCount(), 5);
    EXPECT_EQ(W->Session().CurrentPage(), 3);
    EXPECT_EQ(W->edtPageNum->text(), "3");
    EXPECT_FALSE(W->SuppressRender);

    W->edtPageNum->setText("5");
    std::ofstream(W->Session().ReportFileName(), std::ios::binary) << PagedReport(4);
    W->Refresh1Click();
    EXPECT_EQ(W->Session().PageCount(), 4);
    EXPECT_EQ(W->Session().CurrentPage(), 1);
    EXPECT_EQ(W->edtPageNum->text(), "1");
}

// ---- Open File ---------------------------------------------------------------

TEST_F(CommandsTest, OpenFileLoadsTheChosenReportAndCancelKeepsTheCurrentOne)
{
    Start(PagedReport(2));
    const std::string first = W->Session().ReportFileName();
    WhenDialog<TOpenDocumentWindow>([](TOpenDocumentWindow* d) { d->cmdCancel->click(); });
    W->mnuOpenFile->trigger();
    EXPECT_EQ(W->Session().ReportFileName(), first);
    EXPECT_EQ(W->Session().PageCount(), 2);

    std::filesystem::create_directories(Path("other"));
    const std::string second = Write(PagedReport(4), "other/SECOND.TXT");
    AnswerOpenDocument(second);
    W->OpenFile();
    EXPECT_EQ(W->Session().ReportFileName(), second);
    EXPECT_EQ(W->Session().PageCount(), 4);
    EXPECT_EQ(OpenDocument->OpenDir, Path("other"));
    EXPECT_TRUE(W->PreviewSwitch);
}

// ---- Find --------------------------------------------------------------------

// Runs the find window with Text and Match Case.
void AnswerFind(const std::string& Text, bool MatchCase)
{
    WhenDialog<TFindWindow>([Text, MatchCase](TFindWindow* f) {
        f->txtFindStr->setText(QString::fromStdString(Text));
        f->chkMatchCase->setChecked(MatchCase);
        f->cmdFind->click();
    });
}

struct TFindCase {
    const char* Name;
    const char* Text;
    bool MatchCase;
    const char* Status;
    const char* FoundPages;
    int FirstPage;
};

class FindTest : public CommandsTest, public ::testing::WithParamInterface<TFindCase> {};

// Five pages: "abc" on page 2 twice and on page 5, "ABC" on page 4, and
// "abc" inside tags on pages 1 and 3.
std::string FindReport()
{
    return "{FONT NAME=\"abc\"}Page one{/FONT}\r\n"
           "\fPage two abc and abc\r\n"
           "\fPage three {FONT NAME=abc}x{/FONT}\r\n"
           "\fPage four ABC\r\n"
           "\fPage five xabcx\r\n";
}

TEST_P(FindTest, CountsHitsOutsideTagsAndListsThePages)
{
    const TFindCase& c = GetParam();
    Start(FindReport());
    ASSERT_EQ(W->Session().PageCount(), 5);
    AnswerFind(c.Text, c.MatchCase);
    W->actFind->trigger();
    EXPECT_EQ(Status(), c.Status);
    EXPECT_EQ(W->Session().FoundPages(), c.FoundPages);
    if (c.FirstPage == 0) {
        ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
        EXPECT_EQ(Services.Messages[0].Text, "String not found!");
        EXPECT_EQ(Services.Messages[0].Caption, "");
        EXPECT_FALSE(W->actFindAgain->isEnabled());
    } else {
        EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
        EXPECT_EQ(W->Session().CurrentPage(), c.FirstPage);
        EXPECT_EQ(W->edtPageNum->text().toInt(), c.FirstPage);
        EXPECT_TRUE(W->actFindAgain->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindTest,
    ::testing::Values(
        TFindCase{"IgnoringCase", "abc", false,
                  "4 Occurances Found on Pages 2,4,5    (Press \"N\" for next page with an occurance on it)",
                  ",2,4,5,", 2},
        TFindCase{"MatchCase", "abc", true,
                  "3 Occurances Found on Pages 2,5    (Press \"N\" for next page with an occurance on it)", ",2,5,",
                  2},
        TFindCase{"UpperOnly", "ABC", true, "1 Occurance Found", ",4,", 4},
        TFindCase{"OnePageTwice", "two", false, "1 Occurance Found", ",2,", 2},
        TFindCase{"OnlyInTags", "NAME", false, "Not Found!", "", 0},
        TFindCase{"Nowhere", "zebra", false, "Not Found!", "", 0},
        TFindCase{"Spaces", "   ", false, "Not Found!", "", 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(CommandsTest, FindNextStepsThroughThePagesAndSaysWhenThereAreNoMore)
{
    Start(FindReport());
    AnswerFind("abc", false);
    W->FindDialog();
    ASSERT_EQ(W->Session().CurrentPage(), 2);
    QTest::keyClick(W->edtPageNum, Qt::Key_N);
    EXPECT_EQ(W->Session().CurrentPage(), 4);
    EXPECT_EQ(W->edtPageNum->text(), "4");
    EXPECT_TRUE(W->FindNext());
    EXPECT_EQ(W->Session().CurrentPage(), 5);
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    QTest::keyClick(W->edtPageNum, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(W->Session().CurrentPage(), 5);
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Text, "No more occurances were found!");
    EXPECT_EQ(Services.Messages[0].Caption, "Search For \"abc\"");
    EXPECT_FALSE(W->tmrKeyRepeat->isActive());
}

// Without a search the find keys do nothing: they said "No more occurances
// were found!" for a search nobody had made.
TEST_F(CommandsTest, FindKeysWithoutASearchDoNothing)
{
    Start(FindReport());
    W->edtPageNum->setText("3");
    for (const auto& [key, modifiers] : {std::pair{Qt::Key_N, Qt::NoModifier}, std::pair{Qt::Key_A, Qt::NoModifier},
                                         std::pair{Qt::Key_L, Qt::NoModifier}, std::pair{Qt::Key_N, Qt::ControlModifier},
                                         std::pair{Qt::Key_A, Qt::ControlModifier}}) {
        QTest::keyClick(W->edtPageNum, key, modifiers);
        EXPECT_EQ(W->Session().CurrentPage(), 3);
    }
    EXPECT_FALSE(W->FindNext());
    EXPECT_TRUE(Services.Messages.empty()) << MessagesText();
    EXPECT_FALSE(W->tmrKeyRepeat->isActive());
}

TEST_F(CommandsTest, FindNextFromPage999GoesTo1000)
{
    std::string r;
    for (int p = 1; p <= 1000; ++p)
        r += (p > 1 ? "\f" : "") + std::string(p >= 998 ? "needle\r\n" : "hay\r\n");
    Start(r);
    ASSERT_EQ(W->Session().PageCount(), 1000);
    AnswerFind("needle", false);
    W->FindDialog();
    EXPECT_EQ(W->Session().FoundPages(), ",998,999,1000,");
    EXPECT_EQ(W->Session().CurrentPage(), 998);
    W->edtPageNum->setText("999");
    ASSERT_EQ(W->Session().CurrentPage(), 999);
    EXPECT_TRUE(W->FindNext());
    EXPECT_EQ(W->Session().CurrentPage(), 1000);
}

TEST_F(CommandsTest, HitsAreHighlightedAndCancelRemovesTheHighlight)
{
    Start("Plain words and a needle here\r\n");
    const QImage plain = W->PageBitmap->Image().copy();
    AnswerFind("needle", false);
    W->FindDialog();
    EXPECT_EQ(Status(), "1 Occurance Found");
    const QImage lit = W->PageBitmap->Image().copy();
    EXPECT_NE(lit, plain);

    WhenDialog<TFindWindow>([](TFindWindow* f) { f->cmdClose->click(); });
    W->FindDialog();
    EXPECT_TRUE(W->Session().Renderer()->Find.Text.empty());
    EXPECT_TRUE(W->Session().FoundPages().empty());
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(W->PageBitmap->Image(), plain);
}

// A search that finds nothing (a Match Case search here) takes the
// highlights of the search before off the page.
TEST_F(CommandsTest, ASearchThatFindsNothingLeavesNoHighlight)
{
    const QImage plain = StartWithTheNeedleHighlighted();
    ASSERT_FALSE(HasFailure());
    AnswerFind("NEEDLE", true);
    W->FindDialog();
    EXPECT_EQ(Status(), "Not Found!");
    EXPECT_TRUE(W->Session().FoundPages().empty());
    EXPECT_EQ(W->PageBitmap->Image(), plain);
    EXPECT_FALSE(W->actFindAgain->isEnabled());
}

// Esc ends a search before it ends the program: the highlights go.
TEST_F(CommandsTest, EscEndsASearchBeforeTheProgram)
{
    const QImage plain = StartWithTheNeedleHighlighted();
    ASSERT_FALSE(HasFailure());
    QTest::keyClick(W->edtPageNum, Qt::Key_Escape);
    ASSERT_FALSE(Ended);
    EXPECT_TRUE(W->Session().FoundPages().empty());
    EXPECT_TRUE(W->Session().Renderer()->Find.Text.empty());
    EXPECT_EQ(W->PageBitmap->Image(), plain);
    EXPECT_FALSE(W->actFindAgain->isEnabled());
    QTest::keyClick(W->edtPageNum, Qt::Key_Escape);
    EXPECT_TRUE(Ended);
}

TEST_F(CommandsTest, FindOnAReportThatIsGoneSaysSoAndForgetsTheReport)
{
    Start(PagedReport(2));
    const std::string path = W->Session().ReportFileName();
    std::filesystem::remove(path);
    AnswerFind("Page", false);
    W->FindDialog();
    ASSERT_EQ(Services.Messages.size(), 1u) << MessagesText();
    EXPECT_EQ(Services.Messages[0].Text, "Cannot Open File");
    EXPECT_EQ(Services.Messages[0].Caption, "Error opening \"" + path + "\"");
    EXPECT_TRUE(W->Session().ReportFileName().empty());
}

}  // namespace
}  // namespace quillard::test
