#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace {

// A 9 x 9 grid: three finder squares and a few data modules, enough to read
// as a QR code at 16 pixels.
constexpr const char* kGrid[] = {
    "###.#.###",
    "#.#...#.#",
    "###.#.###",
    "...#.#...",
    "#.#.#..#.",
    ".#..##.#.",
    "###..#.#.",
    "#.#.#..##",
    "###.##.#.",
};
constexpr int kGridSize = 9;

QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1e, 0x6f, 0xd9));
    painter.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);

    const qreal margin = size * 0.14;
    const qreal module = (size - 2 * margin) / kGridSize;
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(margin - module * 0.5, margin - module * 0.5,
                            module * (kGridSize + 1), module * (kGridSize + 1)));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(QColor(0x10, 0x10, 0x10));
    for (int row = 0; row < kGridSize; ++row)
        for (int column = 0; column < kGridSize; ++column)
            if (kGrid[row][column] == '#')
                painter.drawRect(QRectF(margin + column * module, margin + row * module, module, module));
    return pixmap;
}

}  // namespace

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawIcon(size));
    return icon;
}
