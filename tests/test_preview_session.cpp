// The preview session on its own, without a window: the report, its page
// count, the page and the zoom it keeps within bounds, and what it tells its
// observer.
#include "app/previewsession.h"
#include "engine/globals.h"
#include "engine/renderer.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillard::test {
namespace {

// Writes down every notice of the session, in order.
class TRecordingObserver : public TPreviewSessionObserver {
public:
    std::vector<std::string> Notices;
    // ZoomChanged throws for this zoom, as a window without memory for the
    // page does.
    int RefuseZoom = -1;

    void PageChanged(int Page) override { Notices.push_back("page " + std::to_string(Page)); }
    void ZoomChanged(int Percent) override
    {
        Notices.push_back("zoom " + std::to_string(Percent));
        if (Percent == RefuseZoom)
            throw std::runtime_error("no memory for the page");
    }
    void ZoomRefused() override { Notices.push_back("zoom refused"); }
    void PageCountChanged(int Count) override { Notices.push_back("count " + std::to_string(Count)); }
    void ReportLoaded(const std::string&) override { Notices.push_back("loaded"); }
};

std::string PagedReport(int Pages)
{
    std::string r;
    for (int i = 1; i <= Pages; ++i)
        r += "Page " + std::to_string(i) + " of the report\r\n" + (i < Pages ? "\f" : "");
    return r;
}

class PreviewSessionTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TRecordingServices Services;
    TPreviewSession Session;
    TRecordingObserver Observer;
    int SavedZoomLevel = 0;

    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        InstallFontSubstitutions();
        Globals().PrinterWarningShown = true;
        SetUserServices(&Services);
        SavedZoomLevel = Globals().ZoomLevel;
        Session.AddObserver(&Observer);
    }

    void TearDown() override
    {
        Session.RemoveObserver(&Observer);
        Session.DropRenderer();
        Globals().ZoomLevel = SavedZoomLevel;
        SetUserServices(nullptr);
    }

    // A session showing a report of Pages pages at 100 %.
    void Load(int Pages)
    {
        const std::string path = Dir.filePath(QStringLiteral("REPORT.TXT")).toStdString();
        std::ofstream(path, std::ios::binary) << PagedReport(Pages);
        Session.MakeRenderer().SetScale(1.0);
        Session.NoteZoom(100);
        Session.SetReportFileName(path);
        ASSERT_TRUE(Session.OpenReport(nullptr));
        Session.SetPageCount(Session.CountPages(nullptr));
        Session.ReportWasLoaded();
        Observer.Notices.clear();
    }
};

TEST_F(PreviewSessionTest, ALoadedReportHasItsPageCount)
{
    for (int pages : {1, 4, 2}) {
        SCOPED_TRACE(pages);
        Load(pages);
        EXPECT_EQ(Session.PageCount(), pages);
        EXPECT_EQ(Session.CountPages(nullptr), pages);
    }
}

TEST_F(PreviewSessionTest, ThePageCountIsToldOncePerChange)
{
    for (int count : {3, 3, 5, -1, 0})
        Session.SetPageCount(count);
    EXPECT_EQ(Observer.Notices, (std::vector<std::string>{"count 3", "count 5", "count 0"}));
    EXPECT_EQ(Session.PageCount(), 0);
}

TEST_F(PreviewSessionTest, NoReportCountsNoPages)
{
    EXPECT_EQ(Session.CountPages(nullptr), 0);  // no renderer
    Session.MakeRenderer();
    EXPECT_EQ(Session.CountPages(nullptr), 0);  // no report
    EXPECT_FALSE(Session.OpenReport(nullptr));
}

TEST_F(PreviewSessionTest, ThePageStaysWithinTheReportAndEachChangeIsToldOnce)
{
    Load(3);
    struct {
        int Asked, Page;
        bool Changed;
    } cases[] = {{2, 2, true}, {2, 2, false}, {9, 3, true}, {INT_MAX, 3, false}, {0, 0, true},
                 {-4, 0, false}, {1, 1, true},  {3, 3, true},  {INT_MIN, 0, true}};
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Asked);
        EXPECT_EQ(Session.SetCurrentPage(c.Asked), c.Changed);
        EXPECT_EQ(Session.CurrentPage(), c.Page);
        if (c.Changed)
            expected.push_back("page " + std::to_string(c.Page));
    }
    EXPECT_EQ(Observer.Notices, expected);
    Session.ResetPage();
    Session.ResetPage();
    expected.push_back("page 1");
    EXPECT_EQ(Observer.Notices, expected);
}

