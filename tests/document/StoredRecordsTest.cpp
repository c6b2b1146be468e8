// Stored records: the order record's stream at every version, the undo record's block, the
// commands as undo steps, the accessors and the order-store operations.
#include "OrdoDocumentKit.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace ordokit;

struct ByteWriter {
    MemoryStream out;
    ByteWriter& I16(int16_t v) { return out.XferInt16(v), *this; }
    ByteWriter& U32(uint32_t v) { return out.XferUInt32(v), *this; }
    ByteWriter& Real(double v) { return out.XferReal(v), *this; }
    ByteWriter& Text(std::string v) { return out.XferString(v), *this; }
    ByteWriter& Raw(const Bytes& v) { return out.Write(v.data(), v.size()), *this; }
    // A placement as the undo record streams it: version, six reals, two flags.
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
    r.auxFlag = 0x8001;
    r.imageClass = kODClassRGB;
    r.profile = "Magazine";
    r.auxText = "aux";
    r.outputName = "Photo";
    r.prefix = "ABCDE";
    r.jobName = "job0001";
    r.sourcePath = "Volumes:Images:Photo.tif";
    r.linkPath = "Volumes:Layout:Photo.tif";
    r.prefsFileName = "press.opf";
    r.pixelWidth = 4000;
    r.pixelHeight = 3000;
    r.formatCode = 0x100;
    r.resolution = 300.5;
    return r;
}

// What each version after 256 added to the stream, and the fields an older record reads as new.
struct Added {
    void (*write)(ByteWriter&);
    void (*reset)(OD_ProcData&);
} const kAdded[] = {
    {[](ByteWriter& w) { w.Text("ABCDE"); }, [](OD_ProcData& r) { r.prefix = {}; }},
    {[](ByteWriter& w) { w.Text("job0001"); }, [](OD_ProcData& r) { r.jobName = {}; }},
    {[](ByteWriter& w) { w.U32(kODClassRGB); }, [](OD_ProcData& r) { r.imageClass = 0; }},
    {[](ByteWriter& w) { w.U32(4000).U32(3000).U32(0x100).Text("Volumes:Images:Photo.tif"); },
     [](OD_ProcData& r) { r.pixelWidth = r.pixelHeight = r.formatCode = 0, r.sourcePath = {}; }},
    {[](ByteWriter& w) { w.Real(300.5); }, [](OD_ProcData& r) { r.resolution = 0; }},
    {[](ByteWriter& w) { w.Text("Volumes:Layout:Photo.tif"); },
     [](OD_ProcData& r) { r.linkPath = {}; }},
    {[](ByteWriter& w) { w.Text("press.opf"); }, [](OD_ProcData& r) { r.prefsFileName = {}; }},
};

// The stored form of Full() as a writer of `version` would have made it.
Bytes StoredAtVersion(int16_t version) {
    ByteWriter w;
    w.I16(1).I16(version).I16(kODStatusSent).I16(12).Text("Magazine").I16(int16_t(0x8001));
    w.Text("aux").Text("Photo");
    for (int i = 0; i < version - 256; ++i) {
        kAdded[i].write(w);
    }
    return w.Take();
}

// Whether the record was read, and the bytes left after it.
template <class Record, class Xfer>
std::pair<bool, std::size_t> Read(const Bytes& bytes, Record& record, Xfer xfer) {
    MemoryStream in(bytes);
    const bool good = xfer(&in, record);
    return {good, in.Remaining()};
}
const std::pair<bool, std::size_t> kWhole{true, 0}; // read, every byte of it

