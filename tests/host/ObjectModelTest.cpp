#include "ObjectModel.h"
#include "HostInterfaceIDs.h"
#include "HostTestKit.h"
#include "ICommand.h"
#include "IDataBase.h"
#include "IPMStream.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr PMIID IID_ITESTVALUE{0x90001};
constexpr PMIID IID_ITESTNOTE{0x90002};
constexpr ClassID kTestItemBoss{0x90001};
constexpr ClassID kTestDerivedBoss{0x90002};
constexpr ClassID kTestSetValueCmdBoss{0x90003};
constexpr ImplementationID kTestValueImpl{0x90001};
constexpr ImplementationID kTestNoteImpl{0x90002};
constexpr ImplementationID kTestSetValueCmdImpl{0x90003};

using hosttest::ITestValue;
using hosttest::TestValue;

// A non-persistent note.
class ITestNote : public IPMUnknown {};
class TestNote : public CPMUnknown<ITestNote> {
public:
    using CPMUnknown<ITestNote>::CPMUnknown;
};

InterfacePtr<ITestValue> Value(IDataBase& db, UID uid) {
    return InterfacePtr<ITestValue>(static_cast<ITestValue*>(db.Instantiate(uid, IID_ITESTVALUE)));
}

// Sets the first item's value, then fails (error code 1), so that abort has
// something to undo.
class TestSetValueCmd : public CCommand {
public:
    explicit TestSetValueCmd(IPMUnknown* o) : CCommand(o) { SetName(PMString("Set Value")); }
    void Do() override {
        Value(*itemList.GetDataBase(), itemList[0])->Set(-1, "cmd");
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
    }
    void DoNotify() override { ++notified; }
    static inline int notified = 0;
};

class ObjectModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ObjectModel& m = ObjectModel::Get();
        m.Reset();
        m.RegisterImplementation(
            {kTestValueImpl, "TestValue", CreateImplementation<TestValue>, true});
        m.RegisterImplementation(
            {kTestNoteImpl, "TestNote", CreateImplementation<TestNote>, false});
        m.RegisterImplementation({kTestSetValueCmdImpl, "TestSetValueCmd",
                                  CreateImplementation<TestSetValueCmd>, false});
        m.DefineClass({kTestItemBoss, kInvalidClass, {{IID_ITESTVALUE, kTestValueImpl}}});
        m.DefineClass({kTestDerivedBoss, kTestItemBoss, {{IID_ITESTNOTE, kTestNoteImpl}}});
        m.DefineClass(
            {kTestSetValueCmdBoss, kInvalidClass, {{IID_ICOMMAND, kTestSetValueCmdImpl}}});
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    }
    void TearDown() override { ObjectModel::Get().Reset(); }
};

} // namespace

TEST_F(ObjectModelTest, FailedCommandsChangeNothingAndObjectsComeAndGoWithUndo) {
    IDataBase db;
    UID keep = db.NewUID(kTestItemBoss);
    Value(db, keep)->Set(1, "keep");
    InterfacePtr<ICommand> cmd(CmdUtils::CreateCommand(kTestSetValueCmdBoss));
    cmd->SetItemList(UIDList(UIDRef(&db, keep)));
    EXPECT_EQ(CmdUtils::ProcessCommand(cmd.get()), kFailure);
    EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kFailure);
    EXPECT_EQ(Value(db, keep)->Get(), 1);
    EXPECT_EQ(Value(db, keep)->Text(), "keep");
    EXPECT_FALSE(db.CanUndo());
    EXPECT_EQ(TestSetValueCmd::notified, 0);
    EXPECT_EQ(CmdUtils::ProcessCommand(nullptr), kFailure);

    db.BeginTransaction(PMString("Make and delete"));
    UID made = db.NewUID(kTestItemBoss);
    Value(db, made)->Set(2, "made");
    Value(db, keep)->Set(3, "changed then deleted");
    db.DeleteUID(keep);
    UID transient = db.NewUID(kTestItemBoss);
    db.DeleteUID(transient);
    db.EndTransaction();

    EXPECT_FALSE(db.IsValidUID(keep));
    EXPECT_TRUE(db.IsValidUID(made));
    ASSERT_TRUE(db.Undo());
    EXPECT_FALSE(db.IsValidUID(made));
    ASSERT_TRUE(db.IsValidUID(keep));
    EXPECT_EQ(Value(db, keep)->Text(), "keep");
    EXPECT_FALSE(db.IsValidUID(transient));
    ASSERT_TRUE(db.Redo());
    EXPECT_FALSE(db.IsValidUID(keep));
    ASSERT_TRUE(db.IsValidUID(made));
    EXPECT_EQ(Value(db, made)->Text(), "made");
    // An interface held on a deleted object stays valid.
    InterfacePtr<ITestValue> held = Value(db, made);
    db.DeleteUID(made);
    EXPECT_EQ(held->Get(), 2);
    EXPECT_FALSE(db.IsValidUID(made));
}

