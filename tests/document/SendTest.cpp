// Sending the orders that placed images carry: the records read from the
// items, the sent ones stored back in one undo step, the others left; the
// resampling check of an item's order and its English texts.

#include "OD_Send.h"

#include "../host/DocumentTestKit.h"
#include "../host/RecordingEndPoint.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "ICommand.h"
#include "IDataBase.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "OD_DataAccessor.h"
#include "OD_Preferences.h"
#include "OD_Resampling.h"
#include "OD_Ticket.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"
#include "OrdoDocumentKit.h"
#include "QOR_EndPoint.h"
#include "SessionIDs.h"
#include "StringTables.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class SendTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetHostForTesting();
        ordokit::RegisterOrdoDocument();
        RegisterHostServices();
        RegisterPreferenceImplementations();
        ObjectModel::Get().AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
        db = DocumentUtils::NewDocument();
        image = dir / "photo.tif";
        dockit::WriteTiff(image, 40, 20, 72);
        for (int i = 0; i < 3; ++i) {
            items[i] = dockit::PlaceFile(
                dockit::AddFrame(db.get(), PMRect(10 + 60 * i, 10, 50 + 60 * i, 30)), image);
        }
    }
    void TearDown() override {
        db.reset();
        HostStrings::Reset();
        ResetHostForTesting();
        ObjectModel::Get().Reset();
    }

    OD_ProcData Order(uint16_t status) const {
        OD_ProcData order;
        order.status = status;
        order.processCode = 1;
        order.outputName = PMString("photo");
        order.sourcePath = PMString(image);
        order.formatCode = 0x100;
        order.resolution = 72;
        return order;
    }
    void Store(int i, const OD_ProcData& order) const {
        ASSERT_EQ(OD_DataAccessor(items[i]).Write(order), kSuccess);
    }
    OD_ProcData Stored(int i) const { return ordokit::Order(items[i]); }
    UIDList All() const {
        UIDList list(db.get());
        for (const UIDRef& item : items) {
            list.Append(item);
        }
        return list;
    }

    ordokit::ScopedSystemFolder systemFolder;
    TempDir dir;
    std::unique_ptr<IDataBase> db;
    std::string image;
    UIDRef items[3];
    RecordingEndPoint endpoint;
};

TEST_F(SendTest, TheItemsRecordIsSentAndNotStored) {
    Store(0, Order(kODStatusReady));
    OD_ProcData updated;
    ASSERT_EQ(SendOrder(items[0], &endpoint, updated), 0);
    EXPECT_EQ(updated.status, kODStatusSent);
    EXPECT_EQ(updated.jobName, "job0001");
    EXPECT_EQ(Stored(0).status, kODStatusReady);
    ASSERT_EQ(endpoint.bodies.size(), 1u);
    EXPECT_NE(endpoint.bodies[0].find("PATHIN: " + image + "\n"), std::string::npos);
}

TEST_F(SendTest, AnItemWithoutAnOrderRecordIsNotSent) {
    OD_ProcData updated;
    EXPECT_EQ(SendOrder(UIDRef(db.get(), kInvalidUID), &endpoint, updated), -1);
    // A record with status 0: not Ready.
    EXPECT_EQ(SendOrder(items[0], &endpoint, updated), -1);
    EXPECT_TRUE(endpoint.bodies.empty());
}

TEST_F(SendTest, SentOrdersAreStoredInOneUndoStepAndTheOthersLeft) {
    Store(0, Order(kODStatusReady));
    Store(1, Order(kODStatusDone));
    OD_ProcData tooLong = Order(kODStatusReadyAlt);
    tooLong.sourcePath = PMString("/" + std::string(600, 's'));
    Store(2, tooLong);
    const OD_ProcData before0 = Stored(0);

    std::vector<int> results;
    const int undoBefore = db->UndoCount();
    EXPECT_EQ(SendOrders(All(), &endpoint, &results), 1);
    EXPECT_EQ(results, (std::vector<int>{0, -1, kODSendPathInTooLong}));
    EXPECT_EQ(db->UndoCount(), undoBefore + 1);

    OD_ProcData want = before0;
    want.status = kODStatusSent;
    want.jobName = PMString("job0001");
    EXPECT_EQ(Stored(0), want);
    EXPECT_EQ(Stored(1), Order(kODStatusDone));
    EXPECT_EQ(Stored(2), tooLong);

    // Sent orders are not sent again.
    EXPECT_EQ(SendOrders(All(), &endpoint, &results), 0);
    EXPECT_EQ(endpoint.bodies.size(), 1u);
}

TEST_F(SendTest, NothingIsStoredWhenTheServerLinkFails) {
    Store(0, Order(kODStatusReady));
    endpoint.answer = -4;
    const int undoBefore = db->UndoCount();
    std::vector<int> results;
    EXPECT_EQ(SendOrders(All(), &endpoint, &results), 0);
    EXPECT_EQ(results[0], -4);
    EXPECT_EQ(db->UndoCount(), undoBefore);
    EXPECT_EQ(Stored(0).status, kODStatusReady);
}

TEST_F(SendTest, TheResamplingCheckReadsTheItemsOrder) {
    OD_PrefsData prefs;
    int factor = 0;
    Store(0, Order(kODStatusReady));
    EXPECT_EQ(CheckResampling(items[0], prefs, factor), kODResamplingTooSmall);
    EXPECT_EQ(factor, 54);
    EXPECT_EQ(ResamplingText(kODResamplingTooSmall, factor),
              "Insufficient number of pixels, the maximum scale factor is : 54 %");
    EXPECT_EQ(ResamplingText(kODResamplingTooBig, 120),
              "Too many pixels, the minimum scale factor is : 120 %");
    EXPECT_EQ(ResamplingText(kODResamplingUnknownRes, 0),
              "Cannot check image dimensions (OPI low res)");
    EXPECT_EQ(ResamplingText(kODResamplingOK, 0), "Dimensions are OK");
    EXPECT_EQ(CheckResampling(UIDRef(db.get(), kInvalidUID), prefs, factor), kODResamplingOK);
}

} // namespace
