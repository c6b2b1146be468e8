// Stored records and commands: the order record's stream at every version,
// the undo record's length-prefixed block, the two commands as undo steps,
// the accessors and the order-store operations.

#include "DocumentUtils.h"
#include "IMG_Exception.h"
#include "IOrdoData.h"
#include "IOrdoUndoData.h"
#include "IPMStream.h"
#include "ISubject.h"
#include "OrdoDocumentKit.h"
#include "UStream.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// ---- building stored bytes by hand

struct ByteWriter {
    MemoryStream out;
    ByteWriter& I16(int16_t v) {
        out.XferInt16(v);
        return *this;
    }
    ByteWriter& U32(uint32_t v) {
        out.XferUInt32(v);
        return *this;
    }
    ByteWriter& Real(double v) {
        out.XferReal(v);
        return *this;
    }
    ByteWriter& Text(const std::string& v) {
        std::string t = v;
        out.XferString(t);
        return *this;
    }
    ByteWriter& Raw(const Bytes& v) {
        for (uint8_t b : v) {
            out.Write(&b, 1);
        }
        return *this;
    }
    // A placement as the undo record streams it: version, six reals, two
    // flags.
    ByteWriter& Placement(const std::array<double, 6>& reals, uint8_t xm = 0, uint8_t ym = 0) {
        I16(256);
        for (double r : reals) {
            Real(r);
        }
        return Raw({xm, ym});
    }
    Bytes Take() { return out.TakeBytes(); }
};

// A record whose every field differs from a new record's.
OD_ProcData Full() {
    OD_ProcData r;
    r.status = kODStatusSent;
    r.processCode = 12;
    r.profile = "Magazine";
    r.auxText = "aux";
    r.outputName = "Photo";
    r.prefix = "ABCDE";
    r.jobName = "job0001";
    r.sourcePath = "Volumes:Images:Photo.tif";
    r.linkPath = "Volumes:Layout:Photo.tif";
    r.prefsFileName = "press.opf";
    r.auxFlag = 0x8001;
    r.imageClass = kODClassRGB;
    r.pixelWidth = 4000;
    r.pixelHeight = 3000;
    r.formatCode = 0x100;
    r.resolution = 300.5;
    return r;
}

// The stored form of Full() as a writer of `version` would have made it.
Bytes StoredAtVersion(int16_t version) {
    OD_ProcData f = Full();
    ByteWriter w;
    w.I16(1).I16(version);
    w.I16(static_cast<int16_t>(f.status)).I16(f.processCode).Text(f.profile.GetUTF8String());
    w.I16(static_cast<int16_t>(f.auxFlag)).Text("aux").Text("Photo");
    if (version >= 257) {
        w.Text("ABCDE");
    }
    if (version >= 258) {
        w.Text("job0001");
    }
    if (version >= 259) {
        w.U32(f.imageClass);
    }
    if (version >= 260) {
        w.U32(4000).U32(3000).U32(0x100).Text(f.sourcePath.GetUTF8String());
    }
    if (version >= 261) {
        w.Real(300.5);
    }
    if (version >= 262) {
        w.Text(f.linkPath.GetUTF8String());
    }
    if (version >= 263) {
        w.Text("press.opf");
    }
    return w.Take();
}

bool ReadProc(const Bytes& bytes, OD_ProcData& record, bool* whole = nullptr) {
    MemoryStream in(bytes);
    bool good = ReadWriteProcData(&in, record);
    if (whole != nullptr) {
        *whole = good && in.Remaining() == 0;
    }
    return good;
}

Bytes WriteProc(OD_ProcData record) {
    MemoryStream out;
    EXPECT_TRUE(ReadWriteProcData(&out, record));
    return out.TakeBytes();
}

OD_ProcData WithStatus(uint16_t status, int16_t code = 0, uint32_t imageClass = 0) {
    OD_ProcData r;
    r.status = status;
    r.processCode = code;
    r.imageClass = imageClass;
    return r;
}

OD_UndoData SampleUndo() {
    OD_UndoData u;
    u.savedStatus = kODStatusDone;
    EXPECT_EQ(u.SetOtherFile("Volumes:Layout:Photo.tif"), 0);
    u.originalPlacement = {15.0, -3.0, 0.5, -0.75, 12.25, -4.5, false, true};
    u.processedPlacement = {-90.0, 0.0, 1.0, 1.0, 0.0, 0.0, true, false};
    return u;
}

Bytes WriteUndo(OD_UndoData record) {
    MemoryStream out;
    EXPECT_TRUE(ReadWriteUndoData(&out, record));
    return out.TakeBytes();
}

