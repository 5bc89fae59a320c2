#include "app/printoptionswindow.h"

#include "app/qtservices.h"
#include "platform/settings.h"
#include "engine/globals.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrinter>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <iterator>

namespace quillard {

bool TPrintOptionsWindow::NoPrinterWarningShown = false;

namespace {

QLabel* NewLabel(QWidget* Parent, const char* Name, const char* Caption)
{
    auto* l = new QLabel(QString::fromLatin1(Caption), Parent);
    l->setObjectName(Name);
    return l;
}

QSpinBox* NewSpin(QWidget* Parent, const char* Name, int Value, int Max, const char* Hint)
{
    auto* s = new QSpinBox(Parent);
    s->setObjectName(Name);
    s->setRange(1, Max);
    s->setValue(Value);
    s->setToolTip(QString::fromLatin1(Hint));
    return s;
}

}  // namespace

TPrintOptionsWindow::TPrintOptionsWindow(TPrintOptionsHost* AMainWindow, QWidget* Parent) : QDialog(Parent), MainWindow(AMainWindow)
{
    setObjectName("PrintOptionsWindow");
    setWindowTitle(QStringLiteral("Quillard"));
    setModal(false);

    CurrentPrinterLabel = NewLabel(this, "Label7", "Current Printer:");
    CurrentPrinterLabel->installEventFilter(this);
    cboPrinterName = new QComboBox(this);
    cboPrinterName->setObjectName("cboPrinterName");
    cboPrinterName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboPrinterName->setMinimumContentsLength(16);
    CurrentPrinterLabel->setBuddy(cboPrinterName);
    lblPrintername = NewLabel(this, "lblPrintername", "Printer:Printer");
    lblPrintername->hide();

    FixedFontLabel = NewLabel(this, "label1", "Fixed Width Font:");
    PickCPIFont = new QPushButton(QStringLiteral("MS LineDraw"), this);
    PickCPIFont->setObjectName("PickCPIFont");
    PropFontLabel = NewLabel(this, "PropFontLabel", "Proportional Font:");
    PickPropFont = new QPushButton(QStringLiteral("Times New Roman"), this);
    PickPropFont->setObjectName("PickPropFont");
    FontNoteLabel = NewLabel(this, "Label9",
                      "( Note: These font selections only affect files that do not already specify specific fonts )");
    FontNoteLabel->setWordWrap(true);

    SmallSizeLabel = NewLabel(this, "Label3", "Small Size");
    spnSmall = NewSpin(this, "spnSmall", 7, 61, "17 Character Per Inch Font Size");
    MediumSizeLabel = NewLabel(this, "Label4", "Medium Size");
    spnMedium = NewSpin(this, "spnMedium", 10, 61, "12 Character Per Inch Font Size");
    LargeSizeLabel = NewLabel(this, "Label5", "Large Size");
    spnLarge = NewSpin(this, "spnLarge", 12, 61, "10 Character Per Inch Font Size");
    CopiesLabel = NewLabel(this, "Label6", "# Copies");
    spnCopies = NewSpin(this, "spnCopies", 1, 999, "Number of Copies to Print");

    for (auto [label, spin] : {std::pair<QLabel*, QSpinBox*>{SmallSizeLabel, spnSmall},
                               {MediumSizeLabel, spnMedium},
                               {LargeSizeLabel, spnLarge},
                               {CopiesLabel, spnCopies}})
        label->setBuddy(spin);
    chkMono = new QCheckBox(QStringLiteral("Monochrome"), this);
    chkMono->setObjectName("chkMono");
    chkUseLineDraw = new QCheckBox(QStringLiteral("Use \"MS LineDraw\" font for Lines"), this);
    chkUseLineDraw->setObjectName("chkUseLineDraw");

    // Not in use: kept hidden.
    LineStyleLabel = NewLabel(this, "Label8", "Line Style");
    LineStyleLabel->hide();
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    for (const char* s : {"Font", "Single Line", "Double Line", "Curved Single", "Dotted", "Wiggly"})
        ComboBox1->addItem(QString::fromLatin1(s));
    ComboBox1->hide();

    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setDefault(true);
    Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    Cancel->setObjectName("Cancel");
    Cancel->setAutoDefault(false);
    prtSetup = new QPushButton(QStringLiteral("Printer &Setup..."), this);
    prtSetup->setObjectName("prtSetup");
    prtSetup->setAutoDefault(false);

    // The printer on top; below it the fonts on the left with the
    // monochrome switch beside them; the note, the sizes and the line-draw
    // switch on the left with the buttons in a column on the right.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->addWidget(CurrentPrinterLabel, 0, 0);
    grid->addWidget(cboPrinterName, 0, 1, 1, 2);
    grid->addWidget(lblPrintername, 1, 1, 1, 2);
    grid->addWidget(FixedFontLabel, 2, 0);
    grid->addWidget(PickCPIFont, 2, 1);
    grid->addWidget(chkMono, 2, 2, Qt::AlignLeft);
    grid->addWidget(PropFontLabel, 3, 0);
    grid->addWidget(PickPropFont, 3, 1);
    auto* lineStyle = new QHBoxLayout;
    lineStyle->addWidget(LineStyleLabel);
    lineStyle->addWidget(ComboBox1, 1);
    grid->addLayout(lineStyle, 3, 2);

    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    left->addWidget(FontNoteLabel);
    auto* sizes = new QGridLayout;
    sizes->setHorizontalSpacing(8);
    sizes->setVerticalSpacing(0);
    const std::pair<QLabel*, QSpinBox*> columns[] = {
        {SmallSizeLabel, spnSmall}, {MediumSizeLabel, spnMedium}, {LargeSizeLabel, spnLarge}, {CopiesLabel, spnCopies}};
    int column = 0;
    for (const auto& [label, spin] : columns) {
        sizes->addWidget(label, 0, column);
        sizes->addWidget(spin, 1, column++);
    }
    sizes->setColumnStretch(column, 1);
    left->addLayout(sizes);
    left->addWidget(chkUseLineDraw);
    left->addStretch(1);
    grid->addLayout(left, 4, 0, 1, 2);

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    right->addStretch(1);
    for (QPushButton* b : {cmdOk, Cancel})
        right->addWidget(b, 0, Qt::AlignRight);
    right->addWidget(prtSetup, 0, Qt::AlignRight);
    grid->addLayout(right, 4, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(4, 1);

    connect(cmdOk, &QPushButton::clicked, this, &TPrintOptionsWindow::cmdOkClick);
    connect(Cancel, &QPushButton::clicked, this, &TPrintOptionsWindow::CancelClick);
    connect(PickCPIFont, &QPushButton::clicked, this, &TPrintOptionsWindow::PickCPIFontClick);
    connect(PickPropFont, &QPushButton::clicked, this, &TPrintOptionsWindow::PickPropFontClick);
    connect(prtSetup, &QPushButton::clicked, this, &TPrintOptionsWindow::prtSetupClick);
    connect(cboPrinterName, &QComboBox::activated, this, [this](int) { cboPrinterNameChange(); });

    // At its natural size, centred on the screen.
    resize(sizeHint().expandedTo(QSize(422, 210)));
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
    // What Cancel goes back to.
    FShown = TShownValues{spnSmall->value(), spnMedium->value(), spnLarge->value(), spnCopies->value(),
                          chkMono->isChecked(), DialogRange,  DialogFrom,          DialogTo,
                          DialogCopies,       DialogOptions,       DialogOptionsPrinter};
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
        // The report's paper and orientation go with it to the new printer.
        if (Renderer && !Renderer->FileName.empty())
            Renderer->ApplySetupToPrinter();
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

std::vector<std::pair<std::string, std::string>> DialogJobOptions(QPrinter& Printer)
{
    std::vector<std::pair<std::string, std::string>> options;
    switch (Printer.duplex()) {
    case QPrinter::DuplexNone:
        options.emplace_back("sides", "one-sided");
        break;
    case QPrinter::DuplexLongSide:
        options.emplace_back("sides", "two-sided-long-edge");
        break;
    case QPrinter::DuplexShortSide:
        options.emplace_back("sides", "two-sided-short-edge");
        break;
    case QPrinter::DuplexAuto:
        break;  // the printer's own choice
    }
    // The CUPS options the dialog keeps on the printer's engine (its pages
    // page and the driver's options page), name and value by turns.
    constexpr auto CupsOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);
    const QStringList cups = Printer.printEngine() ? Printer.printEngine()->property(CupsOptions).toStringList()
                                                    : QStringList();
    static const char* const ours[] = {"PageSize", "PageRegion", "media",  "orientation-requested",
                                       "landscape", "copies",    "page-ranges", "sides", "Duplex"};
    for (qsizetype i = 0; i + 1 < cups.size(); i += 2) {
        const std::string name = cups[i].toStdString();
        if (name.empty() || std::any_of(std::begin(ours), std::end(ours), [&](const char* o) { return name == o; }))
            continue;
        options.emplace_back(name, cups[i + 1].toStdString());
    }
    return options;
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
            // The count the preview made: a report counted once is not
            // counted again for the dialog.
            const int pages = MainWindow->KnownPageCount();
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
        // The dialog sets the job up; the Print button of the preview or
        // of the automation prints. Its button says so.
        dialog.setWindowTitle(QStringLiteral("Printer Setup"));
        if (auto* buttons = dialog.findChild<QDialogButtonBox*>())
            if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
                ok->setText(QStringLiteral("&OK"));
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
            DialogOptions = DialogJobOptions(printer);
            DialogOptionsPrinter = PathFromQ(printer.printerName());
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
    FShown.reset();
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
        // The dialog's choices are for the printer they were made on.
        const std::vector<std::string> names = p.Printers();
        const int current = p.PrinterIndex();
        if (current < 0 || current >= static_cast<int>(names.size()) ||
            names[static_cast<size_t>(current)] != DialogOptionsPrinter) {
            DialogOptions.clear();
            DialogOptionsPrinter.clear();
        }
        p.SetDialogOptions(DialogOptions);
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
    // Values changed and then cancelled do not come back next time.
    if (FShown) {
        const QSignalBlocker small(spnSmall), medium(spnMedium), large(spnLarge), copies(spnCopies), mono(chkMono);
        spnSmall->setValue(FShown->Small);
        spnMedium->setValue(FShown->Medium);
        spnLarge->setValue(FShown->Large);
        spnCopies->setValue(FShown->Copies);
        chkMono->setChecked(FShown->Mono);
        DialogRange = FShown->DialogRange;
        DialogFrom = FShown->DialogFrom;
        DialogTo = FShown->DialogTo;
        DialogCopies = FShown->DialogCopies;
        DialogOptions = FShown->DialogOptions;
        DialogOptionsPrinter = FShown->DialogOptionsPrinter;
        FShown.reset();
    }
    hide();
    if (MainWindow)
        MainWindow->PrintOptionsLeft();
}

void TPrintOptionsWindow::reject() { CancelClick(); }

int TPrintOptionsWindow::Copies() const { return spnCopies->value(); }

void TPrintOptionsWindow::SetCopies(int Value) { spnCopies->setValue(Value); }

}  // namespace quillard
