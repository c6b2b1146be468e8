#include "ISession.h"

#include "HostObject.h"
#include "HostRegistration.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "IPMStream.h"
#include "ISubject.h"
#include "Platform.h"
#include "Signals.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

namespace {

constexpr std::array<uint8_t, 8> kSessionMagic{'O', 'D', 'S', 'E', 'S', 'S', 'N', 0};
constexpr uint32_t kSessionFormatVersion = 1;
// A session file holds a few preference records; anything near this size is
// not one.
constexpr std::size_t kMaxSessionFileSize = 16u << 20;

uint32_t Crc32(const uint8_t* data, std::size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

ErrorCode Fail(std::string* why, std::string text) {
    if (why != nullptr) {
        *why = std::move(text);
    }
    return kFailure;
}

struct PersistentSlot {
    ImplementationID id;
    HostImplementation* implementation;
};

class Session : public CPMUnknown<ISession> {
public:
    explicit Session(IPMUnknown* object) : CPMUnknown<ISession>(object) {}

    IApplication* QueryApplication() override {
        if (!application) {
            application = CreateObject2<IApplication>(kAppBoss, IID_IAPPLICATION);
        }
        if (application) {
            application->AddRef();
        }
        return application.get();
    }

    int32_t GetApplicationState() override {
        InterfacePtr<IApplication> app(QueryApplication());
        return app ? app->GetApplicationState() : IApplication::kAppNotStarted;
    }

    ErrorCode WriteSessionFile(const std::string& path, std::string* why) override {
        if (path.empty()) {
            return Fail(why, "no session file named");
        }
        MemoryStream out;
        out.XferByte(const_cast<uint8_t*>(kSessionMagic.data()), kSessionMagic.size());
        uint32_t version = kSessionFormatVersion;
        out.XferUInt32(version);
        auto slots = PersistentSlots();
        uint32_t count = static_cast<uint32_t>(slots.size());
        out.XferUInt32(count);
        for (const PersistentSlot& slot : slots) {
            std::vector<uint8_t> bytes = WriteImplementation(*slot.implementation, slot.id);
            uint32_t id = slot.id.Get();
            uint32_t size = static_cast<uint32_t>(bytes.size());
            out.XferUInt32(id);
            out.XferUInt32(size);
            out.XferByte(bytes.data(), bytes.size());
        }
        uint32_t crc = Crc32(out.Bytes().data(), out.Bytes().size());
        out.XferUInt32(crc);
        const std::vector<uint8_t>& data = out.Bytes();

        // The old file is replaced only by a whole new one.
        std::string temporary = path + ".tmp";
        platform::RemoveFile(temporary.c_str());
        int error = platform::CreateNewFile(temporary.c_str(), data.data(), data.size(), true);
        if (error != 0) {
            return Fail(why,
                        "cannot write the session file " + temporary + ": " + std::strerror(error));
        }
        if (std::rename(temporary.c_str(), path.c_str()) != 0) {
            int renameError = errno;
            platform::RemoveFile(temporary.c_str());
            return Fail(why, "cannot replace the session file " + path + ": " +
                                 std::strerror(renameError));
        }
        return kSuccess;
    }

    ErrorCode ReadSessionFile(const std::string& path, std::string* why) override {
        std::vector<uint8_t> data;
        if (ErrorCode code = ReadWholeFile(path, data, why); code != kSuccess) {
            return code;
        }
        const std::string name = "the session file " + path;
        constexpr std::size_t kSmallest = kSessionMagic.size() + 4 + 4 + 4;
        if (data.size() < kSmallest) {
            return Fail(why, name + " is too short to be a session file (" +
                                 std::to_string(data.size()) + " bytes)");
        }
        if (!std::equal(kSessionMagic.begin(), kSessionMagic.end(), data.begin())) {
            return Fail(why, name + " is not a session file");
        }
        std::size_t bodySize = data.size() - 4;
        MemoryStream tail(
            std::vector<uint8_t>(data.begin() + static_cast<long>(bodySize), data.end()));
        uint32_t stored = 0;
        tail.XferUInt32(stored);
        if (stored != Crc32(data.data(), bodySize)) {
            return Fail(why, name + " is damaged (its checksum does not match)");
        }

        MemoryStream in(std::vector<uint8_t>(data.begin() + kSessionMagic.size(),
                                             data.begin() + static_cast<long>(bodySize)));
        uint32_t version = 0;
        uint32_t count = 0;
        in.XferUInt32(version);
        in.XferUInt32(count);
        if (version != kSessionFormatVersion) {
            return Fail(why, name + " has format version " + std::to_string(version) +
                                 ", this host reads version " +
                                 std::to_string(kSessionFormatVersion));
        }
        std::map<uint32_t, std::vector<uint8_t>> records;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t id = 0;
            uint32_t size = 0;
            in.XferUInt32(id);
            in.XferUInt32(size);
            if (!in.Good() || size > in.Remaining()) {
                return Fail(why, name + ": record " + std::to_string(i + 1) + " of " +
                                     std::to_string(count) + " runs past the end");
            }
            std::vector<uint8_t> bytes(size);
            in.XferByte(bytes.data(), bytes.size());
            if (!records.emplace(id, std::move(bytes)).second) {
                return Fail(why, name + ": implementation " + Hex(id) + " appears twice");
            }
        }
        if (!in.Good() || in.Remaining() != 0) {
            return Fail(why, name + " has bytes after its last record");
        }

        // Every record is read, or none: what was there before comes back
        // when one does not read.
        auto slots = PersistentSlots();
        std::vector<std::pair<PersistentSlot, std::vector<uint8_t>>> before;
        for (const PersistentSlot& slot : slots) {
            before.emplace_back(slot, WriteImplementation(*slot.implementation, slot.id));
        }
        for (const PersistentSlot& slot : slots) {
            auto record = records.find(slot.id.Get());
            if (record == records.end()) {
                continue;
            }
            if (!ReadImplementation(*slot.implementation, slot.id, record->second)) {
                for (const auto& [restore, bytes] : before) {
                    ReadImplementation(*restore.implementation, restore.id, bytes);
                }
                return Fail(why, name + ": the data of " +
                                     ObjectModel::Get().ImplementationName(slot.id) + " (" +
                                     Hex(slot.id.Get()) + ") does not read back");
            }
        }
        return kSuccess;
    }

private:
    std::vector<PersistentSlot> PersistentSlots() const {
        std::vector<PersistentSlot> slots;
        HostObject* object = HostObject::From(this);
        if (object == nullptr) {
            return slots;
        }
        const ObjectModel& model = ObjectModel::Get();
        for (const auto& slot : object->Slots()) {
            if (slot.implementation && model.IsPersistent(slot.implementationID)) {
                slots.push_back({slot.implementationID, slot.implementation.get()});
            }
        }
        return slots;
    }

    static ErrorCode ReadWholeFile(const std::string& path, std::vector<uint8_t>& data,
                                   std::string* why) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            return Fail(why, "cannot open the session file " + path + ": " + std::strerror(errno));
        }
        file.seekg(0, std::ios::end);
        std::streamoff size = file.tellg();
        if (size < 0) {
            return Fail(why, "cannot read the session file " + path);
        }
        if (static_cast<std::size_t>(size) > kMaxSessionFileSize) {
            return Fail(why, "the session file " + path + " is too large (" + std::to_string(size) +
                                 " bytes)");
        }
        file.seekg(0, std::ios::beg);
        data.resize(static_cast<std::size_t>(size));
        if (size > 0 && !file.read(reinterpret_cast<char*>(data.data()), size)) {
            return Fail(why, "cannot read the session file " + path);
        }
        return kSuccess;
    }

    InterfacePtr<IApplication> application;
};

