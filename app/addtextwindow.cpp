#include "app/addtextwindow.h"

#include "app/qtservices.h"
#include "engine/renderer.h"
#include "surfaces/fontlist.h"
#include "base/textencoding.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

namespace quillard {

namespace {

// The byte of a character that Windows-1252 holds at 0x80..0x9F, or 0 (the
// five undefined codes hold no typed character).
char HighCp1252Byte(char16_t U)
{
    if (U <= 0xFF)
        return 0;
    for (int i = 0; i < 32; ++i)
        if (Cp1252High[i] == U)
            return static_cast<char>(0x80 + i);
    return 0;
}

QColor ToQColor(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

}  // namespace

std::string TextToReport(const QString& Text)
{
    std::string out;
    for (QChar ch : Text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out += static_cast<char>(u);
            continue;
        }
        const char b = HighCp1252Byte(u);
        out += b != 0 ? b : '?';
    }
    return out;
}

std::string ReportTextOf(const QString& Text)
{
    bool windows = true;
    for (QChar ch : Text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
            continue;
        if (HighCp1252Byte(u) == 0) {
            windows = false;
            break;
        }
    }
    if (windows)
        return TextToReport(Text);
    const QByteArray utf8 = Text.toUtf8();
    return std::string(utf8.constData(), size_t(utf8.size()));
}

std::string TextForReport(const QString& Text, const tRenderer* Renderer)
{
    if (!Renderer || Renderer->ReportEncoding == tRenderer::TReportEncoding::Cp1252)
        return TextToReport(Text);
    if (Renderer->ReportEncoding == tRenderer::TReportEncoding::Utf8) {
        const QByteArray utf8 = Text.toUtf8();
        return std::string(utf8.constData(), size_t(utf8.size()));
    }
    std::string out;
    for (char32_t c : Text.toUcs4()) {
        char b = '?';
        for (int v = 0; v < 256; ++v)
            if (Cp437ToUnicode(static_cast<unsigned char>(v)) == c) {
                b = static_cast<char>(v);
                break;
            }
        out += b;
    }
    return out;
}

QString TextOfReport(const std::string& Bytes, const tRenderer* Renderer)
{
    if (!Renderer || Renderer->ReportEncoding == tRenderer::TReportEncoding::Cp1252)
        return FromBytes(Bytes);
    const std::string utf8 =
        Renderer->ReportEncoding == tRenderer::TReportEncoding::Utf8 ? Bytes : Cp437ToUtf8(Bytes);
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

void SetListRoom(QListWidget* List, int Chars, int Rows)
{
    const int frame = 2 * List->frameWidth();
    const int scrollBar = List->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, List);
    const QFontMetrics metrics = List->fontMetrics();
    List->setMinimumSize(metrics.averageCharWidth() * Chars + frame + scrollBar, metrics.lineSpacing() * Rows + frame);
    List->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

QGridLayout* TTextStyleControls::Create(QWidget* Parent)
{
    lstFont = new QListWidget(Parent);
    lstFont->setObjectName("lstFont");
    lstFont->setAccessibleName(QStringLiteral("Font"));
    SetListRoom(lstFont, 24, 5);
    for (const std::string& name : SurfaceFontList())
        lstFont->addItem(FromBytes(name));
    if (lstFont->count() > 0)
        lstFont->setCurrentRow(0);

    lstSize = new QListWidget(Parent);
    lstSize->setObjectName("lstSize");
    lstSize->setAccessibleName(QStringLiteral("Size"));
    // Two digits with the item's margins; the list never widens.
    SetListRoom(lstSize, 4, 5);
    lstSize->setFixedWidth(lstSize->minimumWidth());
    for (int i = 4; i <= 72; ++i)
        lstSize->addItem(QString::number(i));
    lstSize->setCurrentRow(15);

    auto check = [&](QCheckBox*& C, const char* Name, const char* Caption) {
        C = new QCheckBox(QString::fromLatin1(Caption), Parent);
        C->setObjectName(Name);
    };
    check(chkBold, "chkBold", "&Bold");
    check(chkItalic, "chkItalic", "&Italic");
    check(chkUnderline, "chkUnderline", "&Underline");

    cmdColor = new QPushButton(QStringLiteral("Color"), Parent);
    cmdColor->setObjectName("cmdColor");
    cmdColor->setAutoDefault(false);
    shpColor = new QFrame(Parent);
    shpColor->setObjectName("shpColor");
    // A square a little lower than the button beside it.
    const int swatch = cmdColor->sizeHint().height() - 2;
    shpColor->setFixedSize(swatch, swatch);
    shpColor->setFrameShape(QFrame::Box);
    shpColor->setAutoFillBackground(true);
    ShowColor(0);

    sbRotate = new QScrollBar(Qt::Horizontal, Parent);
    sbRotate->setObjectName("sbRotate");
    sbRotate->setAccessibleName(QStringLiteral("Rotation"));
    sbRotate->setRange(0, 359);
    lblRotate = new QLabel(Parent);
    lblRotate->setObjectName("lblRotate");
    sbRotateChange();

    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(lstFont, 0, 0);
    grid->addWidget(lstSize, 0, 1);
    grid->addWidget(lblRotate, 1, 0, 1, 2);
    grid->addWidget(sbRotate, 2, 0, 1, 2);
    auto* switches = new QVBoxLayout;
    switches->setSpacing(2);
    for (QCheckBox* c : {chkBold, chkItalic, chkUnderline})
        switches->addWidget(c);
    switches->addSpacing(4);
    auto* color = new QHBoxLayout;
    color->setSpacing(4);
    color->addWidget(cmdColor);
    color->addWidget(shpColor);
    color->addStretch(1);
    switches->addLayout(color);
    switches->addStretch(1);
    grid->addLayout(switches, 0, 2, 3, 1);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 1);
    return grid;
}

void TTextStyleControls::ShowColor(COLORREF AColor)
{
    Color = AColor & 0xFFFFFF;
    QPalette p = shpColor->palette();
    p.setColor(QPalette::Window, ToQColor(Color));
    shpColor->setPalette(p);
    QPalette b = cmdColor->palette();
    b.setColor(QPalette::ButtonText, ToQColor(Color));
    cmdColor->setPalette(b);
}

TAutoTextStyle TTextStyleControls::Style() const
{
    TAutoTextStyle s;
    s.FontName = lstFont->currentItem() ? TextToReport(lstFont->currentItem()->text()) : std::string();
    s.FontSize = lstSize->currentItem() ? ParseIntPrefix(lstSize->currentItem()->text().toStdString(), 10) : 10;
    s.Color = Color;
    s.Rotation = sbRotate->value();
    s.Bold = chkBold->isChecked();
    s.Italic = chkItalic->isChecked();
    s.Underline = chkUnderline->isChecked();
    return s;
}

void TTextStyleControls::SetStyle(const TAutoTextStyle& S)
{
    const auto fonts = lstFont->findItems(FromBytes(S.FontName), Qt::MatchFixedString);
    if (fonts.isEmpty())
        lstFont->setCurrentRow(-1);
    else
        lstFont->setCurrentItem(fonts.first());
    const auto sizes = lstSize->findItems(QString::number(S.FontSize), Qt::MatchExactly);
    if (sizes.isEmpty())
        lstSize->setCurrentRow(-1);
    else
        lstSize->setCurrentItem(sizes.first());
    chkBold->setChecked(S.Bold);
    chkItalic->setChecked(S.Italic);
    chkUnderline->setChecked(S.Underline);
    ShowColor(S.Color);
    sbRotate->setValue(std::clamp(S.Rotation, 0, 359));
    sbRotateChange();
}

void TTextStyleControls::sbRotateChange()
{
    lblRotate->setText(QStringLiteral("Rotate Angle: ") + QString::number(sbRotate->value()) + QStringLiteral("deg"));
}

bool TTextStyleControls::cmdColorClick(QWidget* Owner)
{
    const QColor c = QColorDialog::getColor(ToQColor(Color), Owner);
    if (!c.isValid())
        return false;
    ShowColor(static_cast<COLORREF>(c.red() | (c.green() << 8) | (c.blue() << 16)));
    return true;
}

// ---------------------------------------------------------------------------

TAddTextWindow::TAddTextWindow(QWidget* Parent) : QDialog(Parent) { FormCreate(); }

void TAddTextWindow::FormCreate()
{
    setObjectName("AddTextWindow");
    setWindowTitle(QStringLiteral("Add Text to Report"));

    auto* lblText = new QLabel(QStringLiteral("Text:"), this);
    txtTextToAdd = new QLineEdit(this);
    txtTextToAdd->setObjectName("txtTextToAdd");
    lblText->setBuddy(txtTextToAdd);

    QGridLayout* styles = Controls.Create(this);

    lblLocation = new QLabel(this);
    lblLocation->setObjectName("lblLocation");

    cmdOk = new QPushButton(QStringLiteral("&Ok"), this);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->setAutoDefault(false);

    // The text under its label, the style controls, the location, then OK
    // and Cancel centred at the bottom. The lists take the spare room.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 10, 12, 16);
    column->setSpacing(2);
    column->addWidget(lblText);
    column->addWidget(txtTextToAdd);
    column->addSpacing(8);
    column->addLayout(styles, 1);
    column->addSpacing(6);
    column->addWidget(lblLocation);
    column->addSpacing(16);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(20);
    buttons->addStretch(1);
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    buttons->addStretch(1);
    column->addLayout(buttons);
    resize(QSize(400, 330).expandedTo(sizeHint()));

    connect(cmdOk, &QPushButton::clicked, this, &TAddTextWindow::cmdOkClick);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdColor, &QPushButton::clicked, this, &TAddTextWindow::cmdColorClick);
    connect(sbRotate, &QScrollBar::valueChanged, this, &TAddTextWindow::sbRotateChange);
}

