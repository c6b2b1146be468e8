// Placing image files into frames and relinking placed images.

#include "ImportUtils.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostObject.h"
#include "ICommand.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "IImageAttributes.h"
#include "ILayoutSelection.h"
#include "IMG_OpenImageFile.h"
#include "ITransform.h"
#include "Platform.h"

#include <cmath>
#include <utility>
#include <vector>

namespace {

// Resolutions outside this range (pixels per inch) are taken as missing: the
// file is placed at 72 and 72 is recorded. The upper bound is what 16.16
// holds.
constexpr double kMinResolution = 1.0;
constexpr double kMaxResolution = 32767.0;
constexpr double kDefaultResolution = 72.0;

struct ImageFile {
    uint32_t width = 0;
    uint32_t height = 0;
    double resolution = kDefaultResolution;
};

ErrorCode InspectImageFile(const PMString& path, ImageFile& out) {
    const char* p = path.c_str();
    if (path.IsEmpty() || !platform::Exists(p) || platform::IsDirectory(p)) {
        return kFileNotFoundError;
    }
    std::unique_ptr<Proxy_FileIOProcess> reader = IMG_OpenImageFile(p, "r", false);
    const IMG_ImageInfo* info = reader ? reader->GetImageInfo() : nullptr;
    if (info == nullptr || info->width == 0 || info->height == 0) {
        return kUnsupportedFileError;
    }
    out.width = info->width;
    out.height = info->height;
    double resolution = info->resolution;
    out.resolution =
        std::isfinite(resolution) && resolution >= kMinResolution && resolution <= kMaxResolution
            ? resolution
            : kDefaultResolution;
    return kSuccess;
}

// Makes the image item for the file in the frame, at a position among the
// frame's children; inside a change.
UID MakeImageItem(IDataBase* db, UID frame, int32_t position, const ImageFile& file,
                  const PMString& path, const PMMatrix& matrix) {
    UID uid = db->NewUID(kImageItemBoss);
    UIDRef image(db, uid);
    double scale = 72.0 / file.resolution;
    InterfaceOf<IGeometry>(image)->SetBoundingBox(
        PMRect(0, 0, file.width * scale, file.height * scale));
    InterfaceOf<ITransform>(image)->SetInnerToParentMatrix(matrix);
    PMFixed resolution = ToPMFixed(file.resolution);
    InterfaceOf<IImageAttributes>(image)->SetImageInfo(file.width, file.height, resolution,
                                                       resolution);
    InterfaceOf<IDataLink>(image)->SetLongName(path);
    if (!InterfaceOf<IHierarchy>(UIDRef(db, frame))->AddChild(uid, position)) {
        return kInvalidUID;
    }
    return uid;
}

UIDRef Fail(ErrorCode code, ErrorCode* error) {
    ErrorUtils::PMSetGlobalErrorCode(kFailure);
    if (error != nullptr) {
        *error = code;
    }
    return UIDRef();
}

} // namespace

UIDRef ImportUtils::PlaceFile(const UIDRef& frame, const PMString& path, ErrorCode* error) {
    if (!PageItemTypeUtils::IsPageItem(frame)) {
        return Fail(kInvalidItemError, error);
    }
    if (!PageItemTypeUtils::IsGraphicFrame(frame)) {
        return Fail(kNotAGraphicFrameError, error);
    }
    ImageFile file;
    if (ErrorCode code = InspectImageFile(path, file); code != kSuccess) {
        return Fail(code, error);
    }
    IDataBase* db = frame.GetDataBase();
    UID placed;
    ErrorCode code = DocumentUtils::ProcessChange(db, PMString("Place"), [&]() -> ErrorCode {
        InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(frame);
        while (hierarchy->GetChildCount() > 0) {
            DeleteItemTree(db, hierarchy->GetChildUID(0));
        }
        PMRect box = InterfaceOf<IGeometry>(frame)->GetBoundingBox();
        placed = MakeImageItem(db, frame.GetUID(), -1, file, path,
                               PMMatrix::MakeTranslation(box.Left(), box.Top()));
        return placed != kInvalidUID ? kSuccess : kFailure;
    });
    if (code != kSuccess) {
        return Fail(code, error);
    }
    if (error != nullptr) {
        *error = kSuccess;
    }
    return UIDRef(db, placed);
}

int32_t LinkUtils::CountLinks(const UIDRef& item) {
    InterfacePtr<IDataLink> link = InterfaceOf<IDataLink>(item);
    return link && !link->GetLongName().IsEmpty() ? 1 : 0;
}

bool LinkUtils::GetLinkNames(const UIDRef& item, PMString& shortName, PMString& longName) {
    shortName.Clear();
    longName.Clear();
    if (CountLinks(item) != 1) {
        return false;
    }
    InterfacePtr<IDataLink> link = InterfaceOf<IDataLink>(item);
    shortName = link->GetShortName();
    longName = link->GetLongName();
    return true;
}

UIDRef LinkUtils::RelinkImage(const UIDRef& image, const PMString& path, ErrorCode* error) {
    if (!PageItemTypeUtils::IsPageItem(image)) {
        return Fail(kInvalidItemError, error);
    }
    IDataBase* db = image.GetDataBase();
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(image);
    UID frame = hierarchy ? hierarchy->GetParentUID() : kInvalidUID;
    if (!PageItemTypeUtils::IsGraphic(image) ||
        !PageItemTypeUtils::IsGraphicFrame(UIDRef(db, frame))) {
        return Fail(kNotAnImageError, error);
    }
    ImageFile file;
    if (ErrorCode code = InspectImageFile(path, file); code != kSuccess) {
        return Fail(code, error);
    }

    UID replacement;
    ErrorCode code = DocumentUtils::ProcessChange(db, PMString("Relink"), [&]() -> ErrorCode {
        // What plug-ins stored on the old item goes over to the new one.
        std::vector<std::pair<ImplementationID, std::vector<uint8_t>>> addIns;
        HostObject* old = HostObject::From(hierarchy.get());
        for (const auto& slot : old->Slots()) {
            if (slot.implementation && ObjectModel::Get().IsPersistent(slot.implementationID) &&
                !IsDocumentModelImplementation(slot.implementationID)) {
                addIns.emplace_back(
                    slot.implementationID,
                    WriteImplementation(*slot.implementation, slot.implementationID));
            }
        }
        PMMatrix matrix = InterfaceOf<ITransform>(image)->GetInnerToParentMatrix();
        int32_t position =
            InterfaceOf<IHierarchy>(UIDRef(db, frame))->GetChildIndex(image.GetUID());
        DeleteItemTree(db, image.GetUID());
        replacement = MakeImageItem(db, frame, position, file, path, matrix);
        if (replacement == kInvalidUID) {
            return kFailure;
        }
        InterfacePtr<IHierarchy> made = InterfaceOf<IHierarchy>(UIDRef(db, replacement));
        HostObject* object = HostObject::From(made.get());
        for (const auto& [id, bytes] : addIns) {
            if (HostImplementation* impl = object->Implementation(id)) {
                ReadImplementation(*impl, id, bytes);
            }
        }
        return kSuccess;
    });
    if (code != kSuccess) {
        return Fail(code, error);
    }
    if (InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db)) {
        InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
        if (selection) {
            selection->ReplaceItem(image.GetUID(), replacement);
        }
    }
    if (error != nullptr) {
        *error = kSuccess;
    }
    return UIDRef(db, replacement);
}
