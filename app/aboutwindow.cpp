#include "app/aboutwindow.h"

#include "app/qtservices.h"
#include "platform/program.h"

#include <QVBoxLayout>

namespace quillard {

TAboutWindow::TAboutWindow(QWidget* Parent) : QDialog(Parent)
{
    setObjectName("AboutWindow");
    const QString title = QStringLiteral("Quillard v") + FromBytes(ProgramVersionText());
    setWindowTitle(title);

    lblTitle = new QLabel(title, this);
    lblTitle->setObjectName("lblTitle");
    QFont big = lblTitle->font();
    big.setPointSize(16);
    big.setBold(true);
    lblTitle->setFont(big);
    lblTitle->setAlignment(Qt::AlignCenter);

    lstVersion = new QListWidget(this);
    lstVersion->setObjectName("lstVersion");
    lstVersion->setAccessibleName(QStringLiteral("Version information"));
    lstVersion->addItem(QStringLiteral("-- File Version Info --"));
    for (const char* name : {"FileDescription", "FileVersion", "ProductVersion"})
        lstVersion->addItem(QString::fromLatin1(name) + QStringLiteral(": ") + FromBytes(FileVersionValue(name)));

    cmdOk = new QPushButton(QStringLiteral("OK"), this);
    cmdOk->setObjectName("cmdOk");
    cmdOk->setDefault(true);
    connect(cmdOk, &QPushButton::clicked, this, &TAboutWindow::cmdOkClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(lstVersion);
    layout->addWidget(cmdOk, 0, Qt::AlignHCenter);
    // Wide enough for the longest line of the list where the screen allows.
    const int listWidth = lstVersion->sizeHintForColumn(0) + 2 * lstVersion->frameWidth() +
                          layout->contentsMargins().left() + layout->contentsMargins().right() + 8;
    resize(QSize(listWidth, 220).expandedTo(QSize(380, 220)).expandedTo(sizeHint()));
}

void TAboutWindow::cmdOkClick() { hide(); }

}  // namespace quillard
