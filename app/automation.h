// The automation interface IQuillardX: what a client can ask of the one main
// window of the process and of its print options window. Every member acts on
// that window; the object itself holds nothing. A failure that no member
// handles is thrown as TAutomationError and reaches the client as an error
// carrying its message.
#pragma once

#include "engine/globals.h"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quillard {

class TPreviewWindow;

class TAutomationError : public std::runtime_error {
public:
    explicit TAutomationError(const std::string& What, TFailureKind Kind = TFailureKind::None)
        : std::runtime_error(What), FKind(Kind)
    {
    }
    // The failure's kind when the member knows it better than the origin.
    TFailureKind Kind() const { return FKind; }

private:
    TFailureKind FKind;
};

// The D-Bus error name of a failure of kind Kind:
// "com.merrowgate.Quillard.Error.NotFound" and so on, and the general
// "com.merrowgate.Quillard.Error" for a failure of no kind of its own.
std::string FailureName(TFailureKind Kind);

// The longest texts a client can hand over, in bytes as the bus carries them
// (UTF-8). A longer text is refused whole, never cut: the member fails with a
// message saying so, LastErrorMessage keeps it, and nothing changes.
inline constexpr size_t MaxReportTextBytes = 4 * 1024 * 1024;  // LoadReport's report
inline constexpr size_t MaxFileNameBytes = 8192;               // LoadFile's, SaveAsPDF's name or address
inline constexpr size_t MaxTitleBytes = 1024;                  // PrintTitle; LastErrorMessage (ignored)
inline constexpr size_t MaxSpanTextBytes = 65536;              // a span's Text (ignored)
inline constexpr size_t MaxNameBytes = 255;                    // interface and property names, other texts
// The largest report LoadReportFd takes from its file descriptor.
inline constexpr long long MaxReportFdBytes = 1LL << 30;

// The refusal of a text of Size bytes for What ("PrintTitle") over Limit.
std::string OverLimitMessage(const std::string& What, size_t Size, size_t Limit);

// The smallest window frame a client can ask for (a smaller screen's
// working area is the window's least): the tool bar and a piece of the
// page stay usable.
inline constexpr int MinWindowWidth = 320;
inline constexpr int MinWindowHeight = 240;

class TAutomationCommands {
public:
    explicit TAutomationCommands(TPreviewWindow& Window) : W(Window) {}

    void Print();
    int NumberOfCopies();
    void SetNumberOfCopies(int Value);
    std::string PrinterName();
    int PrinterIndex();
    void SetPrinterIndex(int Value);
    std::string Printers(int Index);
    std::string PrintTitle();
    void SetPrintTitle(const std::string& Value);
    void Close();
    bool Visible();
    void SetVisible(bool Value);
    int PrinterCount();
    int LoadFile(const std::string& FileName);
    int Pages();
    int CurrentPage();
    void SetCurrentPage(int Value);
    int Zoom();
    void SetZoom(int Value);
    // The window's frame. A value a client sets is kept on the screen's
    // working area (PlaceFrame): any number is taken, and the window stays
    // whole and usable.
    int Top();
    void SetTop(int Value);
    int Left();
    void SetLeft(int Value);
    int Height();
    void SetHeight(int Value);
    int Width();
    void SetWidth(int Value);
    // Scroll positions outside the scroll bars' ranges go to their ends.
    int VerticalScrollPosition();
    void SetVerticalScrollPosition(int Value);
    int HorizontalScrollPosition();
    void SetHorizontalScrollPosition(int Value);
    int PrinterPageWidth();
    int PrinterPageHeight();
    double PrinterPageWidth_IN();
    double PrinterPageHeight_IN();
    int PrinterNonPrintableX();
    int PrinterNonPrintableY();
    double PrinterNonPrintableX_IN();
    double PrinterNonPrintableY_IN();
    // Text is the report's bytes (Windows-1252). The report is not trusted
    // with this computer's files, as one fetched from a web server.
    int LoadReport(const std::string& Text);
    // The report read from the file descriptor Fd (the client's, passed
    // over the bus): a regular file whole from its start, anything else (a
    // pipe, a socket) to its end. Messages run while it is read; reading
    // fails when it has not ended within the fetch time limit, or passes
    // MaxReportFdBytes. The report is not trusted, as LoadReport's.
    int LoadReportFd(int Fd);
    // Whether LoadReportFd is reading a report now.
    static bool ReceivingReport();
    // Stops the report LoadReportFd is reading, if any: it fails.
    static void StopReceiving();
    // How much of the report LoadReportFd reads has arrived, of how much
    // (0 when unknown); false when it reads none.
    static bool ReceivedSoFar(int& Done, int& Total);
    bool CloseAfterPrint();
    void SetCloseAfterPrint(bool Value);
    bool PrintEnabled();
    void SetPrintEnabled(bool Value);
    std::string Version();
    // Path (its first 255 characters) in Folder when one is given.
    int SaveAsPDF(const std::string& Path, const std::string& Folder = {});
    std::string LastErrorMessage();
    // The error name of the failure LastErrorMessage tells of (FailureName),
    // or an empty text when it tells of none.
    std::string LastErrorName();

private:
    // Loads the report just named when the window is shown (1 or 0), else
    // leaves it to load when the window shows and gives ResultWhenWaiting.
    int LoadNamedReport(int ResultWhenWaiting);
    // Makes the temporary file Name, holding a report a client handed
    // over, the window's report.
    int TakeHandedOverReport(const std::string& Name);
    // Puts the window's frame at Left, Top with Width x Height, kept on the
    // working area of its screen: no larger than that area, no smaller than
    // MinWindowWidth x MinWindowHeight, and wholly inside it. The value the
    // client set is kept as far as the area allows: the left (top) edge
    // with KeepLeft (KeepTop), else the size, and the rest gives way.
    void PlaceFrame(long long Left, long long Top, long long Width, long long Height, bool KeepLeft, bool KeepTop);

    TPreviewWindow& W;
};

// The text of span Index of the document object.
std::string QuillardXSpanText(int Index);

}  // namespace quillard
