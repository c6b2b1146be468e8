#pragma once

#include "HostIDs.h"

// Interface IDs of the host's own interfaces. Those that the plug-in's class
// table names keep the host's numbers; the rest are this stand-in's.
inline constexpr PMIID IID_IUNKNOWN{0x0001};
inline constexpr PMIID IID_IEVENTHANDLER{0x0108};
inline constexpr PMIID IID_IOBSERVER{0x011A};
inline constexpr PMIID IID_ISUBJECT{0x011B};
inline constexpr PMIID IID_IK2SERVICEPROVIDER{0x0124};
inline constexpr PMIID IID_IPERSISTENT{0x0130};
inline constexpr PMIID IID_ISTARTUPSHUTDOWN{0x0149};
inline constexpr PMIID IID_IRESPONDER{0x0169};
inline constexpr PMIID IID_IIDLETASK{0x01F2};
inline constexpr PMIID IID_ICONTROLVIEW{0x0601};
inline constexpr PMIID IID_IDIALOGCONTROLLER{0x062A};
inline constexpr PMIID IID_ICOMMAND{0x1001};
inline constexpr PMIID IID_IDRAGDROPTARGET{0x7503};
inline constexpr PMIID IID_IACTIONCOMPONENT{0xD201};
