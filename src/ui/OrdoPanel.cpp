#include "OrdoPanel.h"

#include "Widgets.h"

void RegisterOrdoPanel() {}
InterfacePtr<IControlView> CreateOrdoPanel() {
    return {};
}
void RebuildOrdoList(IControlView*, bool, bool) {}
UIDList OrdoPanelItemList() {
    return {};
}
UIDList OrdoPanelSelectedItems() {
    return {};
}
