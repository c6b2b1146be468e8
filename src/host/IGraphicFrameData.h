#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "UIDRef.h"

// Carried by graphic frames only: an item that has it is a graphic frame.
class IGraphicFrameData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IGRAPHICFRAMEDATA.value };

    virtual bool IsGraphicFrame() const = 0;
    // True when the frame holds a placed image.
    virtual bool HasContent() const = 0;
    // The placed image, or kInvalidUID.
    virtual UID GetContentUID() const = 0;
};