// The block of an undo record as Serialize writes it, with the path given as
// a claimed length and raw bytes.
Bytes UndoBlock(uint32_t pathLength, const Bytes& pathBytes, bool placements = true) {
    ByteWriter w;
    w.I16(256).I16(8).U32(pathLength).Raw(pathBytes);
    if (placements) {
        w.Placement({1, 1, 1, 1, 1, 1}, 0, 1).Placement({1, 1, 1, 1, 1, 1}, 0, 1);
    }
    return w.Take();
}

// The block wrapped as the host stream carries it: its byte count first.
Bytes Framed(const Bytes& block) {
    ByteWriter w;
    w.U32(static_cast<uint32_t>(block.size())).Raw(block);
    return w.Take();
}

Bytes PathBytes(const std::string& text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}

// ---- document fixture

struct Watch : IObserver {
    int updates = 0;
    ClassID lastChange;
    PMIID lastProtocol;
    IPMUnknown* QueryInterface(PMIID) const override { return nullptr; }
    void AddRef() const override {}
    void Release() const override {}
    void Update(ClassID change, ISubject*, PMIID protocol, void*) override {
        ++updates;
        lastChange = change;
        lastProtocol = protocol;
    }
};

struct Flushes : IDatabaseObserver {
    int flushed = 0;
    void Changed(UID, ClassID) override {}
    void Flushed() override { ++flushed; }
};

int rebuilds = 0;
bool rebuildFirst = false;
bool rebuildSecond = true;
void CountRebuild(bool first, bool second) {
    ++rebuilds;
    rebuildFirst = first;
    rebuildSecond = second;
}

using ordokit::Order;
using ordokit::Undo;

class StoredRecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ordokit::RegisterOrdoDocument();
        rebuilds = 0;
        db = DocumentUtils::NewDocument();
        image = dir / "photo.tif";
        dockit::WriteTiff(image, 40, 20, 72);
        for (int i = 0; i < 3; ++i) {
            frames[i] = Frame(10 + 60 * i);
            images[i] = Place(frames[i]);
        }
    }
    void TearDown() override {
        SetOrdoListRebuildHook(nullptr);
        subject.reset(); // held on the document: goes before it
        db.reset();
        HostStrings::Reset();
        ObjectModel::Get().Reset();
    }

    UIDRef Frame(double left) {
        return dockit::AddFrame(db.get(), PMRect(left, 10, left + 50, 40));
    }
    UIDRef Place(const UIDRef& frame) { return dockit::PlaceFile(frame, image); }
    UIDList List(std::initializer_list<UIDRef> refs) { return ordokit::ListOf(db.get(), refs); }
    ISubject* DocumentSubject() {
        subject.reset(static_cast<ISubject*>(db->Instantiate(db->GetRootUID(), IID_ISUBJECT)));
        return subject.get();
    }

    TempDir dir;
    std::string image;
    std::unique_ptr<IDataBase> db;
    UIDRef frames[3];
    UIDRef images[3];
    InterfacePtr<ISubject> subject;
};

} // namespace

TEST(OrderRecordStream, EachVersionReadsItsFieldsAndLeavesTheLaterOnesNew) {
    for (int16_t version = 256; version <= 263; ++version) {
        SCOPED_TRACE(version);
        // Full() less what came after the version.
        OD_ProcData expected = Full();
        const OD_ProcData fresh;
        if (version < 257) {
            expected.prefix = fresh.prefix;
        }
        if (version < 258) {
            expected.jobName = fresh.jobName;
        }
        if (version < 259) {
            expected.imageClass = fresh.imageClass;
        }
        if (version < 260) {
            expected.pixelWidth = expected.pixelHeight = expected.formatCode = 0;
            expected.sourcePath = fresh.sourcePath;
        }
        if (version < 261) {
            expected.resolution = 0.0;
        }
        if (version < 262) {
            expected.linkPath = fresh.linkPath;
        }
        if (version < 263) {
            expected.prefsFileName = fresh.prefsFileName;
        }
        // Read over a record that holds other values: what the version lacks
        // comes from a new record, not from what was there.
        OD_ProcData read = WithStatus(kODStatusDone, 3, kODClassCMYK);
        read.resolution = 1200.0;
        read.prefsFileName = "old.opf";
        bool whole = false;
        ASSERT_TRUE(ReadProc(StoredAtVersion(version), read, &whole));
        EXPECT_TRUE(whole) << "every byte of the record is read";
        EXPECT_EQ(read, expected);
    }
}

