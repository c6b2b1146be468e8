#include "OrdoPlugIn.h"

PlugIn* GetPlugIn() {
    return nullptr;
}
bool LoadOrdoPlugIn() {
    return false;
}
