// The program's icons: its own window icon, drawn at every size, and the
// toolbar's and menus' icons from the desktop's icon theme, with icons of
// our own drawing for the shapes a theme seldom has.
#pragma once

#include <QIcon>

class QAbstractButton;
class QAction;

namespace quillard {

// A sheet with lines of a report and a quill across it.
QIcon ApplicationIcon();

// Lets the desktop's theme give the icons; where no theme is set (a bare X
// server, a window manager without a desktop) the icons come from Adwaita
// when it is installed, and otherwise the buttons keep their texts alone.
void UseDesktopIconTheme();

// The shapes of the drawing toolbar.
enum class TShapeIcon { Line, Box, Oval };
QIcon ShapeIcon(TShapeIcon Shape);

// The theme's icon Name on a button or action beside its text; nothing
// changes when the theme has none. True when it got one.
bool SetThemeIcon(QAbstractButton* Button, const char* Name);
bool SetThemeIcon(QAction* Action, const char* Name);

}  // namespace quillard
