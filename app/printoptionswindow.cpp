#include "app/printoptionswindow.h"

#include "app/qtservices.h"
#include "platform/settings.h"
#include "engine/globals.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QShowEvent>
#include <exception>

namespace quillard {

bool TPrintOptionsWindow::NoPrinterWarningShown = false;

namespace {

QLabel* NewLabel(QWidget* Parent, const char* Name, const char* Caption, int X, int Y, int W = 120, int H = 18)
{
    auto* l = new QLabel(QString::fromLatin1(Caption), Parent);
    l->setObjectName(Name);
    l->setGeometry(X, Y, W, H);
    return l;
}

QSpinBox* NewSpin(QWidget* Parent, const char* Name, int Value, int Max, const char* Hint, int X, int Y)
{
    auto* s = new QSpinBox(Parent);
    s->setObjectName(Name);
    s->setRange(1, Max);
    s->setValue(Value);
    s->setToolTip(QString::fromLatin1(Hint));
    s->setGeometry(X, Y, 56, 22);
    return s;
}

}  // namespace

TPrintOptionsWindow::TPrintOptionsWindow(TPrintOptionsHost* AMainWindow, QWidget* Parent) : QDialog(Parent), MainWindow(AMainWindow)
{
    setObjectName("PrintOptionsWindow");
    setWindowTitle(QStringLiteral("Quillard"));
    setFixedSize(422, 210);
    setModal(false);

    CurrentPrinterLabel = NewLabel(this, "Label7", "Current Printer:", 8, 10, 90);
    CurrentPrinterLabel->installEventFilter(this);
    cboPrinterName = new QComboBox(this);
    cboPrinterName->setObjectName("cboPrinterName");
    cboPrinterName->setGeometry(100, 6, 314, 24);
    lblPrintername = NewLabel(this, "lblPrintername", "Printer:Printer", 100, 30, 314);
    lblPrintername->hide();

    FixedFontLabel = NewLabel(this, "label1", "Fixed Width Font:", 8, 52, 110);
    PickCPIFont = new QPushButton(QStringLiteral("MS LineDraw"), this);
    PickCPIFont->setObjectName("PickCPIFont");
    PickCPIFont->setGeometry(120, 48, 150, 24);
    PropFontLabel = NewLabel(this, "Label2", "Proportional Font:", 8, 80, 110);
    PickPropFont = new QPushButton(QStringLiteral("Times New Roman"), this);
    PickPropFont->setObjectName("PickPropFont");
    PickPropFont->setGeometry(120, 76, 150, 24);
    FontNoteLabel = NewLabel(this, "Label9",
                      "( Note: These font selections only affect files that do not already specify specific fonts )",
                      8, 104, 406, 30);
    FontNoteLabel->setWordWrap(true);

    SmallSizeLabel = NewLabel(this, "Label3", "Small Size", 8, 140, 70);
    spnSmall = NewSpin(this, "spnSmall", 7, 61, "17 Character Per Inch Font Size", 8, 156);
    MediumSizeLabel = NewLabel(this, "Label4", "Medium Size", 72, 140, 70);
    spnMedium = NewSpin(this, "spnMedium", 10, 61, "12 Character Per Inch Font Size", 72, 156);
    LargeSizeLabel = NewLabel(this, "Label5", "Large Size", 136, 140, 70);
    spnLarge = NewSpin(this, "spnLarge", 12, 61, "10 Character Per Inch Font Size", 136, 156);
    CopiesLabel = NewLabel(this, "Label6", "# Copies", 200, 140, 60);
    spnCopies = NewSpin(this, "spnCopies", 1, 999, "Number of Copies to Print", 200, 156);

    chkMono = new QCheckBox(QStringLiteral("Monochrome"), this);
    chkMono->setObjectName("chkMono");
    chkMono->setGeometry(280, 48, 130, 20);
    chkUseLineDraw = new QCheckBox(QStringLiteral("Use \"MS LineDraw\" font for Lines"), this);
    chkUseLineDraw->setObjectName("chkUseLineDraw");
    chkUseLineDraw->setGeometry(8, 184, 250, 20);

    // Not in use: kept hidden.
    LineStyleLabel = NewLabel(this, "Label8", "Line Style", 280, 72, 80);
    LineStyleLabel->hide();
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    for (const char* s : {"Font", "Single Line", "Double Line", "Curved Single", "Dotted", "Wiggly"})
        ComboBox1->addItem(QString::fromLatin1(s));
    ComboBox1->hide();

    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setGeometry(334, 112, 80, 26);
    cmdOk->setDefault(true);
    Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    Cancel->setObjectName("Cancel");
    Cancel->setGeometry(334, 144, 80, 26);
    Cancel->setAutoDefault(false);
    prtSetup = new QPushButton(QStringLiteral("Printer &Setup..."), this);
    prtSetup->setObjectName("prtSetup");
    prtSetup->setGeometry(280, 176, 134, 26);
    prtSetup->setAutoDefault(false);

    connect(cmdOk, &QPushButton::clicked, this, &TPrintOptionsWindow::cmdOkClick);
    connect(Cancel, &QPushButton::clicked, this, &TPrintOptionsWindow::CancelClick);
    connect(PickCPIFont, &QPushButton::clicked, this, &TPrintOptionsWindow::PickCPIFontClick);
    connect(PickPropFont, &QPushButton::clicked, this, &TPrintOptionsWindow::PickPropFontClick);
    connect(prtSetup, &QPushButton::clicked, this, &TPrintOptionsWindow::prtSetupClick);
    connect(cboPrinterName, &QComboBox::activated, this, [this](int) { cboPrinterNameChange(); });

    // Centred on the screen.
    if (QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());

    FormCreate();
}

bool TPrintOptionsWindow::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == CurrentPrinterLabel && Event->type() == QEvent::MouseButtonPress)
        CurrentPrinterLabelClick();
    return QDialog::eventFilter(Watched, Event);
}

