#pragma once

// The frame's own identifiers: every one is 0x71900 + n in its ID space.

#include "HostIDs.h"

inline constexpr uint32_t kOrdoPlugInID = 0x71900;

// Classes.
inline constexpr ClassID kOrdoResponderServiceBoss{0x7190B};
inline constexpr ClassID kOrdoIdleTaskBoss{0x7190C};
inline constexpr ClassID kOrdoStartupShutdownBoss{0x7190D};
inline constexpr ClassID kOrdoAppObserverBoss{0x71910};
inline constexpr ClassID kOrdoIdleUpdateTaskBoss{0x71913};
inline constexpr ClassID kOrdoServiceBoss{0x71915};

// The interface under which the document carries its database observer.
inline constexpr PMIID IID_IORDODBOBSERVER{0x71902};

// Implementations.
inline constexpr ImplementationID kOrdoServiceProviderImpl{0x71908};
inline constexpr ImplementationID kOrdoResponderImpl{0x71909};
inline constexpr ImplementationID kOrdoDataBaseObserverImpl{0x7190B};
inline constexpr ImplementationID kOrdoStartupShutdownImpl{0x7190C};
inline constexpr ImplementationID kOrdoIdleTaskImpl{0x7190D};
inline constexpr ImplementationID kOrdoAppObserverImpl{0x71911};
inline constexpr ImplementationID kOrdoIdleUpdateTaskImpl{0x71918};

// First delays of the two idle tasks, and the list refresh's period.
inline constexpr uint32_t kOrdoIdleTaskFirstDelay = 1000;
inline constexpr uint32_t kOrdoIdleUpdateTaskFirstDelay = 5000;
inline constexpr uint32_t kOrdoIdleTaskPeriod = 1000;
inline constexpr uint32_t kOrdoIdleUpdateTaskDefaultDelay = 5000;

// The database observer's place among a database's observers.
inline constexpr int32_t kOrdoDataBaseObserverPriority = 9;

// The name under which the responder's provider answers.
inline constexpr const char* kOrdoResponderServiceName = "DirOrovo Responder Service";
