// The automation interface IQuillardX: what a client can ask of the one main
// window of the process and of its print options window. Every member acts on
// that window; the object itself holds nothing. A failure that no member
// handles is thrown as TAutomationError and reaches the client as an error
// carrying its message.
#pragma once

#include <stdexcept>
#include <string>

namespace quillard {

class TfrmPreviewer;

class TAutomationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TQuillardX {
public:
    explicit TQuillardX(TfrmPreviewer& Window) : W(Window) {}

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
    int Top();
    void SetTop(int Value);
    int Left();
    void SetLeft(int Value);
    int Height();
    void SetHeight(int Value);
    int Width();
    void SetWidth(int Value);
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
    // Text is the report's bytes (Windows-1252).
    int LoadReport(const std::string& Text);
    bool CloseAfterPrint();
    void SetCloseAfterPrint(bool Value);
    bool PrintEnabled();
    void SetPrintEnabled(bool Value);
    std::string Version();
    int SaveAsPDF(const std::string& Path);
    std::string LastErrorMessage();

private:
    TfrmPreviewer& W;
};

// The text of span Index of the document object.
std::string QuillardXSpanText(int Index);

}  // namespace quillard
