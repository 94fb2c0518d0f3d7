#pragma once

#include <QIcon>

namespace vintrix {

// The programs' window icon in 16, 32 and 48 pixels.
QIcon ProgramIcon();

// Decodes the icon's images, which ProgramIcon() then finds ready: a program
// may do it on another thread, even before its application object exists.
void DecodeProgramIcon();

}  // namespace vintrix
