#include "app/app_icon.h"

#include <QDirIterator>

QIcon AppIcon() {
    // Every size the desktop gets, so no size is scaled from another.
    QIcon icon;
    QDirIterator sizes(QStringLiteral(":/icon"));
    while (sizes.hasNext())
        icon.addFile(sizes.next());
    return icon;
}
