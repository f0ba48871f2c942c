// The tool's icon, from PNGs made of app/icon.svg at build time, so no image
// plugin is needed to show it.
#pragma once

#include <QIcon>

namespace corvel::app {

// Every size the build renders; empty only if the resources are missing.
QIcon AppIcon();

}  // namespace corvel::app