TEST(OrderRecordStream, TheWriterWritesVersion263WithEveryFieldAndReadsBackTheSame) {
    Bytes bytes = WriteProc(Full());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 0) << "marker 1, little-endian";
    EXPECT_EQ(bytes[2], 0x07);
    EXPECT_EQ(bytes[3], 0x01) << "version 263";
    EXPECT_EQ(bytes, StoredAtVersion(263)) << "field order and widths";
    OD_ProcData read;
    bool whole = false;
    ASSERT_TRUE(ReadProc(bytes, read, &whole));
    EXPECT_TRUE(whole);
    EXPECT_EQ(read, Full());

    // The marker's value is not looked at.
    Bytes other = bytes;
    other[0] = 0x5A;
    other[1] = 0xA5;
    OD_ProcData again;
    ASSERT_TRUE(ReadProc(other, again));
    EXPECT_EQ(again, Full());

    // A new record writes and reads as a new record.
    OD_ProcData fresh = Full();
    ASSERT_TRUE(ReadProc(WriteProc(OD_ProcData()), fresh));
    EXPECT_EQ(fresh, OD_ProcData());
}

TEST(OrderRecordStream, ARecordCutShortOrWithALyingLengthIsRefusedAndChangesNothing) {
    const Bytes bytes = StoredAtVersion(263);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        SCOPED_TRACE(size);
        OD_ProcData read = WithStatus(kODStatusDone, 4);
        EXPECT_FALSE(ReadProc(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(size)), read));
        EXPECT_EQ(read, WithStatus(kODStatusDone, 4));
    }
    // The profile claims more bytes than the stream holds.
    Bytes lying = ByteWriter().I16(1).I16(263).I16(1).I16(10).U32(0x7FFFFFF0).Raw({'a'}).Take();
    OD_ProcData read = WithStatus(kODStatusDone);
    EXPECT_FALSE(ReadProc(lying, read));
    EXPECT_EQ(read, WithStatus(kODStatusDone));
}

TEST(UndoRecordStream, AnEmptyPathStreamsTheNulAloneAndReadsBackEmpty) {
    OD_UndoData empty;
    Bytes bytes = WriteUndo(empty);
    // count, version, status, path length 1, the NUL, two placements of
    // version + six reals + two booleans.
    const uint32_t block = 2 + 2 + 4 + 1 + 2 * (2 + 6 * 8 + 2);
    ASSERT_EQ(bytes.size(), 4 + block);
    EXPECT_EQ(bytes, Framed(ByteWriter()
                                .I16(256)
                                .I16(0)
                                .U32(1)
                                .Raw({0})
                                .Placement({0, 0, 1, 1, 0, 0})
                                .Placement({0, 0, 1, 1, 0, 0})
                                .Take()));
    OD_UndoData read = SampleUndo();
    MemoryStream in(bytes);
    ASSERT_TRUE(ReadWriteUndoData(&in, read));
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(read.otherFile[0], '\0');
    EXPECT_EQ(read, OD_UndoData());
}

TEST(UndoRecordStream, ARecordRoundTripsUpToTheLongestPathThatFits) {
    for (std::size_t length : {std::size_t(1), std::size_t(22), kODUndoPathSize - 1}) {
        SCOPED_TRACE(length);
        OD_UndoData u = SampleUndo();
        ASSERT_EQ(u.SetOtherFile(std::string(length, 'p').c_str()), 0);
        Bytes bytes = WriteUndo(u);
        // The path's length counts its NUL.
        EXPECT_EQ(bytes[4 + 4] | bytes[4 + 5] << 8, static_cast<int>(length + 1));
        OD_UndoData read;
        MemoryStream in(bytes);
        ASSERT_TRUE(ReadWriteUndoData(&in, read));
        EXPECT_EQ(in.Remaining(), 0u);
        EXPECT_EQ(read, u);
        EXPECT_EQ(std::string(read.otherFile), std::string(length, 'p'));
    }
    // The record's own version is not looked at; bytes after the record in
    // its block are left alone.
    Bytes block = UndoBlock(4, PathBytes("abc"));
    block[0] = 0x33;
    block.push_back(0xEE);
    OD_UndoData read;
    MemoryStream in(Framed(block));
    ASSERT_TRUE(ReadWriteUndoData(&in, read));
    EXPECT_STREQ(read.otherFile, "abc");
    EXPECT_EQ(read.savedStatus, 8);
    EXPECT_TRUE(read.processedPlacement.yMirrored);
}

TEST(UndoRecordStream, APathThatDoesNotFitItsFieldIsNeverTakenOrCut) {
    OD_UndoData u;
    EXPECT_EQ(u.SetOtherFile(std::string(kODUndoPathSize - 1, 'q').c_str()), 0);
    EXPECT_EQ(u.SetOtherFile(std::string(kODUndoPathSize, 'q').c_str()), -1);
    EXPECT_EQ(u.otherFile[0], '\0') << "refused, not cut";
    EXPECT_EQ(u.SetOtherFile(nullptr), 0);
    EXPECT_EQ(u.otherFile[0], '\0');
}