template <class Record, class Xfer> Bytes Write(Record record, Xfer xfer) {
    MemoryStream out;
    EXPECT_TRUE(xfer(&out, record));
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

// An undo record's block with the path given as a claimed length and raw bytes.
Bytes UndoBlock(uint32_t pathLength, const Bytes& pathBytes, bool placements = true) {
    ByteWriter w;
    w.I16(256).I16(8).U32(pathLength).Raw(pathBytes);
    if (placements) {
        w.Placement({1, 1, 1, 1, 1, 1}, 0, 1).Placement({1, 1, 1, 1, 1, 1}, 0, 1);
    }
    return w.Take();
}
// The block as the host stream carries it: its byte count first.
Bytes Framed(const Bytes& block) {
    return ByteWriter().U32(uint32_t(block.size())).Raw(block).Take();
}
Bytes PathBytes(const std::string& text) {
    return Bytes(text.c_str(), text.c_str() + text.size() + 1); // with its NUL
}

struct Watch : IObserver {
    int updates = 0;
    IPMUnknown* QueryInterface(PMIID) const override { return nullptr; }
    void AddRef() const override {}
    void Release() const override {}
    void Update(ClassID, ISubject*, PMIID, void*) override { ++updates; }
};

class StoredRecordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ordokit::RegisterOrdoDocument();
        db = DocumentUtils::NewDocument();
        const std::string image = dir / "photo.tif";
        dockit::WriteTiff(image, 40, 20, 72);
        for (int i = 0; i < 3; ++i) {
            frames[i] = dockit::AddFrame(db.get(), PMRect(10 + 60 * i, 10, 60 + 60 * i, 40));
            images[i] = dockit::PlaceFile(frames[i], image);
        }
    }
    void TearDown() override {
        SetOrdoListRebuildHook(nullptr);
        subject.reset(); // held on the document: goes before it
        db.reset();
        HostStrings::Reset();
        ObjectModel::Get().Reset();
    }

    UIDList List(std::initializer_list<UIDRef> refs) { return ordokit::ListOf(db.get(), refs); }
    ISubject* DocumentSubject() {
        subject.reset(static_cast<ISubject*>(db->Instantiate(db->GetRootUID(), IID_ISUBJECT)));
        return subject.get();
    }

    TempDir dir;
    std::unique_ptr<IDataBase> db;
    UIDRef frames[3];
    UIDRef images[3];
    InterfacePtr<ISubject> subject;
};

} // namespace

TEST(OrderRecordStream, VersionsReadTheWriterWritesTheLastAndCutOrLyingRecordsAreRefused) {
    for (int16_t version = 256; version <= 263; ++version) {
        SCOPED_TRACE(version);
        OD_ProcData expected = Full();
        for (int i = version - 256; i < 7; ++i) {
            kAdded[i].reset(expected);
        }
        // Read over other values: what the version lacks comes from a new record.
        OD_ProcData read = WithStatus(kODStatusDone, 3, kODClassCMYK);
        read.resolution = 1200.0;
        read.prefsFileName = "old.opf";
        ASSERT_EQ(Read(StoredAtVersion(version), read, ReadWriteProcData), kWhole);
        EXPECT_EQ(read, expected);
    }

    // The writer writes version 263 with every field, and reads back the same.
    Bytes bytes = Write(Full(), ReadWriteProcData);
    EXPECT_EQ(bytes, StoredAtVersion(263)) << "marker 1, version 263, field order and widths";
    bytes[0] = 0x5A; // the marker's value is not looked at
    bytes[1] = 0xA5;
    OD_ProcData read;
    ASSERT_EQ(Read(bytes, read, ReadWriteProcData), kWhole);
    EXPECT_EQ(read, Full());
    ASSERT_TRUE(Read(Write(OD_ProcData(), ReadWriteProcData), read, ReadWriteProcData).first);
    EXPECT_EQ(read, OD_ProcData()) << "a new record writes and reads as a new record";

    // A record cut short or with a lying length is refused and changes nothing. The first row:
    // the profile claims more bytes than the stream holds.
    std::vector<Bytes> bad{
        ByteWriter().I16(1).I16(263).I16(1).I16(10).U32(0x7FFFFFF0).Raw({'a'}).Take()};
    const Bytes stored = StoredAtVersion(263);
    for (std::size_t size = 0; size < stored.size(); ++size) {
        bad.emplace_back(stored.begin(), stored.begin() + static_cast<long>(size));
    }
    for (const Bytes& b : bad) {
        SCOPED_TRACE(b.size());
        OD_ProcData read = WithStatus(kODStatusDone, 4);
        EXPECT_FALSE(Read(b, read, ReadWriteProcData).first);
        EXPECT_EQ(read, WithStatus(kODStatusDone, 4));
    }
}

