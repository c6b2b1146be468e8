#pragma once

#include <string>
#include <vector>

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "PMString.h"
#include "SessionIDs.h"
#include "UIDRef.h"

#include <cstdint>

class IActionManager;
class IActiveContext;
class IDataBase;
class IIdleTaskMgr;
class IMenuManager;
class IPanelMgr;
class IShortcutManager;

// The open documents, in the order they were opened, and the front one.
//
// The caller makes and owns each document's database (and its document
// object in it); the list only names them and keeps each until it is closed.
// The database must live until CloseDocument has returned.
class IDocumentList : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IDOCUMENTLIST.value };

    virtual int32_t GetDocCount() const = 0;
    // The n-th document object (its database and UID), or a null reference.
    virtual UIDRef GetNthDoc(int32_t n) const = 0;
    // The position of the document with that database, or -1.
    virtual int32_t Location(const IDataBase* db) const = 0;

    // Takes in a document that was just made: signals before, during and
    // after new (kBefore/During/AfterNewDocSignalResponderService) and makes
    // it the front document. The document object is documentUID in db (the
    // database's root object when documentUID is kInvalidUID). kFailure for a
    // null database or one the list already holds.
    virtual ErrorCode AddNewDocument(IDataBase* db, UID documentUID, const PMString& name) = 0;
    // The same for a document read from a file: the open signals.
    virtual ErrorCode AddOpenedDocument(IDataBase* db, UID documentUID, const PMString& name) = 0;
    // Signals before close, takes the document out, signals after close; the
    // front document becomes the one opened last of those left. kFailure for
    // a database the list does not hold.
    virtual ErrorCode CloseDocument(IDataBase* db) = 0;
    // Saves a document the list holds to the path (DocumentFile::Save) with
    // the save signals around it: before and after save when the path is the
    // document's own, before and after save as when it is another. The after
    // signal comes only when the file was written. kFailure with why. What
    // the file's format could not keep is added to *warnings.
    virtual ErrorCode SaveDocument(IDataBase* db, const PMString& path, std::string& why,
                                   std::vector<std::string>* warnings = nullptr) = 0;

    // The front document, or null (a null reference) when none is open.
    virtual IDataBase* GetFrontDocument() const = 0;
    virtual UIDRef GetFrontDocumentRef() const = 0;
    // False for a database the list does not hold.
    virtual bool SetFrontDocument(IDataBase* db) = 0;

    // The object that carries a document's selection suites (the layout
    // selection); the list keeps a reference. Null clears it.
    virtual bool SetDocumentSelection(IDataBase* db, IPMUnknown* selection) = 0;
    virtual IPMUnknown* GetDocumentSelection(const IDataBase* db) const = 0;
};

// The application: its state and flags, its documents and managers.
class IApplication : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IAPPLICATION.value };

    enum ApplicationState : int32_t {
        kAppNotStarted = 0,
        kAppStarting = 1,
        kAppRunning = 2,
        kAppShuttingDown = 3,
        kAppStopped = 4,
    };

    // Application flags, given to every idle task. Any of kAppBusyFlags means
    // the user is in the middle of something and idle work should wait.
    enum AppFlags : uint32_t {
        kAppFlagModalDialog = 0x01,
        kAppFlagInBackground = 0x02,
        kAppFlagMouseTracking = 0x04,
        kAppFlagTextEditing = 0x08,
        kAppFlagDragging = 0x10,
    };
    static constexpr uint32_t kAppBusyFlags = 0x1D;

    virtual int32_t GetApplicationState() const = 0;
    virtual uint32_t GetAppFlags() const = 0;
    // Sets or clears the flags; a change wakes the idle tasks that wait for it.
    virtual void SetAppFlags(uint32_t flags, bool on) = 0;

    // Starts the application once: runs the startup services (in the order
    // their providers were registered), enters kAppRunning and sends
    // kAppStartedMessage on its subject (protocol IID_IAPPLICATIONSTARTUP).
    // kFailure when it was already started.
    virtual ErrorCode Startup() = 0;
    // Stops it once: the startup services' Shutdown, in reverse order; then
    // kAppStopped.
    virtual void Shutdown() = 0;

    // Each returns its interface with a reference added.
    virtual IDocumentList* QueryDocumentList() = 0;
    virtual IActionManager* QueryActionManager() = 0;
    virtual IShortcutManager* QueryShortcutManager() = 0;
    virtual IMenuManager* QueryMenuManager() = 0;
    virtual IIdleTaskMgr* QueryIdleTaskManager() = 0;
    virtual IPanelMgr* QueryPanelManager() = 0;

    // The context of an action asked for now: the front document with its
    // selection. Valid until the documents change.
    virtual IActiveContext* GetActiveContext() = 0;
};