void TPrintOptionsWindow::FormCreate()
{
    TPrinterLayer& p = Printer();
    if (p.Count() > 0) {
        try {
            p.SetPrinterIndex(-1);
        } catch (const std::exception& e) {
            ShowMessage(e.what(), "Error Selecting Default Printer");
            try {
                p.SetPrinterIndex(0);
            } catch (const std::exception&) {
            }
        }
        ProcessMessages();
        try {
            FillPrinters();
            if (p.CanCopies())
                DialogCopies = 1;
        } catch (const std::exception&) {
            cboPrinterName->setCurrentIndex(0);
            return;
        }
    } else if (!NoPrinterWarningShown) {
        NoPrinterWarningShown = true;
        ShowMessage("Quillard could not find any installed printers\r\nPrint Preview may not be stable",
                    "No Printers Installed");
    }
}

void TPrintOptionsWindow::FillPrinters()
{
    const QSignalBlocker block(cboPrinterName);
    cboPrinterName->clear();
    for (const std::string& n : Printer().Printers())
        cboPrinterName->addItem(FromBytes(n));
    SelectCurrentPrinter();
}

void TPrintOptionsWindow::SelectCurrentPrinter()
{
    const QSignalBlocker block(cboPrinterName);
    const int i = Printer().PrinterIndex();
    cboPrinterName->setCurrentIndex(i >= 0 && i < cboPrinterName->count() ? i : (cboPrinterName->count() ? 0 : -1));
}

void TPrintOptionsWindow::ShowPrinterName()
{
    const std::vector<std::string> names = Printer().Printers();
    const int i = Printer().PrinterIndex();
    const std::string current = i >= 0 && i < static_cast<int>(names.size()) ? names[i] : std::string();
    lblPrintername->setText(cboPrinterName->currentText() + QStringLiteral(":") + FromBytes(current));
}

void TPrintOptionsWindow::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    FormActivate();
}

void TPrintOptionsWindow::FormActivate()
{
    try {
        Printer().Refresh();
        FillPrinters();
    } catch (const std::exception&) {
        cboPrinterName->setCurrentIndex(cboPrinterName->count() ? 0 : -1);
    }
    chkUseLineDraw->setChecked(Globals().UseLineDrawFont);
    ShowPrinterName();
}

void TPrintOptionsWindow::cboPrinterNameChange()
{
    try {
        Printer().SetPrinterIndex(cboPrinterName->currentIndex());
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Selecting Printer");
        SelectCurrentPrinter();
    }
    ShowPrinterName();
}

void TPrintOptionsWindow::CurrentPrinterLabelClick() { lblPrintername->setVisible(lblPrintername->isHidden()); }

bool TPrintOptionsWindow::PickFont(QPushButton* Button, std::string& Name)
{
    // Scalable fonts the printer can use; the size is the report's.
    QFontDialog dialog(QFont(FromBytes(Name)), this);
    dialog.setObjectName("FontDialog1");
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    dialog.setOption(QFontDialog::ScalableFonts);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString family = dialog.selectedFont().family();
    Button->setText(family);
    QFont f = Button->font();
    f.setFamily(family);
    Button->setFont(f);
    Name = family.toStdString();
    return true;
}

void TPrintOptionsWindow::PickCPIFontClick()
{
    if (!Renderer)
        return;
    try {
        PickFont(PickCPIFont, Renderer->Setup.FixedFontName);
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Getting CPI Font");
    }
}

void TPrintOptionsWindow::PickPropFontClick()
{
    if (!Renderer)
        return;
    PickFont(PickPropFont, Renderer->Setup.PropFontName);
}

