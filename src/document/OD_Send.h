#pragma once

// Sending the orders that page items carry, and checking their resampling,
// with the records read from the items; sent orders are stored back through
// the set-data command.

#include "OD_ProcData.h"
#include "UIDRef.h"

#include <cstdint>
#include <vector>

class OD_PrefsData;
class QOR_EndPoint;

// The set-data command that stores the sent orders failed.
inline constexpr int32_t kODSendStoreError = -4;

// Sends the order that the item carries (see SendOrder in OD_Ticket.h): 0
// with the Sent record in updated, -1 also when the item has no order
// record. Nothing is stored.
int SendOrder(const UIDRef& item, QOR_EndPoint* endpoint, OD_ProcData& updated);

// Sends the order of each item, in list order, then stores the records of
// the orders that were sent (status Sent and their job names) in one set-data
// command: one undo step. Orders that were not sent stay as they were.
// results, when given, receives SendOrder's result per item. The number of
// orders sent, or kODSendStoreError when there were some and the command
// failed (their jobs are with the server all the same).
int32_t SendOrders(const UIDList& items, QOR_EndPoint* endpoint,
                   std::vector<int>* results = nullptr);

// The resampling check of the order that the item carries (see
// CheckResampling in OD_Resampling.h): 0 when the item has no order record.
int CheckResampling(const UIDRef& item, const OD_PrefsData& prefs, int& factor);
