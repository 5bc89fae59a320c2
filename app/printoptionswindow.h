// The print options window ("Print &Setup..." of the preview): the printer,
// the two default fonts and the three default sizes for reports that name
// none, monochrome, copies, the line-drawing font, and the system's print
// dialog for the page range. OK hands the choices to the renderer and
// redraws the preview; printing itself is the preview's.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QPrinter;

namespace quillard {

class tRenderer;

// What the print options window asks of the preview it belongs to.
class TPrintOptionsHost {
public:
    virtual ~TPrintOptionsHost() = default;
    // The report's page count, for the print dialog's page range.
    virtual int CountPages() = 0;
    // The same without a pass when the report's pages were counted already.
    virtual int KnownPageCount() { return CountPages(); }
    // The options were taken: the preview takes the paper again, shows and
    // draws the page.
    virtual void PrintOptionsTaken() = 0;
    // The options were left as they were: the preview shows.
    virtual void PrintOptionsLeft() = 0;
};

// The job options a print dialog was left with on Printer: two-sided
// printing, and what the dialog's pages and the driver's options set (pages
// per sheet, odd or even pages, media type, quality, finishing ...). The
// paper, orientation, copies and page range are not among them: the report
// and the window see to those.
std::vector<std::pair<std::string, std::string>> DialogJobOptions(QPrinter& Printer);

class TPrintOptionsWindow : public QDialog {
    Q_OBJECT
public:
    explicit TPrintOptionsWindow(TPrintOptionsHost* MainWindow, QWidget* Parent = nullptr);

    void FormCreate();
    void FormActivate();
    void cmdOkClick();
    void CancelClick();
    void PickCPIFontClick();
    void PickPropFontClick();
    void prtSetupClick();
    void cboPrinterNameChange();
    void CurrentPrinterLabelClick();

    // The number of copies asked for (1 to 99).
    int Copies() const;
    void SetCopies(int Value);

    // The renderer of the main window (handed over at start-up; not owned).
    tRenderer* Renderer = nullptr;
    TPrintOptionsHost* MainWindow = nullptr;

    // What the print dialog (object name "PrintDialog1") holds between its runs: the range
    // kind (0 all pages, 1 selection, 2 pages), the range and the copies.
    int DialogRange = 0;
    int DialogFrom = 0, DialogTo = 0;
    int DialogCopies = 1;
    int DialogMinPage = 0, DialogMaxPage = 0;
    bool DialogPageNumbers = false;
    // The other job options it was left with (DialogJobOptions), for OK to
    // hand to the printer.
    std::vector<std::pair<std::string, std::string>> DialogOptions;
    std::string DialogOptionsPrinter;  // the printer they were chosen for

    // The "No Printers Installed" warning has been shown in this process.
    static bool NoPrinterWarningShown;

    // ---- components -----------------------------------------------------
    QLabel* CurrentPrinterLabel = nullptr;
    QComboBox* cboPrinterName = nullptr;
    QLabel* lblPrintername = nullptr;
    QLabel *FixedFontLabel = nullptr, *PropFontLabel = nullptr, *FontNoteLabel = nullptr;
    QPushButton *PickCPIFont = nullptr, *PickPropFont = nullptr;
    QLabel *SmallSizeLabel = nullptr, *MediumSizeLabel = nullptr, *LargeSizeLabel = nullptr, *CopiesLabel = nullptr, *LineStyleLabel = nullptr;
    QSpinBox *spnSmall = nullptr, *spnMedium = nullptr, *spnLarge = nullptr, *spnCopies = nullptr;
    QCheckBox* chkMono = nullptr;
    QCheckBox* chkUseLineDraw = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton *cmdOk = nullptr, *Cancel = nullptr, *prtSetup = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void reject() override;

private:
    // Fills the printer list and selects the current printer (the first
    // entry when that fails); throws on failure of the printer system.
    void FillPrinters();
    void SelectCurrentPrinter();
    void ShowPrinterName();
    // The font dialog on Button's font; true and Name set on OK.
    bool PickFont(QPushButton* Button, std::string& Name);

    // The values shown when the window opened, for Cancel.
    struct TShownValues {
        int Small, Medium, Large, Copies;
        bool Mono;
        int DialogRange, DialogFrom, DialogTo, DialogCopies;
        std::vector<std::pair<std::string, std::string>> DialogOptions;
        std::string DialogOptionsPrinter;
    };
    std::optional<TShownValues> FShown;
};

}  // namespace quillard
