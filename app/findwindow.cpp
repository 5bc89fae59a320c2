#include "app/findwindow.h"

#include "app/qtservices.h"
#include "engine/markup.h"
#include "engine/renderer.h"

#include <QGridLayout>

namespace quillard {

TFindWindow::TFindWindow(QWidget* Parent) : QDialog(Parent)
{
    setObjectName("FindWindow");
    setWindowTitle(QStringLiteral("Find"));
    setWindowFlag(Qt::WindowStaysOnTopHint);

    txtFindStr = new QLineEdit(this);
    txtFindStr->setObjectName("txtFindStr");
    txtFindStr->setAccessibleName(QStringLiteral("Text to find"));
    chkMatchCase = new QCheckBox(QStringLiteral("&Match Case"), this);
    chkMatchCase->setObjectName("chkMatchCase");
    cmdFind = new QPushButton(QStringLiteral("&Find"), this);
    cmdFind->setObjectName("cmdFind");
    cmdFind->setDefault(true);
    cmdClose = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdClose->setObjectName("cmdClose");
    cmdClose->setAutoDefault(false);

    // The text and its switch on the left, the buttons in a column on the
    // right.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 12, 12, 12);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(10);
    grid->addWidget(txtFindStr, 0, 0);
    grid->addWidget(cmdFind, 0, 1);
    grid->addWidget(chkMatchCase, 1, 0);
    grid->addWidget(cmdClose, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(2, 1);
    resize(QSize(356, 100).expandedTo(sizeHint()));

    connect(cmdFind, &QPushButton::clicked, this, &TFindWindow::cmdFindClick);
    connect(cmdClose, &QPushButton::clicked, this, &TFindWindow::cmdCloseClick);
}

int TFindWindow::Execute(tRenderer* ARenderer)
{
    Renderer = ARenderer;
    const int result = exec();
    Renderer = nullptr;
    return result;
}

void TFindWindow::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    FormShow();
}

void TFindWindow::FormShow()
{
    txtFindStr->selectAll();
    txtFindStr->setFocus();
}

void TFindWindow::cmdFindClick()
{
    if (Renderer) {
        Renderer->Find.Text = PathFromQ(txtFindStr->text());
        // The report's bytes are Windows-1252: so is the text searched for.
        const QByteArray latin = txtFindStr->text().toLatin1();
        if (QString::fromLatin1(latin) == txtFindStr->text())
            Renderer->Find.Text = latin.toStdString();
        Renderer->Find.TextUtf8 = txtFindStr->text().toUtf8().toStdString();
        Renderer->Find.CaseSensitive = chkMatchCase->isChecked();
    }
    done(1);
}

void TFindWindow::cmdCloseClick()
{
    if (Renderer) {
        Renderer->Find.Text.clear();
        Renderer->Find.TextUtf8.clear();
        Renderer->Find.CaseSensitive = false;
    }
    done(-1);
}

void TFindWindow::reject() { cmdCloseClick(); }

int CountHits(const std::string& Line, const std::string& Find, bool CaseSensitive)
{
    std::string copy = Line;
    return HighlightMatches(copy, Find, CaseSensitive, "", "", "", "");
}

}  // namespace quillard
