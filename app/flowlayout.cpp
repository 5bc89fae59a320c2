#include "app/flowlayout.h"

#include <QWidget>
#include <algorithm>

namespace quillard {

TFlowLayout::TFlowLayout(QWidget* Parent, int Spacing) : QLayout(Parent), FSpacing(Spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

TFlowLayout::~TFlowLayout()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void TFlowLayout::addItem(QLayoutItem* Item) { FItems.append(Item); }

int TFlowLayout::count() const { return int(FItems.size()); }

QLayoutItem* TFlowLayout::itemAt(int Index) const { return Index >= 0 && Index < FItems.size() ? FItems[Index] : nullptr; }

QLayoutItem* TFlowLayout::takeAt(int Index) { return Index >= 0 && Index < FItems.size() ? FItems.takeAt(Index) : nullptr; }

Qt::Orientations TFlowLayout::expandingDirections() const { return Qt::Horizontal; }

bool TFlowLayout::hasHeightForWidth() const { return true; }

int TFlowLayout::heightForWidth(int Width) const { return Arrange(QRect(0, 0, Width, 0), false); }

QSize TFlowLayout::minimumSize() const
{
    // The widest item on a row of its own.
    QSize size;
    for (const QLayoutItem* item : FItems)
        if (!item->isEmpty())
            size = size.expandedTo(item->minimumSize());
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize TFlowLayout::sizeHint() const
{
    // Every item on one row.
    int width = 0, height = 0, placed = 0;
    for (const QLayoutItem* item : FItems) {
        if (item->isEmpty())
            continue;
        const QSize s = item->sizeHint();
        width += s.width() + (placed++ ? FSpacing : 0);
        height = std::max(height, s.height());
    }
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

void TFlowLayout::setGeometry(const QRect& Rect)
{
    QLayout::setGeometry(Rect);
    Arrange(Rect, true);
}

int TFlowLayout::Arrange(const QRect& Rect, bool Apply) const
{
    const QRect area = Rect.marginsRemoved(contentsMargins());
    int y = area.y();
    int index = 0;
    const int n = int(FItems.size());
    while (index < n) {
        // The items of this row: as many as fit, at least one.
        QList<QLayoutItem*> row;
        int width = 0, height = 0;
        for (; index < n; ++index) {
            QLayoutItem* item = FItems[index];
            if (item->isEmpty())
                continue;
            const QSize s = item->sizeHint();
            const int needed = width + (row.isEmpty() ? 0 : FSpacing) + s.width();
            if (!row.isEmpty() && needed > area.width())
                break;
            width = needed;
            height = std::max(height, s.height());
            row.append(item);
        }
        if (row.isEmpty())
            break;
        if (Apply) {
            int x = area.x();
            for (QLayoutItem* item : row) {
                int w = std::min(item->sizeHint().width(), std::max(area.right() + 1 - x, item->minimumSize().width()));
                if (item == row.last() && (item->expandingDirections() & Qt::Horizontal))
                    w = std::max(w, area.right() + 1 - x);
                item->setGeometry(QRect(x, y, w, height));
                x += w + FSpacing;
            }
        }
        y += height + FSpacing;
    }
    const QMargins m = contentsMargins();
    return std::max(0, y - FSpacing - area.y()) + m.top() + m.bottom();
}

}  // namespace quillard
