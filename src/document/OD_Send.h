#pragma once

// Sending the orders that page items carry, and checking their resampling,
// with the records read from the items; sent orders are stored back through
// the set-data command.

#include "OD_ProcData.h"
#include "UIDRef.h"

#include <cstdint>
#include <string>
#include <vector>

class OD_PrefsData;
class QOR_EndPoint;

// The set-data command that stores the sent orders failed.
inline constexpr int32_t kODSendStoreError = -4;

// Sends the order that the item carries (see SendOrder in OD_Ticket.h): 0
// with the Sent record in updated, -1 also when the item has no order
// record. Nothing is stored.
int SendOrder(const UIDRef& item, QOR_EndPoint* endpoint, OD_ProcData& updated);

// The record of jobs out cannot be kept (no identity folder, or its file
// cannot be written): nothing is sent without it.
inline constexpr int32_t kODSendNoJournal = -30;

// Why an order is not sent, besides the refusals of BuildTicket (OD_Ticket.h).
inline constexpr int kODSendSourceMissing = -25; // the image's file cannot be read
inline constexpr int kODSendLinkPathTooLong =
    -26; // the placed file's path does not fit the undo record
inline constexpr int kODSendSameOutput =
    -27; // the output path is another order's, or a placed file's

// Whether an order is one that "Send" takes: Ready, or failed (it is then
// sent again).
bool IsSendableOrRetry(uint16_t status);

// One order of a batch, checked before anything is sent.
struct OD_SendCheck {
    UIDRef item;
    OD_ProcData order;
    int result = 0;         // 0: it can go; else why not
    std::string outputPath; // where its processed file is to be written
    std::string clash;      // kODSendSameOutput: the image whose file it would take
    std::string detail;     // a system's reason, when known
};

// Checks every order of items that Send takes (see IsSendableOrRetry), in
// order, without sending anything: its ticket can be built, its image's file
// can be read, its placed file's path fits the undo record, and its output
// path is neither that of an earlier order of the batch nor the file of an
// image placed among placed (nor, unless "Replace original" says so, its own
// source), compared without extensions, since the server gives its file the
// extension of its output format. Items whose order Send does not take are
// left out.
std::vector<OD_SendCheck> CheckOrdersForSending(const UIDList& items, const UIDList& placed);

// The user's words for a refused order: the image's name, then why.
std::string SendRefusalText(const OD_SendCheck& check);

// How a batch of sends went, besides the count.
struct OD_SendReport {
    int32_t sent = 0;       // new jobs published
    int32_t waiting = 0;    // orders whose earlier job was still out: Sent again under it
    int32_t notSent = 0;    // orders left Ready because the batch stopped
    int32_t stopResult = 0; // the result that stopped the batch (0: it did not stop)
    int systemError = 0;    // the system's error number behind it, when known
};

// Sends the order of each item, in list order, then stores the records of
// the orders that were sent (status Sent and their job names) in one set-data
// command: one undo step. Orders that were not sent stay as they were.
//
// Every job is entered in the record of jobs out before it is published, so
// an order that went out is never sent a second time: an order that shows
// Ready while an earlier job of it is still out (a crash before the document
// was saved, or a host Undo of the send) takes that job back when the server
// has not taken it, and is otherwise Sent again under it without a new job.
// The batch stops at the first order that the hot folder or the record does
// not take (a full disk, a folder that cannot be written): the orders after
// it stay Ready, and report says why.
//
// results, when given, receives SendOrder's result per item (0 also for an
// order Sent again under its earlier job). The number of orders stored Sent,
// or kODSendStoreError when there were some and the command failed (their
// jobs are with the server and in the record all the same, so they are found
// again and not sent twice).
int32_t SendOrders(const UIDList& items, QOR_EndPoint* endpoint,
                   std::vector<int>* results = nullptr, OD_SendReport* report = nullptr);

// The resampling check of the order that the item carries (see
// CheckResampling in OD_Resampling.h): 0 when the item has no order record.
int CheckResampling(const UIDRef& item, const OD_PrefsData& prefs, int& factor);
