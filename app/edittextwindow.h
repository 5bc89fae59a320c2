// The window that lists the items a user added to the report (text items
// and shapes), lets a text item be changed and any item be deleted. Every
// change rewrites the report at once.
#pragma once

#include "app/addtextwindow.h"
#include "engine/autotext.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <string>

namespace quillard {

class tRenderer;

class TEditTextWindow : public QDialog {
    Q_OBJECT
public:
    explicit TEditTextWindow(QWidget* Parent = nullptr);

    // Shows the window modally; it always closes with QDialog::Accepted.
    int ShowModal();

    void FormShow();
    // Reads the report and lists the items in it.
    void LoadAutoTextSpans();
    void DeleteSpanFromStr(int Position);
    // Writes ReportText over the report; false when it could not.
    bool WriteOutFile();
    void EnableEdit();
    void DisableEdit();
    void EnableApply();
    void DisableApply();
    void lstObjectsChange();
    void lstObjectsEnter();
    void cmdDelClick();
    void cmdApplyClick();
    void cmdOkClick();
    void cmdColorClick();
    void sbRotateChange();

    tRenderer* Renderer = nullptr;  // only while the window is up
    std::string ReportText;
    std::string SelectedKind;
    tAddTextSpanCollection Items;
    int LastIndex = 999;

    QListWidget* lstObjects = nullptr;
    QPushButton* cmdDel = nullptr;
    QLineEdit* txtTextToAdd = nullptr;
    QLineEdit* txtX = nullptr;
    QLineEdit* txtY = nullptr;
    TTextStyleControls Controls;
    QPushButton* cmdApply = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void reject() override;

private:
    // The selected item, or null.
    const tAddTextSpanCollectionItem* Selected() const;
    bool FFilling = false;
};

}  // namespace quillard
