#include "app/opendocumentwindow.h"

#include "app/qtservices.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace quillard {

TOpenDocumentWindow::TOpenDocumentWindow(QWidget* Parent) : QDialog(Parent)
{
    setObjectName("OpenDocumentWindow");
    setWindowTitle(QStringLiteral("Open Quillard Document"));

    edtPath = new QLineEdit(this);
    edtPath->setObjectName("edtPath");
    edtPath->setAccessibleName(QStringLiteral("Report file"));

    cmdBrowse = new QPushButton(QStringLiteral("&Browse"), this);
    cmdBrowse->setObjectName("cmdBrowse");
    cmdBrowse->setAutoDefault(false);

    cmdOk = new QPushButton(QStringLiteral("&OK"), this);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setDefault(true);

    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->setAutoDefault(false);

    // The path with its browse button, then OK and Cancel centred below.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 14, 12, 14);
    column->setSpacing(10);
    auto* pathRow = new QHBoxLayout;
    pathRow->setSpacing(10);
    pathRow->addWidget(edtPath, 1);
    pathRow->addWidget(cmdBrowse);
    column->addLayout(pathRow);
    column->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(14);
    buttons->addStretch(1);
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    buttons->addStretch(1);
    column->addLayout(buttons);
    resize(QSize(350, 116).expandedTo(sizeHint()));

    connect(cmdBrowse, &QPushButton::clicked, this, &TOpenDocumentWindow::cmdBrowseClick);
    connect(cmdOk, &QPushButton::clicked, this, &TOpenDocumentWindow::cmdOkClick);
    connect(cmdCancel, &QPushButton::clicked, this, &TOpenDocumentWindow::cmdCancelClick);
}

int TOpenDocumentWindow::ShowModal() { return exec(); }

void TOpenDocumentWindow::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    FormShow();
}

void TOpenDocumentWindow::FormShow()
{
    edtPath->setText(PathToQ(SelectedPath));
    edtPath->setFocus();
}

void TOpenDocumentWindow::cmdBrowseClick()
{
    // Report names are upper case by custom, but not always on this system.
    QFileDialog dialog(this, QString(), PathToQ(OpenDir), QStringLiteral("Text files (*.TXT *.txt)"));
    dialog.setObjectName("OpenDialog1");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    SelectedPath = PathFromQ(dialog.selectedFiles().first());
    OpenDir = PathFromQ(dialog.directory().absolutePath());
    edtPath->setText(PathToQ(SelectedPath));
}

void TOpenDocumentWindow::cmdOkClick()
{
    SelectedPath = PathFromQ(edtPath->text());
    done(1);
}

void TOpenDocumentWindow::cmdCancelClick() { done(-1); }

void TOpenDocumentWindow::reject() { cmdCancelClick(); }

}  // namespace quillard