TEST(UndoRecordStream, BlocksThatLieAreRefusedAndChangeNothing) {
    const std::string longPath(300, 'x');
    struct Case {
        const char* name;
        Bytes block;
        int32_t error;
    } cases[] = {
        {"path length 0", UndoBlock(0, {}), kODUndoBadPathError},
        {"path length past the limit", UndoBlock(256001, PathBytes("a")), kODUndoBadPathError},
        {"path length 262: one byte too long for the field",
         UndoBlock(262, PathBytes(std::string(261, 'y'))), kODUndoBadPathError},
        {"path of 300 bytes", UndoBlock(301, PathBytes(longPath)), kODUndoBadPathError},
        {"no NUL at the end", UndoBlock(3, {'a', 'b', 'c'}), kODUndoBadPathError},
        {"a NUL inside the path", UndoBlock(4, {'a', 0, 'c', 0}), kODUndoBadPathError},
        {"the block ends inside the path", UndoBlock(10, {'a', 'b'}, false),
         kODUndoShortBlockError},
        {"the block ends before the placements", UndoBlock(2, {'a', 0}, false),
         kODUndoShortBlockError},
        {"the block ends inside the status", ByteWriter().I16(256).Raw({1}).Take(),
         kODUndoShortBlockError},
        {"an empty block", {}, kODUndoShortBlockError},
    };
    const OD_UndoData before = SampleUndo();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The record's own reader: the error of the exception.
        OD_UndoData direct = before;
        UBufferStreamRead block(c.block.data(), static_cast<uint32_t>(c.block.size()));
        try {
            direct.Serialize(block);
            ADD_FAILURE() << "accepted";
        } catch (const IMG_Exception& e) {
            EXPECT_EQ(e.Code(), c.error);
        }
        EXPECT_EQ(direct, before);

        // Through the host stream: the stream fails, the record stays.
        OD_UndoData read = before;
        MemoryStream in(Framed(c.block));
        EXPECT_FALSE(ReadWriteUndoData(&in, read));
        EXPECT_FALSE(in.Good());
        EXPECT_EQ(read, before);
    }

    // A byte count that runs past the stream is refused before anything is
    // allocated.
    Bytes good = WriteUndo(SampleUndo());
    for (uint32_t count : {uint32_t(good.size()), 0xFFFFFFFFu}) {
        Bytes lying = good;
        std::memcpy(lying.data(), &count, 4);
        OD_UndoData read;
        MemoryStream in(lying);
        EXPECT_FALSE(ReadWriteUndoData(&in, read));
        EXPECT_EQ(read, OD_UndoData());
    }
    // A stream that ends inside the count.
    OD_UndoData read;
    MemoryStream in(Bytes{1, 0});
    EXPECT_FALSE(ReadWriteUndoData(&in, read));
}

TEST(UndoRecordStream, APlacementKeepsTheCapturedPartsAndDropsTheBoundingBox) {
    OD_CaptureRecord capture;
    capture.rotation = 30;
    capture.xSkew = 5;
    capture.xScale = -0.5;
    capture.yScale = 2;
    capture.xOffset = 7;
    capture.yOffset = -8;
    capture.xMirrored = true;
    capture.boundsRight = 100;
    OD_UndoPlacement p = OD_UndoPlacement::FromCapture(capture);
    OD_CaptureRecord back = p.ToCapture();
    EXPECT_EQ(back.rotation, 30);
    EXPECT_EQ(back.xSkew, 5);
    EXPECT_EQ(back.xScale, -0.5);
    EXPECT_EQ(back.yScale, 2);
    EXPECT_EQ(back.xOffset, 7);
    EXPECT_EQ(back.yOffset, -8);
    EXPECT_TRUE(back.xMirrored);
    EXPECT_FALSE(back.yMirrored);
    EXPECT_EQ(back.boundsRight, 0) << "the bounding box is not kept";
    EXPECT_EQ(OD_UndoPlacement::FromCapture(back), p);
}

