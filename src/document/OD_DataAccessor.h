#pragma once

#include <vector>

// Reading and writing the order and undo records of page items by reference,
// and the order-store operations the flows use: whether an item carries an
// order, adding orders to items, and picking items out of a list by their
// orders.

#include "HostIDs.h"
#include "IOrdoData.h"
#include "IOrdoUndoData.h"
#include "OD_ProcData.h"
#include "UIDRef.h"

#include <cstdint>
#include <functional>

// A record of one kind read from and written to wherever it lives.
template <class T> class DataAccessor {
public:
    virtual ~DataAccessor() = default;
    // 0 with the record in value, or a negative error.
    virtual int32_t Read(T& value) = 0;
    // Replaces the record; kSuccess, or kFailure (see the implementations).
    virtual ErrorCode Write(const T& value) = 0;
};

// Read of an item that is not usable or lacks the record.
inline constexpr int32_t kODNoItemRecordError = -8;

// A reference names a live object: a database, a UID other than kInvalidUID
// and a class the database knows for it (a deleted item has none).
bool IsUsableItemRef(const UIDRef& item);

// The order record of one page item. Read gives the record as the item holds
// it, texts unchanged (no text is cut here: a cut path would name some other
// file; fixed buffers further on check their own bounds). Write changes the
// record through OrdoSetDataCmd, one undo step; for an unusable reference it
// does nothing and returns kFailure, otherwise it returns what the command
// gave (the host's global error code tells the same).
class OD_DataAccessor : public DataAccessor<OD_ProcData> {
public:
    explicit OD_DataAccessor(const UIDRef& item) : item(item) {}
    int32_t Read(OD_ProcData& value) override;
    ErrorCode Write(const OD_ProcData& value) override;

private:
    UIDRef item;
};

// The undo record of one page item, through OrdoSetUndoDataCmd; as above.
class OD_UndoDataAccessor : public DataAccessor<OD_UndoData> {
public:
    explicit OD_UndoDataAccessor(const UIDRef& item) : item(item) {}
    int32_t Read(OD_UndoData& value) override;
    ErrorCode Write(const OD_UndoData& value) override;

private:
    UIDRef item;
};

// True when the item's order record has a status other than 0 and
// Provisional; false for an item without one.
bool IsOrdered(const UIDRef& item);

// Fills a new order record for a placed image: 0, or non-zero to stop.
using OD_OrderFiller =
    std::function<int(const UIDRef& item, OD_ProcData& record, bool provisional)>;

// AddOrders could not create or process its command.
inline constexpr int32_t kODAddOrdersError = -4;

// Gives every item of the list a new order record in one set-order-data
// command: each record starts new and is filled by `fill` in list order;
// filling stops at the first non-zero result (the items not reached get new,
// empty records) and the command is processed. provisional is true for the
// "Add Selected Item(s)" paths, false for refreshes. 0, or kODAddOrdersError
// when the command cannot be created or fails (an empty list among others).
int32_t AddOrders(const UIDList& items, bool provisional, const OD_OrderFiller& fill);
int32_t AddOrder(const UIDRef& item, bool provisional, const OD_OrderFiller& fill);
// The same with the records filled from the placed images by
// FillOrderFromImage.
int32_t AddOrders(const UIDList& items, bool provisional);
int32_t AddOrder(const UIDRef& item, bool provisional);

// Tests FilterItems can make, combined in its mask.
inline constexpr uint32_t kODFilterStatus = 0x0001;      // the statuses share a bit
inline constexpr uint32_t kODFilterProcessCode = 0x0002; // same process code
inline constexpr uint32_t kODFilterImageClass = 0x0100;  // same image class

// Appends to out the items whose order record passes every test the mask
// selects against the pattern, in list order; stops at the first item
// without an order record. Returns out's length afterwards.
int32_t FilterItems(const UIDList& items, const OD_ProcData& pattern, uint32_t mask, UIDList& out);

// Stores records on items in one set-order-data command (one undo step), item
// i receiving record i. kSuccess, or kFailure when the command cannot be made
// or fails.
ErrorCode StoreOrderRecords(const UIDList& items, const std::vector<OD_ProcData>& records);
