// How the fixed-layout window holds its own on any desktop: the keys that
// switch pages, its own colours and font, its place on the screen.
#pragma once

#include <QFont>
#include <QPalette>
#include <QPoint>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>

class QStyle;

// The pixel size of the window's font: the largest at which every caption
// of the fixed layout shows whole (five CJK characters in the 56 pixels
// between a label and its edit box, eight in the 88-pixel 标签13).
inline constexpr int kLayoutFontPixelSize = 11;

// +1 for a key that selects the next page (Ctrl+Tab, Ctrl+PageDown), -1 for
// one that selects the previous page (Ctrl+Shift+Tab, Ctrl+PageUp), 0 for
// any other key; keypad keys count the same.
int PageStepForKey(int key, Qt::KeyboardModifiers modifiers);

// The page `step` pages away from `current` among `count`, wrapping around.
int WrappedPage(int current, int step, int count);

// The window's own light palette, whatever the desktop theme: black text on
// a light button face, black on white in edit boxes.
QPalette ClassicPalette();

// A style that paints with the palette it is given; owned by the caller.
QStyle* CreatePaletteStyle();

// The desktop's font family at kLayoutFontPixelSize, so neither the
// desktop's point size nor its DPI setting outgrows the fixed layout.
QFont LayoutFont(const QFont& desktop);

// The accessible name of an edit box from the caption of the label in front
// of it: the caption without its colons ("电话号码： +86" gives "电话号码 +86").
QString AccessibleNameFromCaption(QString caption);

// Top-left corner of a frame of size `frame` centred on `screen`, each
// offset halved with the fraction dropped.
QPoint CentredFramePosition(const QRect& screen, const QSize& frame);

// The Qt platform to ask for before Qt starts: "xcb" on a Wayland session
// that also offers an X display (XWayland), so a window manager that honours
// the fixed size frames the window; "" to leave the choice to Qt, always so
// when the user named a platform in QT_QPA_PLATFORM.
QString PreferredPlatform(const QProcessEnvironment& environment);
