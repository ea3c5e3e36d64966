#include "ui/widgets/motion.h"

namespace {

bool animating = true;

} // namespace

namespace Motion {

bool enabled() {
    return animating;
}

void setEnabled(bool enabled) {
    animating = enabled;
}

} // namespace Motion
