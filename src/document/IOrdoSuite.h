#pragma once

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "UIDRef.h"

#include <vector>

class IDataBase;

// ---- the host's selection classes
//
// A document's selection is an abstract selection object (class 0x1A4) that
// carries the abstract implementation of every selection suite, over the
// concrete selections, one per kind of target, each carrying the concrete
// implementations. The host's one kind of target here is the layout (class
// 0x2C61): the page items selected in the document's layout. These are the
// host's classes and interfaces; RegisterOrdoSuite defines them when the
// host has not.

inline constexpr ClassID kAbstractSelectionBoss{0x01A4};
inline constexpr ClassID kLayoutSelectionBoss{0x2C61};

inline constexpr PMIID IID_IINTEGRATORTARGET{0x2C62};
inline constexpr PMIID IID_ILAYOUTTARGET{0x2C63};
inline constexpr ImplementationID kIntegratorTargetImpl{0x2C62};
inline constexpr ImplementationID kLayoutTargetImpl{0x2C63};

// On the abstract selection: its concrete selections, in the order they were
// added.
class IIntegratorTarget : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IINTEGRATORTARGET.value };

    // The interface `suite` of each concrete selection that carries it, in
    // order, each with a reference held by the returned pointer.
    virtual std::vector<InterfacePtr<IPMUnknown>> GetTarget(PMIID suite) const = 0;
    // Adds a concrete selection, holding a reference to it; null and an
    // object already there are ignored.
    virtual void AddConcreteSelection(IPMUnknown* selection) = 0;
    virtual int32_t GetConcreteSelectionCount() const = 0;
};

// On the layout selection: the page items selected in its document's layout.
class ILayoutTarget : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ILAYOUTTARGET.value };

    // The document whose layout selection this is. The target answers only
    // while that document is open in the session's document list, so a
    // selection kept past its document's close is empty rather than stale.
    virtual void SetDocument(IDataBase* db) = 0;
    virtual IDataBase* GetDocument() const = 0;
    // The selected page items (in the document's database), in the order
    // they were selected; an empty list when the document is not open.
    virtual UIDList GetUIDList() const = 0;
};

// A new selection object for an open document: an abstract selection over
// the document's layout selection, with the caller's reference. The document
// list keeps it as the document's selection (IDocumentList::
// SetDocumentSelection), where actions find it through their context.
InterfacePtr<IIntegratorTarget> NewDocumentSelection(IDataBase* db);

// ---- the plug-in's selection suite

inline constexpr PMIID IID_IORDOSUITE{0x71908};
inline constexpr ImplementationID kOrdoSuiteASBImpl{0x7191B};
inline constexpr ImplementationID kOrdoSuiteLayoutCSBImpl{0x7191C};

// What the order code asks of the current selection. On the abstract
// selection (OrdoSuiteASB) the operations forward to the concrete selections
// that carry the suite; on the layout selection (OrdoSuiteLayoutCSB) they
// answer from the layout.
class IOrdoSuite : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDOSUITE.value };

    // True when the selection holds at least one page item.
    virtual bool HasSelectedItems() const = 0;
    // Replaces the list with the selected page items, in selection order.
    virtual void GetSelectedItems(UIDList& list) const = 0;
};

// Registers OrdoSuiteASB and OrdoSuiteLayoutCSB and puts IOrdoSuite on the
// abstract selection class (0x1A4) and the layout selection class (0x2C61),
// defining those two host classes first when the host has not. Calling it
// again changes nothing.
void RegisterOrdoSuite();
