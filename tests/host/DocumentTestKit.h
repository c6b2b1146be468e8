#pragma once

// What the document tests share: image files made on the spot, a persistent
// implementation that stands for a plug-in's data on image items, and
// comparisons of database content.

#include "DocumentModel.h"
#include "IDataBase.h"
#include "IPMStream.h"
#include "ObjectModel.h"

#include <cstdint>
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

class ITestNote : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ITESTNOTE.value };
    virtual int32_t Number() const = 0;
    virtual std::string Text() const = 0;
    virtual void Set(int32_t number, const std::string& text) = 0;
};

class TestNote : public CPMUnknown<ITestNote> {
public:
    explicit TestNote(IPMUnknown* o) : CPMUnknown<ITestNote>(o) {}
    int32_t Number() const override { return number; }
    std::string Text() const override { return text; }
    void Set(int32_t n, const std::string& t) override {
        PreDirty();
        number = n;
        text = t;
    }
    void ReadWrite(IPMStream* s, ImplementationID) override {
        s->XferInt32(number);
        s->XferString(text);
    }

private:
    int32_t number = 0;
    std::string text;
};

// Registers the note and adds it to the image item class.
void RegisterTestNote();

// The content of a database as comparable text: every object with its class
// and the bytes of each persistent implementation.
std::string Describe(const std::vector<IDataBase::StoredObject>& objects);
inline std::string Content(const IDataBase& db) {
    return Describe(db.Snapshot());
}

} // namespace dockit
