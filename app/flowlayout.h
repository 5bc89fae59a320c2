// A layout that places its items in a row from left to right and starts a
// new row when the next item would not fit: the preview window's panels
// stay on one line in a wide window and wrap in a narrow one. The last item
// of a row whose widget grows horizontally takes the rest of that row.
#pragma once

#include <QLayout>
#include <QList>

namespace quillard {

class TFlowLayout : public QLayout {
public:
    explicit TFlowLayout(QWidget* Parent = nullptr, int Spacing = 0);
    ~TFlowLayout() override;

    void addItem(QLayoutItem* Item) override;
    int count() const override;
    QLayoutItem* itemAt(int Index) const override;
    QLayoutItem* takeAt(int Index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int Width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& Rect) override;

private:
    // Places the items in Rect (only measures when Apply is false) and
    // returns the height the rows take.
    int Arrange(const QRect& Rect, bool Apply) const;
    QList<QLayoutItem*> FItems;
    int FSpacing;
};

}  // namespace quillard
