#include "OrdoPrefsDialog.h"

void RegisterPreferencesDialog() {}
bool RunPreferencesDialog() {
    return false;
}