TEST_F(StoredRecordsTest, RegistrationIsIdempotentAndPutsBothRecordsOnPlacedImages) {
    RegisterOrdoData();
    AddOrdoDataToImageItems();
    RegisterDocumentModel();
    ObjectModel& model = ObjectModel::Get();
    EXPECT_TRUE(model.IsPersistent(kOrdoDataPersistImpl));
    EXPECT_TRUE(model.IsPersistent(kOrdoUndoDataPersistImpl));
    EXPECT_FALSE(model.IsPersistent(kOrdoDataArrayNonPersistImpl));
    UIDRef placed = Place(Frame(300));
    EXPECT_EQ(Order(placed), OD_ProcData()); // a new record of each kind
    EXPECT_EQ(Undo(placed), OD_UndoData());
    EXPECT_FALSE(InterfaceOf<IOrdoData>(frames[0])) << "frames carry no order";
    // The dialog's holder.
    model.DefineClass(
        {ClassID(0x90301), kInvalidClass, {{IID_IORDODATANONPERSIST, kOrdoDataNonPersistImpl}}});
    auto holder = CreateObject2<IOrdoDataNonPersist>(ClassID(0x90301), IID_IORDODATANONPERSIST);
    ASSERT_TRUE(holder);
    holder->SetData(Full());
    holder->SetString(PMString("CMYK image"));
    EXPECT_EQ(holder->GetData(), Full());
    EXPECT_EQ(holder->GetString().GetUTF8String(), "CMYK image");
}

// Each record's command is one named undo step that notifies on its own
// protocol, flushes once and rebuilds the list once.
TEST_F(StoredRecordsTest, WritingARecordIsOneNamedUndoStepThatNotifiesAndUndoes) {
    Watch orders, undos;
    DocumentSubject()->AttachObserver(&orders, IID_IORDODATA);
    DocumentSubject()->AttachObserver(&undos, IID_IORDOUNDODATA);
    Flushes flushes;
    db->AddObserver(&flushes);
    SetOrdoListRebuildHook(CountRebuild);
    const int32_t stepsBefore = db->UndoCount();

    ASSERT_EQ(OD_DataAccessor(images[0]).Write(Full()), kSuccess);
    EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kSuccess);
    EXPECT_EQ(Order(images[0]), Full());
    EXPECT_EQ(db->UndoCount(), stepsBefore + 1);
    EXPECT_EQ(db->GetUndoName().GetUTF8String(), kOrdoCommandStringKey);
    EXPECT_EQ(db->GetUndoName().Translated().GetUTF8String(), "Add Images Ordo");
    EXPECT_TRUE(db->IsModified());
    EXPECT_EQ(orders.updates, 1);
    EXPECT_EQ(orders.lastChange, kOrdoSetDataCmdBoss);
    EXPECT_EQ(orders.lastProtocol, IID_IORDODATA);
    EXPECT_EQ(undos.updates, 0);
    EXPECT_EQ(flushes.flushed, 1);
    EXPECT_EQ(rebuilds, 1);
    EXPECT_TRUE(rebuildFirst);
    EXPECT_FALSE(rebuildSecond);

    OD_ProcData second = Full();
    second.status = kODStatusDone;
    second.jobName = "job0002";
    ASSERT_EQ(OD_DataAccessor(images[0]).Write(second), kSuccess);
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Order(images[0]), Full());
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Order(images[0]), OD_ProcData());
    ASSERT_TRUE(db->Redo());
    ASSERT_TRUE(db->Redo());
    EXPECT_EQ(Order(images[0]), second);
    EXPECT_EQ(Order(images[1]), OD_ProcData()) << "other items untouched";

    const int32_t steps = db->UndoCount();
    const int orderUpdates = orders.updates;
    const int undoUpdates = undos.updates;
    ASSERT_EQ(OD_UndoDataAccessor(images[1]).Write(SampleUndo()), kSuccess);
    EXPECT_EQ(Undo(images[1]), SampleUndo());
    EXPECT_EQ(db->UndoCount(), steps + 1);
    EXPECT_EQ(db->GetUndoName().Translated().GetUTF8String(), "Add Images Ordo");
    EXPECT_EQ(undos.updates - undoUpdates, 1);
    EXPECT_EQ(undos.lastChange, kOrdoSetUndoDataCmdBoss);
    EXPECT_EQ(orders.updates, orderUpdates) << "only the undo record's protocol";
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Undo(images[1]), OD_UndoData());
    ASSERT_TRUE(db->Redo());
    EXPECT_EQ(Undo(images[1]), SampleUndo());
    db->RemoveObserver(&flushes);
    DocumentSubject()->DetachObserver(&orders, IID_IORDODATA);
    DocumentSubject()->DetachObserver(&undos, IID_IORDOUNDODATA);
}

