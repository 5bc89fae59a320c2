#include "app/edittextwindow.h"

#include "app/qtservices.h"
#include "base/bytefile.h"
#include "engine/fileeditor.h"
#include "engine/renderer.h"
#include "engine/services.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace quillard {

namespace {
const char* const EditCaption = "Edit User Added Objects";
}

TEditTextWindow::TEditTextWindow(QWidget* Parent) : QDialog(Parent)
{
    setObjectName("EditTextWindow");
    setWindowTitle(QString::fromLatin1(EditCaption));

    auto* lblObjects = new QLabel(QStringLiteral("Text Objects:"), this);
    lstObjects = new QListWidget(this);
    lstObjects->setObjectName("lstObjects");
    lblObjects->setBuddy(lstObjects);
    SetListRoom(lstObjects, 22, 8);
    cmdDel = new QPushButton(QStringLiteral("Delete"), this);
    cmdDel->setObjectName("cmdDel");
    cmdDel->setAutoDefault(false);

    txtTextToAdd = new QLineEdit(this);
    txtTextToAdd->setObjectName("txtTextToAdd");
    txtTextToAdd->setAccessibleName(QStringLiteral("Text"));
    auto* lblX = new QLabel(QStringLiteral("( Location   --   X:"), this);
    txtX = new QLineEdit(this);
    txtX->setObjectName("txtX");
    auto* lblY = new QLabel(QStringLiteral("Y:"), this);
    txtY = new QLineEdit(this);
    txtY->setObjectName("txtY");
    txtX->setAccessibleName(QStringLiteral("Location X, inches"));
    txtY->setAccessibleName(QStringLiteral("Location Y, inches"));
    // A location is a few digits of inches: the boxes stay that wide.
    for (QLineEdit* e : {txtX, txtY})
        e->setFixedWidth(e->fontMetrics().averageCharWidth() * 11);

    QGridLayout* styles = Controls.Create(this);

    cmdApply = new QPushButton(QStringLiteral("&Apply"), this);
    cmdApply->setObjectName("cmdApply");
    cmdApply->setEnabled(false);
    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->setAutoDefault(false);

    // The list of items under its label on the left with Delete below it;
    // on the right the text, its location and the style controls, with
    // Apply, OK and Cancel at the bottom right. The lists and the text take
    // the spare room, the right side three times as much width as the list.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 8, 12, 16);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(6);
    grid->addWidget(lblObjects, 0, 0);
    grid->addWidget(lstObjects, 1, 0, 3, 1);
    grid->addWidget(txtTextToAdd, 1, 1);
    auto* location = new QHBoxLayout;
    location->setSpacing(6);
    location->addWidget(lblX);
    location->addWidget(txtX);
    location->addSpacing(2);
    location->addWidget(lblY);
    location->addWidget(txtY);
    location->addStretch(1);
    grid->addLayout(location, 2, 1);
    grid->addLayout(styles, 3, 1);
    grid->addWidget(cmdDel, 4, 0, Qt::AlignLeft);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch(1);
    for (QPushButton* b : {cmdApply, cmdOk, cmdCancel})
        buttons->addWidget(b);
    grid->addLayout(buttons, 4, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 3);
    grid->setRowStretch(3, 1);
    resize(QSize(560, 360).expandedTo(sizeHint()));

    connect(lstObjects, &QListWidget::itemClicked, this, &TEditTextWindow::lstObjectsChange);
    connect(lstObjects, &QListWidget::itemDoubleClicked, this, &TEditTextWindow::lstObjectsChange);
    connect(lstObjects, &QListWidget::currentRowChanged, this, [this] {
        if (!FFilling)
            lstObjectsChange();
    });
    lstObjects->installEventFilter(this);
    connect(cmdDel, &QPushButton::clicked, this, &TEditTextWindow::cmdDelClick);
    connect(cmdApply, &QPushButton::clicked, this, &TEditTextWindow::cmdApplyClick);
    connect(cmdOk, &QPushButton::clicked, this, &TEditTextWindow::cmdOkClick);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::accept);
    connect(Controls.cmdColor, &QPushButton::clicked, this, &TEditTextWindow::cmdColorClick);
    connect(Controls.sbRotate, &QScrollBar::valueChanged, this, &TEditTextWindow::sbRotateChange);

    // Whatever the user changes makes Apply the default.
    auto changed = [this] {
        if (!FFilling)
            EnableApply();
    };
    connect(txtTextToAdd, &QLineEdit::textEdited, this, changed);
    connect(txtX, &QLineEdit::textEdited, this, changed);
    connect(txtY, &QLineEdit::textEdited, this, changed);
    connect(Controls.lstFont, &QListWidget::itemClicked, this, changed);
    connect(Controls.lstFont, &QListWidget::currentRowChanged, this, changed);
    connect(Controls.lstSize, &QListWidget::itemClicked, this, changed);
    connect(Controls.lstSize, &QListWidget::currentRowChanged, this, changed);
    for (QCheckBox* c : {Controls.chkBold, Controls.chkItalic, Controls.chkUnderline})
        connect(c, &QCheckBox::toggled, this, changed);
}

