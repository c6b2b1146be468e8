#pragma once

// What the document-layer tests share: registrations, the records and link of an item, a log.

#include "../host/AreaCheck.h"
#include "../host/DocumentTestKit.h"
#include "../host/RecordingEndPoint.h"
#include "DocumentFile.h"
#include "HostPlatform.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ILayoutSelection.h"
#include "IMG_Exception.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "ISubject.h"
#include "OD_ActionUndoRedo.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_PageItem.h"
#include "OD_Pickup.h"
#include "OD_Resampling.h"
#include "OD_Send.h"
#include "OD_Ticket.h"
#include "OrdoCommands.h"
#include "Platform.h"
#include "QOR_EndPointFile.h"
#include "RefServer.h"
#include "SampleImages.h"
#include "StringTables.h"
#include "TempDir.h"
#include "UStream.h"
#include "VipsEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace ordokit {

using dockit::SameArea, dockit::VisibleArea;

// A system folder of the test's own (preferences, the record of jobs out) while it lives.
struct ScopedSystemFolder {
    ScopedSystemFolder() {
        HostPlatform::SetSystemFolder(folder.Path());
        OD_PrefsData::ResetIdentityFolderForTesting();
    }
    ~ScopedSystemFolder() {
        HostPlatform::SetSystemFolder("");
        OD_PrefsData::ResetIdentityFolderForTesting();
    }
    TempDir folder;
};

// A fresh object model: document model, the records on image items, string tables, no hook.
inline void RegisterOrdoDocument() {
    ObjectModel::Get().Reset();
    RegisterDocumentModel();
    RegisterOrdoData();
    AddOrdoDataToImageItems();
    HostStrings::Reset();
    RegisterStringTables();
    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    SetOrdoListRebuildHook(nullptr);
}

// A fresh object model and a new document in it, a folder for the test's files, a system folder
// of its own; withHost: the host's services and the session's preferences too.
class DocumentFixture : public ::testing::Test {
protected:
    void SetUpDocument(bool withHost) {
        ResetHostForTesting();
        RegisterOrdoDocument();
        if (withHost) {
            RegisterHostServices();
            RegisterPreferenceImplementations();
            ObjectModel::Get().AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
        }
        QOR_EndPointFile::ResetProcessStateForTesting();
        SetOrdoBusy(false);
        db = DocumentUtils::NewDocument();
    }
    void TearDown() override {
        SetOrdoListRebuildHook(nullptr);
        db.reset();
        HostStrings::Reset();
        QOR_EndPointFile::ResetProcessStateForTesting();
        ResetHostForTesting();
        ObjectModel::Get().Reset();
    }

    // The file placed in a new frame.
    UIDRef PlaceAt(const PMRect& frame, const std::string& file) const {
        return dockit::PlaceFile(dockit::AddFrame(db.get(), frame), file);
    }

    ScopedSystemFolder systemFolder;
    TempDir dir;
    std::unique_ptr<IDataBase> db;
    std::string original = dir / "photo.tif";       // an image's file
    std::string processed = dir / "photo_done.tif"; // and the server's result of it
};

// A folder nested in steps of 60 letters until its path is at least `length` bytes long.
inline std::string DeepFolder(std::string path, std::size_t length, char letter) {
    while (path.size() < length) {
        path += "/" + std::string(60, letter);
        fs::create_directory(path);
    }
    return path;
}

// OPI on: results looked for in the folder (made here) under the suffix.
inline std::string UseOpi(OD_PrefsData& prefs, const std::string& lowRes, const char* suffix) {
    fs::create_directories(lowRes);
    prefs.SetOpiActive(true);
    EXPECT_TRUE(prefs.SetOpiLoResFolder(lowRes.c_str()));
    prefs.SetOpiSuffix(PMString(suffix));
    return lowRes;
}

