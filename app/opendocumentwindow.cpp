#include "app/opendocumentwindow.h"

#include "app/qtservices.h"

#include <QFileDialog>

namespace quillard {

TOpenDocumentWindow::TOpenDocumentWindow(QWidget* Parent) : QDialog(Parent)
{
    setObjectName("OpenDocumentWindow");
    setWindowTitle(QStringLiteral("Open Quillard Document"));
    setFixedSize(350, 116);

    edtPath = new QLineEdit(this);
    edtPath->setObjectName("edtPath");
    edtPath->setGeometry(12, 16, 240, 24);

    cmdBrowse = new QPushButton(QStringLiteral("&Browse"), this);
    cmdBrowse->setObjectName("cmdBrowse");
    cmdBrowse->setGeometry(262, 14, 76, 28);
    cmdBrowse->setAutoDefault(false);

    cmdOk = new QPushButton(QStringLiteral("&OK"), this);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setGeometry(88, 72, 80, 28);
    cmdOk->setDefault(true);

    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->setGeometry(182, 72, 80, 28);
    cmdCancel->setAutoDefault(false);

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
