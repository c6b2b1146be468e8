#pragma once

#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "SessionIDs.h"

#include <cstdint>
#include <string>

class IApplication;

// The host session: one object of class kSessionBoss (0x101) per process. A
// plug-in puts its own interfaces on it with ObjectModel::AddIn before the
// session is first asked for; the persistent ones among them are what the
// session file keeps between runs.
//
// Session file. Binary, every integer little-endian:
//   8 bytes    "ODSESSN" and a NUL
//   uint32     format version, 1
//   uint32     number of records
//   per record: uint32 implementation ID, uint32 byte count, the bytes that
//              the implementation's ReadWrite wrote
//   uint32     CRC-32 (the zlib polynomial) of everything before it
// Records of implementations the session does not carry (a plug-in that is
// not loaded) are skipped on reading. A file that is not whole, not of this
// kind, or whose data an implementation does not read back whole is refused
// with the reason, and the session keeps every value it had.
class ISession : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ISESSION.value };

    // The application, with a reference added (made at first use).
    virtual IApplication* QueryApplication() = 0;
    // The application's state (IApplication::ApplicationState).
    virtual int32_t GetApplicationState() = 0;

    // Writes the persistent interfaces into the file, through a temporary
    // file that replaces it only when whole: a failed write leaves the old
    // file as it was. kFailure with the reason in why.
    virtual ErrorCode WriteSessionFile(const std::string& path, std::string* why = nullptr) = 0;
    // Reads them back (see above); kFailure with the reason in why.
    virtual ErrorCode ReadSessionFile(const std::string& path, std::string* why = nullptr) = 0;
};

// The session of this process, made at first call (after RegisterHostServices,
// which it calls itself when needed). No reference is added.
ISession* GetExecutionContextSession();

// Registers the host's implementations and classes with the object model.
// Idempotent; class additions made by plug-ins are kept.
void RegisterHostServices();

// Drops the session and everything it holds (application, documents list,
// managers, service providers, panels), forgets the front end's sinks, the
// alerts' don't-show-again answers and the clock. Object-model registrations
// stay. For tests, and for a front end that starts over.
void ResetHostForTesting();
