#pragma once

// What the document tests share: image files made on the spot, frames and
// placed images with one undoable change, a persistent implementation that
// stands for a plug-in's data on image items, and comparisons of database
// content.

#include "DocumentIDs.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostTestKit.h"
#include "ICommand.h"
#include "IDataBase.h"
#include "IPMStream.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "ObjectModel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dockit {

// A flat mid-gray 8-bit TIFF of w x h pixels at the resolution (pixels per
// inch), uncompressed in one strip.
void WriteTiff(const std::string& path, uint32_t w, uint32_t h, double resolution);
// A flat mid-gray JPEG with a JFIF density (unit 1: per inch, 2: per
// centimetre).
void WriteJpeg(const std::string& path, uint32_t w, uint32_t h, int unit, int density);

// A plug-in's record on image items: a number and a text, persistent.
inline constexpr PMIID IID_ITESTNOTE{0x90101};
inline constexpr ImplementationID kTestNoteImpl{0x90101};

class ITestNote : public hosttest::ITestValue {
public:
    enum { kDefaultIID = IID_ITESTNOTE.value };
};
using TestNote = hosttest::TestValueOf<ITestNote>;

// A graphic frame on a page, the first by default (page coordinates).
inline UIDRef AddFrame(IDataBase* db, const PMRect& bounds, int32_t page = 0) {
    ErrorCode error = kFailure;
    UIDRef frame =
        DocumentUtils::AddGraphicFrame(DocumentUtils::GetNthPage(db, page), bounds, &error);
    EXPECT_EQ(error, kSuccess);
    return frame;
}

// The file placed in the frame; the placed image item.
inline UIDRef PlaceFile(const UIDRef& frame, const std::string& path) {
    ErrorCode error = kFailure;
    UIDRef placed = ImportUtils::PlaceFile(frame, PMString(path), &error);
    EXPECT_EQ(error, kSuccess) << path << ": " << DocumentErrorText(error);
    return placed;
}

// One undoable change of the document; expects it to succeed.
inline void Change(IDataBase* db, const std::function<void()>& change) {
    EXPECT_EQ(DocumentUtils::ProcessChange(db, PMString("Test Change"),
                                           [&] {
                                               change();
                                               return kSuccess;
                                           }),
              kSuccess);
}

inline void SetMatrix(const UIDRef& item, const PMMatrix& m) {
    Change(item.GetDataBase(), [&] { InterfaceOf<ITransform>(item)->SetInnerToParentMatrix(m); });
}

// Registers the note and adds it to the image item class.
void RegisterTestNote();

// The content of a database as comparable text: every object with its class
// and the bytes of each persistent implementation.
std::string Describe(const std::vector<IDataBase::StoredObject>& objects);
inline std::string Content(const IDataBase& db) {
    return Describe(db.Snapshot());
}

} // namespace dockit