TEST(UndoRecordStream, PathsThatFitRoundTripALongerOneIsNeverCutAndLyingBlocksAreRefused) {
    // An empty path streams its NUL alone.
    const Bytes placement = ByteWriter().Placement({0, 0, 1, 1, 0, 0}).Take();
    EXPECT_EQ(
        Write(OD_UndoData(), ReadWriteUndoData),
        Framed(ByteWriter().I16(256).I16(0).U32(1).Raw({0}).Raw(placement).Raw(placement).Take()));
    for (std::size_t length : std::initializer_list<std::size_t>{0, 1, 22, kODUndoPathSize - 1}) {
        SCOPED_TRACE(length);
        OD_UndoData u = length == 0 ? OD_UndoData() : SampleUndo();
        ASSERT_EQ(u.SetOtherFile(std::string(length, 'p').c_str()), 0);
        Bytes bytes = Write(u, ReadWriteUndoData);
        EXPECT_EQ(bytes[4 + 4] | bytes[4 + 5] << 8, static_cast<int>(length + 1))
            << "counts its NUL";
        OD_UndoData read = length == 0 ? SampleUndo() : OD_UndoData();
        ASSERT_EQ(Read(bytes, read, ReadWriteUndoData), kWhole);
        EXPECT_EQ(read, u);
        EXPECT_EQ(std::string(read.otherFile), std::string(length, 'p'));
    }
    // The record's own version is not looked at; bytes after it in its block are left alone.
    Bytes block = UndoBlock(4, PathBytes("abc"));
    block[0] = 0x33;
    block.push_back(0xEE);
    OD_UndoData read;
    ASSERT_TRUE(Read(Framed(block), read, ReadWriteUndoData).first);
    EXPECT_STREQ(read.otherFile, "abc");
    EXPECT_EQ(read.savedStatus, 8);
    EXPECT_TRUE(read.processedPlacement.yMirrored);

    OD_UndoData u;
    EXPECT_EQ(u.SetOtherFile(std::string(kODUndoPathSize, 'q').c_str()), -1);
    EXPECT_EQ(u.otherFile[0], '\0') << "refused, not cut";
    EXPECT_EQ(u.SetOtherFile(nullptr), 0);
    EXPECT_EQ(u.otherFile[0], '\0');

    // Blocks that lie are refused and change nothing.
    const int32_t badPath = kODUndoBadPathError, shortBlock = kODUndoShortBlockError;
    struct Case {
        const char* name;
        Bytes block;
        int32_t error;
    } cases[] = {
        {"path length 0", UndoBlock(0, {}), badPath},
        {"path length past the limit", UndoBlock(256001, PathBytes("a")), badPath},
        {"path length 262: one byte too long for the field",
         UndoBlock(262, PathBytes(std::string(261, 'y'))), badPath},
        {"path of 300 bytes", UndoBlock(301, PathBytes(std::string(300, 'x'))), badPath},
        {"no NUL at the end", UndoBlock(3, {'a', 'b', 'c'}), badPath},
        {"a NUL inside the path", UndoBlock(4, {'a', 0, 'c', 0}), badPath},
        {"ends inside the path", UndoBlock(10, {'a', 'b'}, false), shortBlock},
        {"ends before the placements", UndoBlock(2, {'a', 0}, false), shortBlock},
        {"ends inside the status", ByteWriter().I16(256).Raw({1}).Take(), shortBlock},
        {"an empty block", {}, shortBlock},
    };
    const OD_UndoData before = SampleUndo();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OD_UndoData direct = before; // the record's own reader raises the error
        UBufferStreamRead block(c.block.data(), static_cast<uint32_t>(c.block.size()));
        try {
            direct.Serialize(block);
            ADD_FAILURE() << "accepted";
        } catch (const IMG_Exception& e) {
            EXPECT_EQ(e.Code(), c.error);
        }
        EXPECT_EQ(direct, before);
        OD_UndoData read = before; // through the host stream: the stream fails, the record stays
        MemoryStream in(Framed(c.block));
        EXPECT_FALSE(ReadWriteUndoData(&in, read));
        EXPECT_FALSE(in.Good());
        EXPECT_EQ(read, before);
    }
    // A byte count past the stream is refused before allocating; a stream may end in the count.
    const Bytes good = Write(SampleUndo(), ReadWriteUndoData);
    const Bytes tail(good.begin() + 4, good.end());
    for (const Bytes& lying : {ByteWriter().U32(uint32_t(good.size())).Raw(tail).Take(),
                               ByteWriter().U32(0xFFFFFFFFu).Raw(tail).Take(), Bytes{1, 0}}) {
        OD_UndoData read;
        EXPECT_FALSE(Read(lying, read, ReadWriteUndoData).first);
        EXPECT_EQ(read, OD_UndoData());
    }
}