TEST_F(PreviewSessionTest, WithoutARendererThePageStays)
{
    Session.SetPageCount(5);
    Observer.Notices.clear();
    EXPECT_FALSE(Session.SetCurrentPage(3));
    EXPECT_EQ(Session.CurrentPage(), 1);
    EXPECT_TRUE(Observer.Notices.empty());
}

TEST_F(PreviewSessionTest, TheZoomSetsTheScaleOrGoesBack)
{
    Load(2);
    struct {
        int Asked;
        TZoomChange Result;
        int Zoom;
        double Scale;
        std::vector<std::string> Notices;
    } cases[] = {
        {150, TZoomChange::Applied, 150, 1.5, {"zoom 150"}},
        {150, TZoomChange::Unchanged, 150, 1.5, {}},
        {50, TZoomChange::Applied, 50, 0.5, {"zoom 50"}},
        // A page of millions of pixels a side does not fit in memory.
        {INT_MAX, TZoomChange::Refused, 50, 0.5, {"zoom refused"}},
        // The window could not make the page bitmap.
        {77, TZoomChange::Refused, 50, 0.5, {"zoom 77", "zoom refused"}},
        {200, TZoomChange::Applied, 200, 2.0, {"zoom 200"}},
    };
    Observer.RefuseZoom = 77;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Asked);
        Observer.Notices.clear();
        EXPECT_EQ(Session.SetZoom(c.Asked), c.Result);
        EXPECT_EQ(Session.Zoom(), c.Zoom);
        EXPECT_DOUBLE_EQ(Session.Renderer()->GetScale(), c.Scale);
        EXPECT_EQ(Globals().ZoomLevel, static_cast<int>(c.Scale * 100));
        EXPECT_EQ(Observer.Notices, c.Notices);
    }
}

TEST_F(PreviewSessionTest, APrintJobKeepsItsZoom)
{
    Load(1);
    Session.Renderer()->Printing = true;
    EXPECT_EQ(Session.SetZoom(120), TZoomChange::Busy);
    Session.Renderer()->Printing = false;
    EXPECT_EQ(Session.Zoom(), 100);
    EXPECT_DOUBLE_EQ(Session.Renderer()->GetScale(), 1.0);
    EXPECT_TRUE(Observer.Notices.empty());
}

TEST_F(PreviewSessionTest, WithoutARendererTheZoomIsOnlyNoted)
{
    EXPECT_EQ(Session.SetZoom(120), TZoomChange::Applied);
    EXPECT_EQ(Session.Zoom(), 120);
    EXPECT_EQ(Globals().ZoomLevel, SavedZoomLevel);
    EXPECT_EQ(Observer.Notices, std::vector<std::string>{"zoom 120"});
}

TEST_F(PreviewSessionTest, FoundPagesAreListedOnceAndFollowedInOrder)
{
    for (int page : {3, 1, 3, 7})
        Session.AddFoundPage(page);
    EXPECT_EQ(Session.FoundPages(), ",3,,1,,7,");
    Session.TidyFoundPages();
    EXPECT_EQ(Session.FoundPages(), ",3,1,7,");
    struct {
        int Page, Next;
        bool Found;
    } cases[] = {{0, 3, false}, {1, 3, true}, {3, 7, true}, {5, 7, false}, {7, 0, true}, {8, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Page);
        EXPECT_EQ(Session.NextFoundPage(c.Page), c.Next);
        EXPECT_EQ(Session.PageWasFound(c.Page), c.Found);
    }
    Session.ClearFoundPages();
    EXPECT_EQ(Session.NextFoundPage(0), 0);
    EXPECT_FALSE(Session.PageWasFound(3));
}

TEST_F(PreviewSessionTest, TheFirstExitCodeThatIsNotZeroStays)
{
    struct {
        int Noted;
        bool End;
        int Code;
        bool Terminated;
    } steps[] = {{0, false, 0, false}, {2, false, 2, false}, {1, true, 2, true}, {0, true, 2, true}};
    for (const auto& s : steps) {
        if (s.End)
            Session.Terminate(s.Noted);
        else
            Session.NoteExitCode(s.Noted);
        EXPECT_EQ(Session.ExitCode(), s.Code);
        EXPECT_EQ(Session.Terminated(), s.Terminated);
    }
}

}  // namespace
}  // namespace quillard::test
