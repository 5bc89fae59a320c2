// The find window: the text to look for and Match Case. Find hands both to
// the renderer, which highlights the hits while a search text is set;
// Cancel takes them away.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <string>

namespace quillard {

class tRenderer;

class TFindWindow : public QDialog {
    Q_OBJECT
public:
    explicit TFindWindow(QWidget* Parent = nullptr);

    // Shows the window modally for ARenderer: 1 after Find, -1 after Cancel.
    int Execute(tRenderer* ARenderer);

    void FormShow();
    void cmdFindClick();
    void cmdCloseClick();

    tRenderer* Renderer = nullptr;  // while shown; not owned
    QLineEdit* txtFindStr = nullptr;
    QCheckBox* chkMatchCase = nullptr;
    QPushButton* cmdFind = nullptr;
    QPushButton* cmdClose = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;
    void reject() override;
};

// The number of hits of Find in Line by the renderer's rule: text outside
// markup tags only, letter case ignored unless CaseSensitive.
int CountHits(const std::string& Line, const std::string& Find, bool CaseSensitive);

}  // namespace quillard
