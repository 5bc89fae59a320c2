// The window that places a text item on the previewed page: the text, its
// font, size, styles, colour and rotation. On OK the item is written into
// the report in front of the page break that ends the page it was put on.
#pragma once

#include "engine/autotext.h"

#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <string>

class QGridLayout;

namespace quillard {

class tRenderer;

// Gives List room for about Chars characters across and Rows rows down (its
// frame and scroll bar besides) and lets it take whatever space its layout
// has beyond that.
void SetListRoom(QListWidget* List, int Chars, int Rows);

// The font, size, style, colour and rotation controls that the add and the
// edit windows share.
struct TTextStyleControls {
    QListWidget* lstFont = nullptr;
    QListWidget* lstSize = nullptr;
    QCheckBox *chkBold = nullptr, *chkItalic = nullptr, *chkUnderline = nullptr;
    QPushButton* cmdColor = nullptr;
    QFrame* shpColor = nullptr;
    QScrollBar* sbRotate = nullptr;
    QLabel* lblRotate = nullptr;
    COLORREF Color = 0;

    // Makes the controls on Parent and returns their grid for the window's
    // layout: the font and size lists side by side with the style switches
    // and the colour beside them, the rotation below the lists. The font
    // list takes the grid's spare width, both lists its spare height.
    QGridLayout* Create(QWidget* Parent);
    // The colour of the button text and the swatch.
    void ShowColor(COLORREF AColor);
    // The controls' settings as a style (size: leading digits, default 10).
    TAutoTextStyle Style() const;
    void SetStyle(const TAutoTextStyle& S);
    // "Rotate Angle: " + angle + "deg".
    void sbRotateChange();
    // The colour dialog; true when a colour was chosen.
    bool cmdColorClick(QWidget* Owner);
};

// Text typed in the window as report bytes (Windows-1252).
std::string TextToReport(const QString& Text);
// A whole report handed over as text: Windows-1252 when every character has
// a byte there (as reports always were), UTF-8 otherwise, which the report
// reader knows by its bytes.
std::string ReportTextOf(const QString& Text);
// Typed text as bytes of the renderer's report, in its character set, and
// back.
std::string TextForReport(const QString& Text, const tRenderer* Renderer);
QString TextOfReport(const std::string& Bytes, const tRenderer* Renderer);

class TAddTextWindow : public QDialog {
    Q_OBJECT
public:
    explicit TAddTextWindow(QWidget* Parent = nullptr);

    // Shows the window modally: QDialog::Accepted after OK, Rejected after
    // Cancel.
    int ShowModal();

    void FormCreate();
    void FormShow();
    void cmdOkClick();
    void cmdColorClick();
    void sbRotateChange();

    // The markup of the typed text with the chosen look, named with the
    // renderer's next AutoText number.
    std::string Markup() const;

    double TargetX = 0, TargetY = 0;  // inches from the printable area's top-left corner
    int TargetPage = 1;
    tRenderer* Renderer = nullptr;    // only while the window is up

    QLineEdit* txtTextToAdd = nullptr;
    TTextStyleControls Controls;
    QListWidget*& lstFont = Controls.lstFont;
    QListWidget*& lstSize = Controls.lstSize;
    QCheckBox*& chkBold = Controls.chkBold;
    QCheckBox*& chkItalic = Controls.chkItalic;
    QCheckBox*& chkUnderline = Controls.chkUnderline;
    QPushButton*& cmdColor = Controls.cmdColor;
    QFrame*& shpColor = Controls.shpColor;
    QScrollBar*& sbRotate = Controls.sbRotate;
    QLabel*& lblRotate = Controls.lblRotate;
    QLabel* lblLocation = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;
};

}  // namespace quillard
