#include "ISubject.h"

#include <algorithm>

void CSubject::AttachObserver(IObserver* observer, PMIID protocol) {
    if (observer != nullptr && !IsAttached(observer, protocol)) {
        attachments.push_back({observer, protocol});
    }
}

void CSubject::DetachObserver(IObserver* observer, PMIID protocol) {
    std::erase_if(attachments, [&](const Attachment& a) {
        return a.observer == observer && a.protocol == protocol;
    });
}

bool CSubject::IsAttached(IObserver* observer, PMIID protocol) const {
    return std::any_of(attachments.begin(), attachments.end(), [&](const Attachment& a) {
        return a.observer == observer && a.protocol == protocol;
    });
}

void CSubject::Change(ClassID theChange, PMIID protocol, void* changedBy) {
    // An observer may detach itself (or another) while it is told.
    std::vector<Attachment> now = attachments;
    for (const Attachment& a : now) {
        if (a.protocol == protocol && IsAttached(a.observer, a.protocol) &&
            a.observer->IsEnabled()) {
            a.observer->Update(theChange, this, protocol, changedBy);
        }
    }
}