TEST_F(StoredRecordsTest, ACommandOverThreeItemsOfWhichOneHasNoOrderChangesTheOtherTwo) {
    InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kOrdoSetDataCmdBoss));
    ASSERT_TRUE(command);
    InterfacePtr<IOrdoDataArray> records(command, IID_IORDODATAARRAY);
    ASSERT_TRUE(records);
    // The frame of the second image carries no order record.
    command->SetItemList(List({images[0], frames[1], images[2]}));
    records->SetCount(3);
    records->SetAt(WithStatus(kODStatusReady, 1), 0);
    records->SetAt(WithStatus(kODStatusReady, 2), 1);
    records->SetAt(WithStatus(kODStatusReady, 3), 2);
    const int32_t stepsBefore = db->UndoCount();
    EXPECT_EQ(CmdUtils::ProcessCommand(command.get()), kSuccess);
    EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kSuccess);
    EXPECT_EQ(db->UndoCount(), stepsBefore + 1);
    EXPECT_EQ(Order(images[0]), WithStatus(kODStatusReady, 1));
    EXPECT_EQ(Order(images[1]), OD_ProcData());
    EXPECT_EQ(Order(images[2]), WithStatus(kODStatusReady, 3)) << "each item its own slot";

    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Order(images[0]), OD_ProcData());
    EXPECT_EQ(Order(images[2]), OD_ProcData());
}

TEST_F(StoredRecordsTest, ACommandWithoutItemsOrWithTooFewRecordsFailsAndChangesNothing) {
    Watch watch;
    DocumentSubject()->AttachObserver(&watch, IID_IORDODATA);
    const int32_t stepsBefore = db->UndoCount();
    struct Case {
        const char* name;
        UIDList items;
        int32_t count;
    } cases[] = {
        {"no items", UIDList(db.get()), 1},
        {"no items and no database", UIDList(), 0},
        {"two items, one record", List({images[0], images[1]}), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kOrdoSetDataCmdBoss));
        InterfacePtr<IOrdoDataArray> records(command, IID_IORDODATAARRAY);
        command->SetItemList(c.items);
        records->SetCount(c.count);
        for (int32_t i = 0; i < c.count; ++i) {
            records->SetAt(Full(), i);
        }
        EXPECT_EQ(CmdUtils::ProcessCommand(command.get()), kFailure);
        EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kFailure);
        EXPECT_EQ(Order(images[0]), OD_ProcData());
        EXPECT_EQ(db->UndoCount(), stepsBefore);
    }
    // The undo command likewise; and an undo record whose path does not end
    // inside its field is refused, since it could not be saved.
    InterfacePtr<ICommand> undo(CmdUtils::CreateCommand(kOrdoSetUndoDataCmdBoss));
    undo->SetItemList(UIDList(db.get()));
    EXPECT_EQ(CmdUtils::ProcessCommand(undo.get()), kFailure);
    InterfacePtr<ICommand> unterminated(CmdUtils::CreateCommand(kOrdoSetUndoDataCmdBoss));
    InterfacePtr<IOrdoUndoDataArray> undoRecords(unterminated, IID_IORDOUNDODATAARRAY);
    unterminated->SetItemList(List({images[0], images[1]}));
    OD_UndoData bad = SampleUndo();
    std::memset(bad.otherFile, 'z', sizeof bad.otherFile);
    undoRecords->SetCount(2);
    undoRecords->SetAt(SampleUndo(), 0);
    undoRecords->SetAt(bad, 1);
    EXPECT_EQ(CmdUtils::ProcessCommand(unterminated.get()), kFailure);
    EXPECT_EQ(Undo(images[0]), OD_UndoData());
    EXPECT_EQ(Undo(images[1]), OD_UndoData());
    EXPECT_EQ(db->UndoCount(), stepsBefore);
    EXPECT_EQ(watch.updates, 0);
    DocumentSubject()->DetachObserver(&watch, IID_IORDODATA);
}

TEST_F(StoredRecordsTest, ReadOnADeletedOrUnusableItemGivesMinus8AndWriteDoesNothing) {
    ASSERT_EQ(OD_DataAccessor(images[2]).Write(Full()), kSuccess);
    ASSERT_EQ(DocumentUtils::DeletePageItem(frames[2]), kSuccess);
    const int32_t steps = db->UndoCount();
    struct Case {
        const char* name;
        UIDRef item;
    } cases[] = {
        {"deleted image", images[2]},
        {"invalid reference", UIDRef()},
        {"no database", UIDRef(nullptr, images[0].GetUID())},
        {"kInvalidUID", UIDRef(db.get(), kInvalidUID)},
        {"unknown UID", UIDRef(db.get(), UID(9999))},
        {"item without the records (a frame)", frames[0]},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OD_ProcData order = Full();
        EXPECT_EQ(OD_DataAccessor(c.item).Read(order), kODNoItemRecordError);
        EXPECT_EQ(order, Full()) << "the caller's value is left alone";
        OD_UndoData undo = SampleUndo();
        EXPECT_EQ(OD_UndoDataAccessor(c.item).Read(undo), kODNoItemRecordError);
        EXPECT_EQ(undo, SampleUndo());
        EXPECT_FALSE(IsOrdered(c.item));
    }
    for (const UIDRef& gone : {images[2], UIDRef(), UIDRef(db.get(), UID(9999))}) {
        EXPECT_EQ(OD_DataAccessor(gone).Write(Full()), kFailure);
        EXPECT_EQ(OD_UndoDataAccessor(gone).Write(SampleUndo()), kFailure);
    }
    EXPECT_EQ(db->UndoCount(), steps) << "no command was processed";

    // Undoing the deletion brings the item back with its record.
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Order(images[2]), Full());
}

