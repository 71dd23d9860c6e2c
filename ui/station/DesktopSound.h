#pragma once
// The desktop's own short sounds for a run's end: the freedesktop sound
// theme's "complete" and "dialog-error", played by canberra-gtk-play where it
// is installed, the system beep otherwise. Never waits.

#include "station/StationView.h"

namespace veltrad {

void PlayDesktopSound(StationSound sound);

}  // namespace veltrad
