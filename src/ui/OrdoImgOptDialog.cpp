#include "OrdoImgOptDialog.h"

void RegisterImageOptionsDialog() {}
bool RunImageOptionsDialog(OD_ProcData&, const PMString&, const PMString&) {
    return false;
}