int TEditTextWindow::ShowModal() { return exec(); }

void TEditTextWindow::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    FormShow();
}

void TEditTextWindow::reject() { accept(); }

bool TEditTextWindow::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == lstObjects && Event->type() == QEvent::FocusIn)
        lstObjectsEnter();
    return QDialog::eventFilter(Watched, Event);
}

void TEditTextWindow::FormShow()
{
    LastIndex = 999;
    DisableEdit();
    LoadAutoTextSpans();
}

void TEditTextWindow::LoadAutoTextSpans()
{
    FFilling = true;
    Items.clear();
    lstObjects->clear();
    LastIndex = 999;
    FFilling = false;
    setWindowTitle(QString::fromLatin1(EditCaption));
    if (!Renderer)
        return;

    const std::string name = Renderer->FileName;
    TByteFile file;
    try {
        file.Open(name);
    } catch (const std::exception& e) {
        ShowMessage("Error Opening File \"" + name + "\"\r\n" + e.what(), "Error Editing Text");
        return;
    }
    std::string text;
    try {
        char block[64 * 1024];
        while (size_t n = file.Read(block, sizeof block))
            text.append(block, n);
    } catch (const std::exception&) {
        file.Close();
        ShowMessage("Error Reading File \"" + name + "\"", "Error Editing Text");
        return;
    }
    file.Close();
    ReportText = std::move(text);

    int errors = 0;
    Items = ReadAutoTextSpans(*Renderer, ReportText, errors);
    if (errors > 0)
        setWindowTitle(QString::fromLatin1(EditCaption) + QStringLiteral("  (There were some errors loading the text)"));
    FFilling = true;
    for (const auto& item : Items)
        lstObjects->addItem(TextOfReport(ListEntryText(item.DisplayText), Renderer));
    lstObjects->setCurrentRow(-1);
    FFilling = false;
}

const tAddTextSpanCollectionItem* TEditTextWindow::Selected() const
{
    const int i = lstObjects->currentRow();
    return i >= 0 && i < static_cast<int>(Items.size()) ? &Items[static_cast<size_t>(i)] : nullptr;
}

void TEditTextWindow::lstObjectsChange()
{
    const int index = lstObjects->currentRow();
    if (index == LastIndex)
        return;
    LastIndex = index;
    const tAddTextSpanCollectionItem* item = Selected();
    if (!item) {
        DisableEdit();
        return;
    }
    FFilling = true;
    txtX->setText(QString::fromStdString(GeneralNumber(item->PosX)));
    txtY->setText(QString::fromStdString(GeneralNumber(item->PosY)));
    TAutoTextStyle style;
    style.FontName = item->FontName;
    style.FontSize = item->FontSizeOrWidth;
    style.Color = item->Color;
    style.Rotation = item->Rotation;
    style.Bold = item->Bold;
    style.Italic = item->Italic;
    style.Underline = item->Underline;
    Controls.SetStyle(style);
    txtTextToAdd->setText(TextOfReport(item->DisplayText, Renderer));
    SelectedKind = item->Kind;
    FFilling = false;
    EnableEdit();
}