// Never destroyed: objects that outlive main (a plug-in's statics) may still
// ask for the session while the process ends.
InterfacePtr<ISession>& SessionHolder() {
    static auto* session = new InterfacePtr<ISession>();
    return *session;
}

bool tearingDown = false;

} // namespace

void EnsureHostClass(ClassID id, ClassID parent,
                     const std::vector<std::pair<PMIID, ImplementationID>>& interfaces) {
    ObjectModel& model = ObjectModel::Get();
    if (!model.HasClass(id)) {
        model.DefineClass({id, parent, interfaces});
        return;
    }
    auto present = model.InterfacesOf(id);
    for (const auto& entry : interfaces) {
        bool has = std::any_of(present.begin(), present.end(),
                               [&](const auto& p) { return p.first == entry.first; });
        if (!has) {
            model.AddIn(id, entry.first, entry.second);
        }
    }
}

void RegisterHostServices() {
    ObjectModel& model = ObjectModel::Get();
    model.RegisterImplementation({kSessionImpl, "Session", CreateImplementation<Session>, false});
    model.RegisterImplementation(
        {kHostSubjectImpl, "CSubject", CreateImplementation<CSubject>, false});
    RegisterSignalImplementations();
    RegisterIdleTaskImplementations();
    RegisterActionImplementations();
    RegisterShortcutImplementations();
    RegisterMenuImplementations();
    RegisterApplicationImplementations();
    RegisterWidgetImplementations();
    EnsureHostClass(kSessionBoss, kInvalidClass,
                    {{IID_ISESSION, kSessionImpl}, {IID_IK2SERVICEREGISTRY, kServiceRegistryImpl}});
}

ISession* GetExecutionContextSession() {
    if (tearingDown) {
        return nullptr;
    }
    InterfacePtr<ISession>& session = SessionHolder();
    if (!session) {
        RegisterHostServices();
        session = CreateObject2<ISession>(kSessionBoss, IID_ISESSION);
    }
    return session.get();
}

void ResetHostForTesting() {
    tearingDown = true;
    InterfacePtr<ISession> old = std::move(SessionHolder());
    old.reset();
    tearingDown = false;
    ResetAlerts();
    ResetChoosers();
    ResetDialogs();
}
