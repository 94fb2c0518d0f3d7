#pragma once

#include <QIcon>

namespace vintrix {

// The programs' window icon in 16, 32 and 48 pixels.
QIcon ProgramIcon();

}  // namespace vintrix
