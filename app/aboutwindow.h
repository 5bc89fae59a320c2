// The about window: the program's name and version, and its version block.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace quillard {

class TAboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit TAboutWindow(QWidget* Parent = nullptr);
    void cmdOkClick();

    QLabel* lblTitle = nullptr;
    QListWidget* lstVersion = nullptr;
    QPushButton* cmdOk = nullptr;
};

}  // namespace quillard
