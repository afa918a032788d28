#pragma once

#include <QIcon>

// The application's icon: a QR-like mark on white, in every size installed
// for the desktop, compiled into the program from the same PNGs.
QIcon AppIcon();
