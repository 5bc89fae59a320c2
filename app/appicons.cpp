#include "app/appicons.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <functional>

namespace quillard {

namespace {

// The sizes an icon is drawn at; the theme engine picks the nearest.
constexpr int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QIcon DrawnIcon(const std::function<void(QPainter&, double)>& Draw)
{
    QIcon icon;
    for (int size : IconSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        // Drawn on a square of 48 units.
        p.scale(size / 48.0, size / 48.0);
        Draw(p, size / 48.0);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

bool ThemeHasIcons(const QString& Theme)
{
    if (Theme.isEmpty())
        return false;
    for (const QString& dir : QIcon::themeSearchPaths())
        if (QFileInfo::exists(QDir(dir).filePath(Theme + QStringLiteral("/index.theme"))))
            return true;
    return false;
}

}  // namespace

QIcon ApplicationIcon()
{
    return DrawnIcon([](QPainter& p, double) {
        // The sheet with its corner folded.
        QPainterPath sheet;
        sheet.moveTo(9, 3);
        sheet.lineTo(31, 3);
        sheet.lineTo(41, 13);
        sheet.lineTo(41, 45);
        sheet.lineTo(9, 45);
        sheet.closeSubpath();
        p.setPen(QPen(QColor(60, 64, 72), 2.0));
        p.setBrush(Qt::white);
        p.drawPath(sheet);
        p.setBrush(QColor(210, 214, 222));
        p.drawPolygon(QPolygonF({QPointF(31, 3), QPointF(31, 13), QPointF(41, 13)}));
        // Lines of the report.
        p.setPen(QPen(QColor(120, 128, 140), 2.5, Qt::SolidLine, Qt::FlatCap));
        for (int y : {19, 25, 31})
            p.drawLine(QPointF(14, y), QPointF(y == 31 ? 26 : 35, y));
        // The quill, blue, from the lower left to the upper right.
        QPainterPath quill;
        quill.moveTo(20, 41);
        quill.cubicTo(26, 30, 36, 22, 46, 17);
        quill.cubicTo(42, 26, 33, 34, 20, 41);
        p.setPen(QPen(QColor(20, 60, 140), 1.5));
        p.setBrush(QColor(45, 105, 200));
        p.drawPath(quill);
    });
}

void UseDesktopIconTheme()
{
    // Without a desktop's platform theme Qt looks for themes in its
    // resources only: the folders of the freedesktop.org icon themes go
    // after what is there.
    QStringList paths = QIcon::themeSearchPaths();
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (QString& folder : folders)
        folder = QDir(folder).filePath(QStringLiteral("icons"));
    folders.prepend(QDir::home().filePath(QStringLiteral(".icons")));
    for (const QString& folder : folders)
        if (!paths.contains(folder) && QFileInfo(folder).isDir())
            paths << folder;
    QIcon::setThemeSearchPaths(paths);
    if (ThemeHasIcons(QIcon::themeName()) && QIcon::themeName() != QStringLiteral("hicolor"))
        return;
    if (ThemeHasIcons(QStringLiteral("Adwaita")))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QIcon ShapeIcon(TShapeIcon Shape)
{
    return DrawnIcon([Shape](QPainter& p, double) {
        p.setPen(QPen(QColor(40, 44, 52), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        switch (Shape) {
        case TShapeIcon::Line:
            p.drawLine(QPointF(9, 39), QPointF(39, 9));
            break;
        case TShapeIcon::Box:
            p.drawRect(QRectF(8, 12, 32, 24));
            break;
        case TShapeIcon::Oval:
            p.drawEllipse(QRectF(6, 12, 36, 24));
            break;
        }
    });
}

namespace {

template <class T>
bool SetThemeIconOn(T* Target, const char* Name)
{
    const QIcon icon = QIcon::fromTheme(QString::fromLatin1(Name));
    if (icon.isNull())
        return false;
    Target->setIcon(icon);
    return true;
}

}  // namespace

bool SetThemeIcon(QAbstractButton* Button, const char* Name) { return SetThemeIconOn(Button, Name); }
bool SetThemeIcon(QAction* Action, const char* Name) { return SetThemeIconOn(Action, Name); }

}  // namespace quillard