TEST_F(StoredRecordsTest, ACommandChangesEachItemsOwnSlotAndWithoutItemsOrRecordsNothing) {
    auto process = [&](const UIDList& items, int32_t count) {
        InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kOrdoSetDataCmdBoss));
        InterfacePtr<IOrdoDataArray> records(command, IID_IORDODATAARRAY);
        command->SetItemList(items);
        records->SetCount(count);
        for (int32_t i = 0; i < count; ++i) {
            records->SetAt(WithStatus(kODStatusReady, static_cast<int16_t>(i + 1)), i);
        }
        return CmdUtils::ProcessCommand(command.get());
    };
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
        EXPECT_EQ(process(c.items, c.count), kFailure);
        EXPECT_EQ(std::tuple(ErrorUtils::PMGetGlobalErrorCode(), Order(images[0]), db->UndoCount()),
                  std::tuple(kFailure, OD_ProcData(), stepsBefore));
    }
    // The undo command likewise; an undo record whose path does not end in its field is refused.
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
    EXPECT_EQ(std::tuple(Undo(images[0]), Undo(images[1]), db->UndoCount(), watch.updates),
              std::tuple(OD_UndoData(), OD_UndoData(), stepsBefore, 0));
    DocumentSubject()->DetachObserver(&watch, IID_IORDODATA);

    // Three items, the second a frame without the record: each item its own slot.
    EXPECT_EQ(process(List({images[0], frames[1], images[2]}), 3), kSuccess);
    EXPECT_EQ(std::tuple(ErrorUtils::PMGetGlobalErrorCode(), db->UndoCount()),
              std::tuple(kSuccess, stepsBefore + 1));
    EXPECT_EQ(Order(images[0]), WithStatus(kODStatusReady, 1));
    EXPECT_EQ(Order(images[1]), OD_ProcData());
    EXPECT_EQ(Order(images[2]), WithStatus(kODStatusReady, 3));
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Order(images[0]), OD_ProcData());
    EXPECT_EQ(Order(images[2]), OD_ProcData());
}

TEST_F(StoredRecordsTest, ReadOnADeletedOrUnusableItemGivesMinus8AndWriteDoesNothing) {
    ASSERT_EQ(OD_DataAccessor(images[2]).Write(Full()), kSuccess);
    ASSERT_EQ(DocumentUtils::DeletePageItem(frames[2]), kSuccess);
    const int32_t steps = db->UndoCount();
    const std::pair<const char*, UIDRef> cases[] = {
        {"deleted image", images[2]},
        {"invalid reference", UIDRef()},
        {"no database", UIDRef(nullptr, images[0].GetUID())},
        {"kInvalidUID", UIDRef(db.get(), kInvalidUID)},
        {"unknown UID", UIDRef(db.get(), UID(9999))},
        {"item without the records (a frame)", frames[0]},
    };
    for (const auto& [name, item] : cases) {
        SCOPED_TRACE(name);
        OD_ProcData order = Full();
        EXPECT_EQ(OD_DataAccessor(item).Read(order), kODNoItemRecordError);
        EXPECT_EQ(order, Full()) << "the caller's value is left alone";
        OD_UndoData undo = SampleUndo();
        EXPECT_EQ(OD_UndoDataAccessor(item).Read(undo), kODNoItemRecordError);
        EXPECT_EQ(undo, SampleUndo());
        EXPECT_FALSE(IsOrdered(item));
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
    EXPECT_EQ(std::pair(lastProvisional, IsOrdered(images[1])), std::pair(false, true));

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
