#pragma once

#include "app/platform.h"

// The real desktop: QMessageBox, Qt's folder dialog and the system clock.
class DesktopPlatform final : public Platform {
public:
    void messageBox(const std::string& text, int flags, const std::string& title) override;
    std::string pickFolder(const std::string& title) override;
    std::tm now() override;
};
