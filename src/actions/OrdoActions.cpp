#include "OrdoActions.h"

namespace {
OrdoIdleTaskSwitch gStop = nullptr;
OrdoIdleTaskSwitch gStart = nullptr;
} // namespace

void RegisterOrdoActions() {}

void SetOrdoIdleTaskSwitch(OrdoIdleTaskSwitch stop, OrdoIdleTaskSwitch start) {
    gStop = stop;
    gStart = start;
}