int TAddTextWindow::ShowModal() { return exec(); }

void TAddTextWindow::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    FormShow();
}

void TAddTextWindow::FormShow()
{
    lblLocation->setText(QStringLiteral("( Location: ") + QString::fromStdString(GeneralNumber(TargetX)) +
                         QStringLiteral(", ") + QString::fromStdString(GeneralNumber(TargetY)) +
                         QStringLiteral(" )"));
    txtTextToAdd->setFocus();
}

std::string TAddTextWindow::Markup() const
{
    const int number = Renderer ? Renderer->NextAutoTextNumber : 1;
    return AutoTextMarkup(number, Controls.Style(), TargetX, TargetY, TextForReport(txtTextToAdd->text(), Renderer));
}

void TAddTextWindow::cmdOkClick()
{
    // An empty text adds nothing; the window still closes with OK.
    if (!IsBlank(TextToReport(txtTextToAdd->text())) && Renderer) {
        const std::string markup = Markup();
        // A name is used once even when writing fails half-way.
        ++Renderer->NextAutoTextNumber;
        if (AddTextToReportFile(Renderer->FileName, markup, TargetPage))
            txtTextToAdd->clear();
    }
    accept();
}

void TAddTextWindow::cmdColorClick() { Controls.cmdColorClick(this); }

void TAddTextWindow::sbRotateChange() { Controls.sbRotateChange(); }

}  // namespace quillard