TEST_F(StoredRecordsTest, RecordsTravelWithTheDocumentsStoredState) {
    ASSERT_EQ(OD_DataAccessor(images[0]).Write(Full()), kSuccess);
    ASSERT_EQ(OD_UndoDataAccessor(images[0]).Write(SampleUndo()), kSuccess);
    auto stored = db->Snapshot();
    IDataBase copy;
    std::string why;
    ASSERT_TRUE(copy.Restore(stored, db->GetRootUID(), why)) << why;
    UIDRef again(&copy, images[0].GetUID());
    OD_ProcData order;
    ASSERT_EQ(OD_DataAccessor(again).Read(order), 0);
    EXPECT_EQ(order, Full());
    OD_UndoData undo;
    ASSERT_EQ(OD_UndoDataAccessor(again).Read(undo), 0);
    EXPECT_EQ(undo, SampleUndo());

    // A stored undo record whose path does not fit its field is refused with
    // the document, which keeps what it had.
    for (auto& object : stored) {
        auto it = object.implementations.find(kOrdoUndoDataPersistImpl.Get());
        if (object.uid == images[0].GetUID() && it != object.implementations.end()) {
            it->second = Framed(UndoBlock(301, PathBytes(std::string(300, 'x'))));
        }
    }
    why.clear();
    EXPECT_FALSE(copy.Restore(stored, db->GetRootUID(), why));
    EXPECT_NE(why.find("OrdoUndoDataPersist"), std::string::npos) << why;
    ASSERT_EQ(OD_UndoDataAccessor(again).Read(undo), 0);
    EXPECT_EQ(undo, SampleUndo());
}

// The status rule itself is the order record's; here: it is read from the item.
TEST_F(StoredRecordsTest, AnItemIsOrderedWhenItsRecordSaysSo) {
    EXPECT_FALSE(IsOrdered(images[0]));
    ASSERT_EQ(OD_DataAccessor(images[0]).Write(WithStatus(kODStatusProvisional)), kSuccess);
    EXPECT_FALSE(IsOrdered(images[0]));
    ASSERT_EQ(OD_DataAccessor(images[0]).Write(WithStatus(kODStatusSent)), kSuccess);
    EXPECT_TRUE(IsOrdered(images[0]));
    EXPECT_FALSE(IsOrdered(frames[0]));
}

TEST_F(StoredRecordsTest, AddOrdersFillsOneRecordPerItemInOneCommand) {
    std::vector<uint32_t> filled;
    bool lastProvisional = false;
    auto fill = [&](const UIDRef& item, OD_ProcData& record, bool provisional) {
        EXPECT_EQ(record, OD_ProcData()) << "each record starts new";
        filled.push_back(item.GetUID().Get());
        lastProvisional = provisional;
        record.status = provisional ? kODStatusProvisional : kODStatusReady;
        record.outputName = PMString("item");
        record.outputName.AppendNumber(item.GetUID().Get());
        return 0;
    };
    ASSERT_EQ(OD_DataAccessor(images[2]).Write(Full()), kSuccess);
    const int32_t steps = db->UndoCount();
    ASSERT_EQ(AddOrders(List({images[0], images[1], images[2]}), true, fill), 0);
    EXPECT_EQ(db->UndoCount(), steps + 1);
    EXPECT_EQ(db->GetUndoName().Translated().GetUTF8String(), "Add Images Ordo");
    EXPECT_EQ(filled, (std::vector<uint32_t>{images[0].GetUID().Get(), images[1].GetUID().Get(),
                                             images[2].GetUID().Get()}));
    EXPECT_TRUE(lastProvisional);
    for (const UIDRef& image : images) {
        EXPECT_EQ(Order(image).status, kODStatusProvisional);
        EXPECT_FALSE(IsOrdered(image));
    }
    EXPECT_EQ(Order(images[2]).jobName.GetUTF8String(), "") << "a refresh starts from new";

    ASSERT_EQ(AddOrder(images[1], false, fill), 0);
    EXPECT_FALSE(lastProvisional);
    EXPECT_TRUE(IsOrdered(images[1]));

    // Filling stops at the first non-zero result; the command still runs.
    filled.clear();
    auto failing = [&](const UIDRef& item, OD_ProcData& record, bool provisional) {
        fill(item, record, provisional);
        return filled.size() == 1 ? -1 : 0;
    };
    ASSERT_EQ(AddOrders(List({images[0], images[1], images[2]}), false, failing), 0);
    EXPECT_EQ(filled.size(), 1u);
    EXPECT_EQ(Order(images[0]).status, kODStatusReady);
    EXPECT_EQ(Order(images[1]), OD_ProcData()) << "not reached: a new record";

    // No items: the command fails.
    EXPECT_EQ(AddOrders(UIDList(db.get()), true, fill), kODAddOrdersError);
    EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kFailure);
}

