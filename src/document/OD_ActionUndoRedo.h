#pragma once
// "Undo Redo Process": swaps a processed image and the file it was made from,
// with the placement of each and the order's status, as often as the user
// asks. Works from the undo record that the relink to the processed file
// wrote; every record change goes through the set-data commands.
#include "UIDRef.h"

#include <cstdint>
#include <string>
#include <vector>

class OD_Log;

// The name of the host's undo step of one "Undo Redo Process".
inline constexpr const char* kOrdoUndoRedoStepKey = "0x71900kOrdoUndoMenuItemKey";

// String keys of the reasons an item is not swapped; the image's file name
// and ": " come before the text, the missing file's path after the second.
inline constexpr const char* kODUndoRedoReplacedKey = "0x71900kOrdoErrUndoRedoReplaced";
inline constexpr const char* kODUndoRedoGoneKey = "0x71900kOrdoErrUndoRedoGone";

// Whether "Undo Redo Process" can swap an item.
enum class OD_UndoRedoState {
    // The other file is there: the swap links it.
    kSwappable,
    // Nothing to swap: no undo record (saved status 0), no order record, or
    // not a placed image with one link.
    kNothingToSwap,
    // The other file is the file linked now: the server wrote the processed
    // image over the original ("Replace original image by processed image"),
    // so there is no original left to go back to.
    kOriginalReplaced,
    // The other file is not there, or is not a regular file that can be read
    // (deleted after processing, say).
    kOtherFileGone
};

// The state of the item's swap. For the two refusals, why (when not null)
// receives the translated reason, one log line that names the image by the
// file name of its link (and the missing file by its path); else it is left
// as it is. The same file is recognised by its path.
OD_UndoRedoState GetUndoRedoState(const UIDRef& item, std::string* why = nullptr);

// Parameters of the plug-in's own actions: a target reference and a list of
// page items.
class OD_ActionParameters {
public:
    virtual ~OD_ActionParameters() = default;
    virtual void SetItems(const UIDList& items);
    virtual void Append(const UIDRef& item);
    virtual int32_t Count() const;
    // The reference at index; the invalid reference out of range.
    virtual UIDRef At(int32_t index) const;

    UIDRef target;

protected:
    std::vector<UIDRef> items;
};

// Base of the plug-in's own actions.
class OD_Action {
public:
    virtual ~OD_Action() = default;
    virtual void SetParameters(const OD_ActionParameters& parameters) = 0;
    virtual void Execute() = 0;
};

// The items to swap and the two option bytes handed to the relink.
class OD_ActionUndoRedoItemsParams : public OD_ActionParameters {
public:
    OD_ActionUndoRedoItemsParams() = default;
    // Takes the list of other parameters.
    explicit OD_ActionUndoRedoItemsParams(const OD_ActionParameters& from);

    uint8_t option1 = 1;
    uint8_t option2 = 0;
    // The page items the orders panel shows (null: none): an item the relink
    // replaces is replaced there too before its records are written, so that
    // the list rebuilt by those writes still knows it (its row stays
    // selected).
    std::vector<UIDRef>* panelItems = nullptr;
    // Where the reasons of items that are not swapped go (null: dropped).
    OD_Log* log = nullptr;
};

class OD_ActionUndoRedoItems : public OD_Action {
public:
    // Takes a copy of the item list and the option bytes. Parameters of any
    // other type raise IMG_Exception(-1).
    void SetParameters(const OD_ActionParameters& parameters) override;
    // For each listed item in order: an item with an undo record (saved
    // status not 0) and an order record is relinked to the other file with
    // that file's placement (the processed one while the original is placed,
    // that is while the order's status is Ready); then the undo record takes
    // the file that was linked and the two statuses are swapped. Items
    // without the records, whose relink fails or whose linked path would not
    // fit the undo record, are left as they are, and so are the items that
    // GetUndoRedoState refuses: each of their reasons goes once to the log,
    // which is then shown. The list follows an item that the relink replaced.
    void Execute() override;

    const OD_ActionUndoRedoItemsParams& Parameters() const { return params; }

private:
    OD_ActionUndoRedoItemsParams params;
};

// Swaps one item; false when it was left as it is (among others, whenever
// GetUndoRedoState does not say kSwappable). item becomes the new item on
// success.
bool UndoRedoProcess(UIDRef& item, uint8_t option1 = 1, uint8_t option2 = 0,
                     std::vector<UIDRef>* panelItems = nullptr);