TEST_F(ObjectModelTest, SnapshotRestoresAndRefusesWhatDoesNotRead) {
    IDataBase db;
    UID a = db.NewUID(kTestItemBoss);
    UID b = db.NewUID(kTestDerivedBoss);
    Value(db, a)->Set(11, std::string(300, 'x'));
    Value(db, b)->Set(12, "b");
    db.SetRootUID(a);
    auto stored = db.Snapshot();
    ASSERT_EQ(stored.size(), 2u);

    IDataBase copy;
    std::string why;
    ASSERT_TRUE(copy.Restore(stored, a, why)) << why;
    EXPECT_EQ(Value(copy, a)->Text(), std::string(300, 'x'));
    EXPECT_EQ(copy.GetClass(b), kTestDerivedBoss);
    EXPECT_EQ(copy.NewUID(kTestItemBoss).Get(), 3u) << "new UIDs follow the restored ones";

    // Bytes that do not read back whole, an unknown class, a duplicate UID or
    // a missing root: refused with a reason, the old content kept.
    std::vector bad(4, stored);
    bad[0][0].implementations[kTestValueImpl.Get()].resize(6);
    bad[1][0].implementations[kTestValueImpl.Get()].push_back(0);
    bad[2][1].classID = ClassID(0x777);
    bad[3].push_back(stored[0]);
    for (const auto& objects : bad) {
        why.clear();
        EXPECT_FALSE(copy.Restore(objects, a, why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(Value(copy, a)->Get(), 11);
    }
    EXPECT_FALSE(copy.Restore(stored, UID(99), why));
    EXPECT_NE(why.find("root"), std::string::npos);
}

TEST(Streams, OneEncodingBothWaysAndLyingLengthsFail) {
    struct Values {
        int16_t s = 0;
        int32_t i = 0;
        bool t = false, t16 = false;
        double d = 0;
        std::string text;
        void Xfer(IPMStream& stream) {
            stream.XferInt16(s);
            stream.XferInt32(i);
            stream.XferBool(t);
            stream.XferBool16(t16);
            stream.XferReal(d);
            stream.XferString(text);
        }
    } written{-3, 0x12345678, true, true, 2.5, "naïve"}, read;
    MemoryStream out;
    written.Xfer(out);
    const auto& bytes = out.Bytes();
    ASSERT_EQ(bytes.size(), 2u + 4 + 1 + 2 + 8 + 4 + 6);
    EXPECT_EQ(bytes[2], 0x78); // little-endian
    MemoryStream in(bytes);
    read.Xfer(in);
    EXPECT_TRUE(in.Good());
    EXPECT_EQ(std::tie(read.s, read.i, read.t, read.t16, read.d, read.text),
              std::tie(written.s, written.i, written.t, written.t16, written.d, written.text));

    // A length that runs past the end fails without allocating it.
    std::vector<uint8_t> lying = {0xFF, 0xFF, 0xFF, 0x7F, 'a'};
    MemoryStream bad(lying);
    std::string kept = "kept";
    bad.XferString(kept);
    EXPECT_FALSE(bad.Good());
    EXPECT_EQ(kept, "kept");
    int32_t after = 5;
    bad.XferInt32(after);
    EXPECT_EQ(after, 5);
}