TEST_F(StoredRecordsTest, AddOrderFillsTheRecordFromThePlacedImage) {
    ASSERT_EQ(OD_DataAccessor(images[0]).Write(Full()), kSuccess);
    ASSERT_EQ(AddOrder(images[0], true), 0);
    OD_ProcData order = Order(images[0]);
    EXPECT_EQ(order.outputName.GetUTF8String(), "photo");
    EXPECT_EQ(order.linkPath.GetUTF8String(), image);
    EXPECT_EQ(order.status & kODStatusProvisional, kODStatusProvisional);
    EXPECT_TRUE(order.jobName.IsEmpty()) << "a new record, not the one the item held";
    EXPECT_FALSE(IsOrdered(images[0]));

    ASSERT_EQ(AddOrders(List({images[1], images[2]}), false), 0);
    EXPECT_EQ(Order(images[1]).status, kODStatusReady);
    EXPECT_EQ(Order(images[2]).outputName.GetUTF8String(), "photo");
    EXPECT_TRUE(IsOrdered(images[2]));
}

TEST_F(StoredRecordsTest, FilterItemsKeepsTheItemsWhoseOrdersPassTheMaskedTests) {
    UIDRef items[6] = {images[0], images[1], images[2]};
    for (int i = 3; i < 6; ++i) {
        items[i] = Place(Frame(200 + 60 * (i - 3)));
    }
    const OD_ProcData orders[] = {
        WithStatus(kODStatusReady, 1, kODClassGray),
        WithStatus(kODStatusSent, 1, kODClassGray),
        WithStatus(kODStatusDone, 10, kODClassRGB),
        WithStatus(kODStatusProvisional, 10, kODClassRGB),
        WithStatus(kODStatusReady, 10, kODClassRGB),
        WithStatus(kODStatusReadyAlt, 12, kODClassRGB),
    };
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(OD_DataAccessor(items[i]).Write(orders[i]), kSuccess);
    }
    const UIDList all = List({items[0], items[1], items[2], items[3], items[4], items[5]});
    // The kept items by their index in items.
    auto uidsOf = [&](const UIDList& list) {
        std::vector<int> v;
        for (UID u : list) {
            int i = 0;
            while (i < 6 && items[i].GetUID() != u) {
                ++i;
            }
            v.push_back(u == frames[0].GetUID() ? -1 : i);
        }
        return v;
    };
    const uint32_t all3 = kODFilterStatus | kODFilterProcessCode | kODFilterImageClass;
    struct Case {
        const char* name;
        OD_ProcData pattern;
        uint32_t mask;
        std::vector<int> kept;
    } cases[] = {
        {"ready (status 3)", WithStatus(3), kODFilterStatus, {0, 4, 5}},
        {"sent", WithStatus(kODStatusSent), kODFilterStatus, {1}},
        {"process code 10", WithStatus(0, 10), kODFilterProcessCode, {2, 3, 4}},
        {"class RGB", WithStatus(0, 0, kODClassRGB), kODFilterImageClass, {2, 3, 4, 5}},
        {"ready RGB code 10", WithStatus(3, 10, kODClassRGB), all3, {4}},
        {"no test: every item", WithStatus(0), 0, {0, 1, 2, 3, 4, 5}},
        {"other mask bits test nothing", WithStatus(0), 0x4, {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDList out(db.get());
        EXPECT_EQ(FilterItems(all, c.pattern, c.mask, out), static_cast<int32_t>(c.kept.size()));
        EXPECT_EQ(uidsOf(out), c.kept);
    }
    // Appends to what the list holds, and stops at the first item without an
    // order record.
    UIDList out = List({frames[0]});
    EXPECT_EQ(
        FilterItems(List({items[0], frames[1], items[4]}), WithStatus(3), kODFilterStatus, out), 2);
    EXPECT_EQ(uidsOf(out), (std::vector<int>{-1, 0}));
    ASSERT_EQ(DocumentUtils::DeletePageItem(frames[0]), kSuccess);
    UIDList none(db.get());
    EXPECT_EQ(FilterItems(List({images[0], items[4]}), WithStatus(3), kODFilterStatus, none), 0);
}