// The records an item carries; expects them to read, or to be written.
inline OD_ProcData Order(const UIDRef& item) {
    OD_ProcData order;
    EXPECT_EQ(OD_DataAccessor(item).Read(order), 0);
    return order;
}
inline OD_UndoData Undo(const UIDRef& item) {
    OD_UndoData undo;
    EXPECT_EQ(OD_UndoDataAccessor(item).Read(undo), 0);
    return undo;
}
inline void Store(const UIDRef& item, const OD_ProcData& order) {
    EXPECT_EQ(OD_DataAccessor(item).Write(order), kSuccess);
}
// The placement of an item as its undo record keeps it.
inline OD_UndoPlacement PlacementOf(const UIDRef& item) {
    OD_PlacementCapture capture;
    EXPECT_EQ(CapturePlacement(item, capture), 0);
    return OD_UndoPlacement::FromCapture(capture.record);
}

template <class Refs = std::initializer_list<UIDRef>>
inline UIDList ListOf(IDataBase* db, const Refs& refs) {
    UIDList list(db);
    for (const UIDRef& r : refs) {
        list.Append(r);
    }
    return list;
}

inline std::string LinkOf(const UIDRef& item) {
    return InterfaceOf<IDataLink>(item)->GetLongName().GetUTF8String();
}
// The file an item links to and the status of its order.
using LinkStatus = std::pair<std::string, int>;
inline LinkStatus Linked(const UIDRef& item) {
    return {LinkOf(item), Order(item).status};
}
inline PMMatrix Matrix(const UIDRef& item) {
    return InterfaceOf<ITransform>(item)->GetInnerToParentMatrix();
}
inline PMRect Box(const UIDRef& item) {
    return InterfaceOf<IGeometry>(item)->GetBoundingBox();
}
inline PMRect FrameBox(const UIDRef& image) {
    return Box(UIDRef(image.GetDataBase(), InterfaceOf<IHierarchy>(image)->GetParentUID()));
}
// Six parts equal within 1e-9: a matrix, or a placement (whose mirror flags must match).
inline ::testing::AssertionResult SameParts(const std::array<double, 6>& x,
                                            const std::array<double, 6>& y) {
    for (int i = 0; i < 6; ++i) {
        if (!(std::fabs(x[i] - y[i]) < 1e-9)) {
            return ::testing::AssertionFailure() << "part " << i << ": " << x[i] << " not " << y[i];
        }
    }
    return ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult SameMatrix(const PMMatrix& a, const PMMatrix& b) {
    return SameParts({a.A(), a.B(), a.C(), a.D(), a.Tx(), a.Ty()},
                     {b.A(), b.B(), b.C(), b.D(), b.Tx(), b.Ty()});
}
inline ::testing::AssertionResult SamePlacement(const OD_UndoPlacement& a,
                                                const OD_UndoPlacement& b) {
    if (a.xMirrored != b.xMirrored || a.yMirrored != b.yMirrored) {
        return ::testing::AssertionFailure() << "mirror flags differ";
    }
    return SameParts({a.rotation, a.xSkew, a.xScale, a.yScale, a.xOffset, a.yOffset},
                     {b.rotation, b.xSkew, b.xScale, b.yScale, b.xOffset, b.yOffset});
}

// Undo Redo Process set to run over the items, as the panel's action does.
inline void SetSwapItems(OD_ActionUndoRedoItems& action, const std::vector<UIDRef>& items,
                         OD_Log* log = nullptr) {
    OD_ActionUndoRedoItemsParams params;
    for (const UIDRef& item : items) {
        params.Append(item);
    }
    params.log = log;
    action.SetParameters(params);
}

// The orders panel's log, as lines; notes whether every line came while the plug-in was busy.
struct RecordingLog : OD_Log {
    void Append(const char* line) override {
        lines.emplace_back(line);
        busyWhileAppending = busyWhileAppending && IsOrdoBusy();
    }
    void Show() override { ++shown; }
    std::vector<std::string> lines;
    int shown = 0;
    bool busyWhileAppending = true;
};

} // namespace ordokit
