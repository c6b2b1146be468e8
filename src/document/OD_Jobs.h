#pragma once
// The orders' side of the record of jobs out (OD_JobJournal): which document
// a job belongs to, finding a job that is still out for an order that shows
// Ready (after a crash before the document was saved, or after a host Undo of
// the send), and what saving, closing and opening a document do to the
// record and to the server's replies.
#include "OD_JobJournal.h"
#include "OD_ProcData.h"
#include "UIDRef.h"

#include <cstdint>
#include <string>
#include <vector>

class IDataBase;
class OD_Log;
class QOR_EndPoint;

// A message of the string tables in the user's language with its %d filled
// in, in order, and a text that is no translation (a job's name, a system's
// reason) after it.
std::string OrdoMessage(const char* key, const std::vector<int32_t>& numbers,
                        const std::string& tail = std::string());

// The name of the image an order is about, for messages: the file name of
// its linked file (of the file sent when it has none).
std::string OrderImageName(const OD_ProcData& order);

// The key under which the record files a document's jobs: its file path, or,
// for a document that was never saved, a key of this run.
std::string DocumentKey(IDataBase* db);
// Forgets the key of a document that closed.
void ForgetDocumentKey(IDataBase* db);

// A job still out for the order on item: a job of this document and page
// item, for the same image, that is not the order's own job and whose result
// no saved document holds. False when there is none.
bool FindJobOut(const OD_JobJournal& journal, const UIDRef& item, const OD_ProcData& order,
                OD_JobEntry& entry);
// The same among entries already read.
bool FindJobOut(const std::vector<OD_JobEntry>& entries, const UIDRef& item,
                const OD_ProcData& order, OD_JobEntry& entry);

// What becomes of an order that shows Ready while its job is still out.
enum class OD_JobOutcome {
    withdrawn, // the server had not taken it: taken back, the order may go again
    adopted,   // the server has it: the order is Sent again under that job
};
// Takes the job back from the hot folder of its server when the server has
// not taken it (its record is then removed); otherwise the order is to wait
// for the job's reply: updated then holds the order Sent under the job's name.
OD_JobOutcome SettleJobOut(const OD_JobJournal& journal, const OD_JobEntry& entry,
                           const OD_ProcData& order, OD_ProcData& updated);

// Settles, in idle time, the job still out for an order that shows Ready:
// withdrawn, or the order Sent again (through the set-data command). A line
// goes to the log either way. False when there was nothing to settle.
bool SettleReadyOrder(const UIDRef& item, OD_Log* log);

// The reply to the order's job as the record keeps it, when the record holds
// the reply; false otherwise.
bool RecordedReply(const OD_JobJournal& journal, const std::string& job, std::string& text);
// Keeps the reply to the order's job in the record, before the document takes
// its result; an order sent before the record was kept gets an entry of its
// own. 0 or the error number.
int RecordReply(const OD_JobJournal& journal, const UIDRef& item, const OD_ProcData& order,
                const QOR_EndPoint* endpoint, const std::string& text);

// A document was saved (previousKey: the key it had before, which a first
// save or a save as changes). Its entries follow it to its file; the server's
// reply of every job whose result the saved file holds is released.
void NoteDocumentSaved(IDataBase* db, const std::string& previousKey);
// A document is closing: the entries whose result its saved file holds are
// removed; those of a document that was never saved go with their replies
// once answered.
void NoteDocumentClosing(IDataBase* db);
// A document was opened: an order stored Ready whose job went out before a
// crash is Sent again under that job (one set-data command, a line in the
// log); entries whose result the file holds are removed with their replies.
// The number of orders found again.
int32_t NoteDocumentOpened(IDataBase* db, OD_Log* log);

// Removes the entries sent more than days ago, releasing their replies on the
// server, except those of the open documents given. The number removed.
int32_t CleanOldJobs(const OD_JobJournal& journal, int64_t now, int days,
                     const std::vector<std::string>& openDocuments);

// Releases the server's reply file of a job, through an endpoint opened on
// the server the entry names. True when the reply is gone (or never was).
bool ReleaseRecordedReply(const OD_JobEntry& entry);
