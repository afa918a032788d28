#include "app/desktop_fit.h"

#include <QStyle>
#include <QStyleFactory>

int PageStepForKey(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier) {
        if (key == Qt::Key_Tab || key == Qt::Key_PageDown) return 1;
        if (key == Qt::Key_PageUp) return -1;
    }
    // X11 turns Shift+Tab into Backtab; other platforms keep Tab.
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier) && (key == Qt::Key_Tab || key == Qt::Key_Backtab))
        return -1;
    return 0;
}

int WrappedPage(int current, int step, int count) {
    return ((current + step) % count + count) % count;
}

QPalette ClassicPalette() {
    QPalette palette(Qt::black, QColor(240, 240, 240), Qt::white, QColor(160, 160, 160), QColor(160, 160, 160),
                     Qt::black, Qt::white, Qt::white, QColor(240, 240, 240));
    palette.setColor(QPalette::ButtonText, Qt::black);
    // Dark enough for white selected text (5.6:1).
    palette.setColor(QPalette::Highlight, QColor(0, 102, 204));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(96, 96, 96));
    palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::Link, QColor(0, 0, 238));
    palette.setColor(QPalette::LinkVisited, QColor(85, 26, 139));
    palette.setColor(QPalette::AlternateBase, QColor(245, 245, 245));
    // Greyed text stays readable on the light face.
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(109, 109, 109));
    return palette;
}

QStyle* CreatePaletteStyle() {
    // Fusion draws every control from the palette; theme styles such as
    // GTK's or Kvantum's bring their own colours and would undo it.
    return QStyleFactory::create(QStringLiteral("Fusion"));
}

QFont LayoutFont(const QFont& desktop) {
    QFont font(desktop);
    font.setPixelSize(kLayoutFontPixelSize);
    return font;
}

QString AccessibleNameFromCaption(QString caption) {
    caption.remove(u'：');
    caption.remove(u':');
    return caption;
}

QPoint CentredFramePosition(const QRect& screen, const QSize& frame) {
    return screen.topLeft() + QPoint((screen.width() - frame.width()) / 2, (screen.height() - frame.height()) / 2);
}

QString PreferredPlatform(const QProcessEnvironment& environment) {
    const auto has = [&](const char* name) { return !environment.value(QString::fromLatin1(name)).isEmpty(); };
    const bool wayland = has("WAYLAND_DISPLAY") || environment.value(QStringLiteral("XDG_SESSION_TYPE")) == u"wayland";
    if (has("QT_QPA_PLATFORM") || !has("DISPLAY") || !wayland) return {};
    return QStringLiteral("xcb");
}
