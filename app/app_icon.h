#pragma once

#include <QIcon>

// The application's icon, drawn at start-up: a QR-like mark on white.
QIcon AppIcon();
