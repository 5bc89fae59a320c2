// The open-document window: a path box with a Browse button, OK and Cancel.
// LoadFile shows it modally when no report is named.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <string>

namespace quillard {

class TOpenDocumentWindow : public QDialog {
    Q_OBJECT
public:
    explicit TOpenDocumentWindow(QWidget* Parent = nullptr);

    // Shows the window modally: 1 after OK, -1 after Cancel.
    int ShowModal();

    void FormShow();
    void cmdBrowseClick();
    void cmdOkClick();
    void cmdCancelClick();

    std::string SelectedPath;
    // Starting folder of the browse dialog ("Open Dir"); the browse dialog
    // leaves the folder it was closed in.
    std::string OpenDir;

    QLineEdit* edtPath = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;
    void reject() override;
};

}  // namespace quillard