void TPrintOptionsWindow::prtSetupClick()
{
    prtSetup->setEnabled(false);
    struct TEnable {
        QPushButton* B;
        ~TEnable() { B->setEnabled(true); }
    } enable{prtSetup};
    TPrinterLayer& p = Printer();

    auto cannotOpen = [](const std::string& Why) {
        ShowMessage("Error opening printer setup dialog box:\r\n" + Why, "Cannot Open Printer Setup");
    };
    try {
        if (p.CanCopies()) {
            try {
                DialogCopies = std::max(1, spnCopies->value());
            } catch (const std::exception& e) {
                ShowMessage("Error setting number of copies:\r\n" + std::string(e.what()), "Error");
            }
        } else if (spnCopies->value() > 1) {
            ShowMessage("Printer does not support Multiple Copies", "Error");
        }
    } catch (const std::exception& e) {
        cannotOpen(e.what());
        return;
    }
    if (Renderer && MainWindow) {
        try {
            const int pages = MainWindow->CountPages();
            DialogPageNumbers = true;
            DialogMinPage = 1;
            DialogMaxPage = std::max(1, pages);
            DialogFrom = 1;
            DialogTo = std::max(1, pages);
            DialogRange = 0;
        } catch (const std::exception& e) {
            cannotOpen(e.what());
            return;
        }
    } else {
        DialogPageNumbers = false;
    }

    try {
        const std::vector<std::string> names = p.Printers();
        const int current = p.PrinterIndex();
        QPrinter printer(QPrinter::ScreenResolution);
        if (current >= 0 && current < static_cast<int>(names.size()))
            printer.setPrinterName(FromBytes(names[current]));
        printer.setCopyCount(DialogCopies);
        printer.setFromTo(DialogFrom, DialogTo);
        printer.setPrintRange(QPrinter::AllPages);
        QPrintDialog dialog(&printer, this);
        dialog.setObjectName("PrintDialog1");
        QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintToFile;
        if (DialogPageNumbers) {
            options |= QAbstractPrintDialog::PrintPageRange;
            dialog.setMinMax(DialogMinPage, DialogMaxPage);
        }
        dialog.setOptions(options);
        if (dialog.exec() == QDialog::Accepted) {
            // The dialog's choices stay for OK.
            switch (printer.printRange()) {
            case QPrinter::AllPages:
                DialogRange = 0;
                break;
            case QPrinter::Selection:
                DialogRange = 1;
                break;
            default:
                DialogRange = 2;
                break;
            }
            DialogFrom = printer.fromPage();
            DialogTo = printer.toPage();
            DialogCopies = std::max(1, printer.copyCount());
            // A printer chosen in the dialog becomes the current one.
            const std::string chosen = PathFromQ(printer.printerName());
            for (size_t k = 0; k < names.size(); ++k)
                if (names[k] == chosen && static_cast<int>(k) != current)
                    p.SetPrinterIndex(static_cast<int>(k));
        }
        p.Refresh();
        FillPrinters();
        // A printer without copies of its own keeps the count for the
        // renderer, which prints the copies one by one.
        if (p.CanCopies())
            spnCopies->setValue(DialogCopies);
        SelectCurrentPrinter();
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Changing Printer Settings");
        SelectCurrentPrinter();
    }
    ShowPrinterName();
}

void TPrintOptionsWindow::cmdOkClick()
{
    TPrinterLayer& p = Printer();
    try {
        if (Renderer) {
            Renderer->Job.UsePageRange = static_cast<uint8_t>(DialogRange);
            Renderer->Job.RangeFrom = DialogFrom;
            Renderer->Job.RangeTo = DialogTo;
            Renderer->Job.Copies = spnCopies->value();
            Renderer->Setup.ColourMode = !chkMono->isChecked();
            if (p.CanOrientation())
                Renderer->Setup.Orientation = static_cast<uint8_t>(p.Orientation());
            Renderer->Setup.Cpi17Size = static_cast<uint8_t>(spnSmall->value());
            Renderer->Setup.Cpi12Size = static_cast<uint8_t>(spnMedium->value());
            Renderer->Setup.Cpi10Size = static_cast<uint8_t>(spnLarge->value());
        }
        // A box left as it was shown leaves a report's own choice alone.
        if (Globals().LineDrawChosen || chkUseLineDraw->isChecked() != Globals().UseLineDrawFont) {
            Globals().UseLineDrawFont = chkUseLineDraw->isChecked();
            Globals().LineDrawChosen = true;
            WriteUserSetting("Use MS LineDraw Font", Globals().UseLineDrawFont ? "Yes" : "No");
        }
        if (p.CanCopies() && spnCopies->value() != p.Copies())
            p.SetCopies(spnCopies->value());
    } catch (const std::exception& e) {
        ShowMessage(e.what(), "Error Setting Options");
    }
    hide();
    if (Renderer)
        Renderer->GetCapacities();
    if (MainWindow)
        MainWindow->PrintOptionsTaken();
}

void TPrintOptionsWindow::CancelClick()
{
    hide();
    if (MainWindow)
        MainWindow->PrintOptionsLeft();
}

void TPrintOptionsWindow::reject() { CancelClick(); }

int TPrintOptionsWindow::Copies() const { return spnCopies->value(); }

void TPrintOptionsWindow::SetCopies(int Value) { spnCopies->setValue(Value); }

}  // namespace quillard