void TEditTextWindow::lstObjectsEnter() { DisableEdit(); }

void TEditTextWindow::EnableEdit()
{
    const bool text = SelectedKind == "AUTOTEXT";
    for (QWidget* w : std::initializer_list<QWidget*>{txtTextToAdd, Controls.lstFont, Controls.chkBold,
                                                      Controls.chkItalic, Controls.chkUnderline, Controls.sbRotate})
        w->setEnabled(text);
    for (QWidget* w : std::initializer_list<QWidget*>{txtX, txtY, Controls.lstSize, Controls.cmdColor})
        w->setEnabled(true);
    DisableApply();
}

void TEditTextWindow::DisableEdit()
{
    for (QWidget* w : std::initializer_list<QWidget*>{txtTextToAdd, Controls.lstFont, Controls.chkBold,
                                                      Controls.chkItalic, Controls.chkUnderline, Controls.sbRotate,
                                                      txtX, txtY, Controls.lstSize, Controls.cmdColor})
        w->setEnabled(false);
    DisableApply();
}

void TEditTextWindow::EnableApply()
{
    cmdApply->setEnabled(true);
    cmdApply->setDefault(true);
    cmdOk->setDefault(false);
}

void TEditTextWindow::DisableApply()
{
    cmdApply->setEnabled(false);
    cmdApply->setDefault(false);
    cmdOk->setDefault(true);
}

void TEditTextWindow::DeleteSpanFromStr(int Position) { quillard::DeleteSpanFromStr(ReportText, Position); }

bool TEditTextWindow::WriteOutFile()
{
    if (!Renderer) {
        ShowMessage("Error Writing File \"QUILLARD.TMP\"", "Error Adding Text");
        return false;
    }
    return RewriteReport(Renderer->FileName, ReportText, "Error Adding Text");
}

void TEditTextWindow::cmdDelClick()
{
    const tAddTextSpanCollectionItem* item = Selected();
    if (!item)
        return;
    DisableEdit();
    // A span without its end is left alone, and so is the file.
    if (quillard::DeleteSpanFromStr(ReportText, item->SpanPos))
        WriteOutFile();
    LoadAutoTextSpans();
}

void TEditTextWindow::cmdApplyClick()
{
    const tAddTextSpanCollectionItem* selected = Selected();
    if (!selected)
        return;
    if (selected->Kind != "AUTOTEXT") {
        // Shapes are not rewritten from the window.
        DisableApply();
        return;
    }
    tAddTextSpanCollectionItem item = *selected;
    DisableEdit();
    bool ok = false;
    const double x = txtX->text().trimmed().toDouble(&ok);
    if (ok)
        item.PosX = x;
    const double y = txtY->text().trimmed().toDouble(&ok);
    if (ok)
        item.PosY = y;
    TAutoTextStyle style = Controls.Style();
    if (!Controls.lstFont->currentItem())
        style.FontName = item.FontName;  // a font that is not installed stays
    const std::string text = Trim(TextForReport(txtTextToAdd->text(), Renderer));
    const std::string markup = AutoTextEditMarkup(item.SpanName, style, item.PosX, item.PosY, text);
    if (quillard::DeleteSpanFromStr(ReportText, item.SpanPos)) {
        ReportText.insert(static_cast<size_t>(item.SpanPos) - 1, markup);
        WriteOutFile();
    }
    LoadAutoTextSpans();
}

void TEditTextWindow::cmdOkClick()
{
    if (cmdApply->isEnabled())
        cmdApplyClick();
    accept();
}

void TEditTextWindow::cmdColorClick()
{
    if (Controls.cmdColorClick(this))
        EnableApply();
}

void TEditTextWindow::sbRotateChange()
{
    Controls.sbRotateChange();
    if (!FFilling)
        EnableApply();
}

}  // namespace quillard
