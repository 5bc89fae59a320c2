// The main window's reports from a web server: the address is fetched into
// a temporary file, which then becomes the report, is not trusted with this
// computer's files, and is deleted when another report is opened or at exit.
#include "app/previewwindow.h"

#include "app/progresswindow.h"
#include "platform/settings.h"
#include "app/webclient.h"
#include "engine/globals.h"
#include "engine/services.h"
#include "platform/program.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace quillard {

namespace {

// The report the hidden diagnostic button fetches.
const char* const ExampleUrl = "http://www.example.com/quillard/QUILLARD.TXT";

bool IsRegularFile(const std::string& Path)
{
    struct stat st {};
    return !Path.empty() && ::lstat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void TPreviewWindow::CreateHttpClient()
{
    HttpClient = new THttpClient(this);
    HttpClient->setObjectName("HttpClient");
    HttpClient->UserAgent = "QX3";
    HttpClient->OnDisconnected = [this](int Status, const std::string& Text) { HttpClientDisconnected(Status, Text); };
    HttpClient->OnError = [this](int Code, const std::string& Text) { HttpClientError(Code, Text); };
    HttpClient->OnProgress = [this](int64_t Received, int64_t Total) {
        if (!ProgressWindow)
            return;
        TGauge& g = ProgressWindow->ProgressGauge->Gauge;
        g.MaxValue = static_cast<int>(std::clamp<int64_t>(Total, 0, INT_MAX));
        g.Progress = static_cast<int>(std::clamp<int64_t>(Received, 0, g.MaxValue));
        ProgressWindow->ProgressGauge->Sync();
    };
    ExampleReportUrl = ExampleUrl;
    connect(cmdFetchExample, &QPushButton::clicked, this, &TPreviewWindow::cmdFetchExampleClick);
}

void TPreviewWindow::StopWebTransfer()
{
    if (HttpClient && HttpClient->Busy())
        HttpClient->Abort();
}

void TPreviewWindow::cmdFetchExampleClick() { LoadFromWeb(ExampleReportUrl); }

bool TPreviewWindow::LoadFromWeb(const std::string& Url)
{
    // One transfer at a time, and none while a page pass or a print job is
    // under way (the report must not change beneath it).
    if (!HttpClient || HttpClient->Busy() || FSession.Terminated())
        return false;
    if (Renderer() && (Renderer()->Rendering || Renderer()->Printing)) {
        MessageBeep();
        return false;
    }

    // The proxy of the user's Internet Settings; without one the client
    // keeps what it has (the environment's proxy, or none).
    const TProxySetting proxy = ReadProxySetting();
    if (!proxy.Error.empty()) {
        ShowMessage(proxy.Error, "Error");
        return false;
    }
    if (proxy.Use) {
        HttpClient->ProxyServer = proxy.Server;
        HttpClient->ProxyPort = proxy.Port;
    }

    // The report shown so far stays until the new one has arrived: the
    // clean-up of its files and the new report's deletion at exit come with
    // the new report (FinishedLoadFromWeb).
    HttpClient->LocalFile = MakeTempFileName();
    if (HttpClient->LocalFile.empty()) {
        ShowMessage("No temporary file could be made for the report from " + Url +
                        " (check the TEMP folder)",
                    "Error");
        return false;
    }
    HttpClient->URL = Url;
    HttpClient->DeadlineMs = ReadFetchTimeLimit() * 1000;
    FWebLoaded = false;
    if (ProgressWindow) {
        ProgressWindow->Loading();
        ProgressWindow->ProgressGauge->Reset();
        ProgressWindow->SetMessage("Retrieving " + Url);
    }
    HttpClient->Get();
    if (!FWebLoaded && ProgressWindow)
        ProgressWindow->DoneLoading();
    return FWebLoaded;
}

void TPreviewWindow::HttpClientError(int ErrorCode, const std::string& Description)
{
    if (FSession.Terminated())
        return;  // the transfer was stopped because the program ends
    switch (ErrorCode) {
    case 404:
    case 410:
        Globals().LastFailure = TFailureKind::NotFound;
        break;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        Globals().LastFailure = TFailureKind::Timeout;
        break;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        Globals().LastFailure = TFailureKind::Unreachable;
        break;
    default:
        break;
    }
    ShowMessage("Error Code:" + std::to_string(ErrorCode) + "\r\n" + Description, "Error Transferring File");
}

void TPreviewWindow::HttpClientDisconnected(int, const std::string&) { FinishedLoadFromWeb(); }

void TPreviewWindow::FinishedLoadFromWeb()
{
    const std::string local = HttpClient->LocalFile;
    HttpClient->LocalFile.clear();
    if (FSession.Terminated()) {
        // The program ends: a report that arrived all the same is not kept.
        if (IsRegularFile(local))
            ::unlink(local.c_str());
        return;
    }
    if (!IsRegularFile(local)) {
        ShowMessage("No file was retrieved from the server", "Error");
        return;
    }
    // The new report replaces the old one: the old one's files go now.
    CleanUpFiles();
    FSession.SetDeleteReportOnExit(true);
    FSession.SetUntrustedReportFile(local);
    FSession.SetReportFileName(local);
    FWebLoaded = LoadFile();
}

}  // namespace quillard
