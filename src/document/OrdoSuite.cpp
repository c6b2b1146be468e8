#include "IOrdoSuite.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostObject.h"
#include "HostRegistration.h"
#include "IApplication.h"
#include "IDocument.h"
#include "ILayoutSelection.h"
#include "ISession.h"
#include "ObjectModel.h"

#include <boost/bind/bind.hpp>
#include <boost/function.hpp>
#include <boost/ref.hpp>

#include <algorithm>
#include <utility>

namespace {

// ---- the host's selection objects

class IntegratorTarget : public CPMUnknown<IIntegratorTarget> {
public:
    explicit IntegratorTarget(IPMUnknown* o) : CPMUnknown<IIntegratorTarget>(o) {}

    std::vector<InterfacePtr<IPMUnknown>> GetTarget(PMIID suite) const override {
        std::vector<InterfacePtr<IPMUnknown>> found;
        for (const auto& selection : selections) {
            InterfacePtr<IPMUnknown> implementation(selection.get(), suite);
            if (implementation) {
                found.push_back(std::move(implementation));
            }
        }
        return found;
    }

    void AddConcreteSelection(IPMUnknown* selection) override {
        HostObject* object = HostObject::From(selection);
        // The abstract selection is never its own target: its suites would
        // call themselves.
        if (object == nullptr || object == HostObject::From(this)) {
            return;
        }
        bool there = std::any_of(selections.begin(), selections.end(), [&](const auto& held) {
            return HostObject::From(held.get()) == object;
        });
        if (!there) {
            selection->AddRef();
            selections.emplace_back(selection);
        }
    }

    int32_t GetConcreteSelectionCount() const override {
        return static_cast<int32_t>(selections.size());
    }

private:
    std::vector<InterfacePtr<IPMUnknown>> selections;
};

bool IsOpenDocument(const IDataBase* db) {
    if (db == nullptr) {
        return false;
    }
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    InterfacePtr<IDocumentList> documents(app ? app->QueryDocumentList() : nullptr);
    return documents && documents->Location(db) >= 0;
}

class LayoutTarget : public CPMUnknown<ILayoutTarget> {
public:
    explicit LayoutTarget(IPMUnknown* o) : CPMUnknown<ILayoutTarget>(o) {}

    void SetDocument(IDataBase* db) override { document = db; }
    IDataBase* GetDocument() const override { return document; }

    UIDList GetUIDList() const override {
        // The database is not touched unless the document list still holds
        // it: a closed document's database may be gone.
        if (!IsOpenDocument(document)) {
            return UIDList();
        }
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(document);
        InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
        return selection ? selection->GetSelectedItems() : UIDList(document);
    }

private:
    IDataBase* document = nullptr;
};

// ---- the plug-in's suite

// The abstract implementation: asks each concrete selection that carries the
// suite, through a call bound to the suite's member.
class OrdoSuiteASB : public CPMUnknown<IOrdoSuite> {
public:
    explicit OrdoSuiteASB(IPMUnknown* o) : CPMUnknown<IOrdoSuite>(o) {}

    bool HasSelectedItems() const override {
        return AnyConcrete(boost::bind(&IOrdoSuite::HasSelectedItems, boost::placeholders::_1));
    }

    void GetSelectedItems(UIDList& list) const override {
        // Without a concrete selection nothing is selected.
        list = UIDList();
        CallEach(
            boost::bind(&IOrdoSuite::GetSelectedItems, boost::placeholders::_1, boost::ref(list)));
    }

private:
    using Query = boost::function<bool(const IOrdoSuite*)>;
    using Call = boost::function<void(const IOrdoSuite*)>;

    std::vector<InterfacePtr<IOrdoSuite>> ConcreteSuites() const {
        std::vector<InterfacePtr<IOrdoSuite>> suites;
        InterfacePtr<IIntegratorTarget> target(this, IID_IINTEGRATORTARGET);
        if (!target) {
            return suites;
        }
        for (InterfacePtr<IPMUnknown>& suite : target->GetTarget(IID_IORDOSUITE)) {
            suites.emplace_back(static_cast<IOrdoSuite*>(suite.forget()));
        }
        return suites;
    }

    // True when the query holds for one of the concrete suites; the rest are
    // not asked.
    bool AnyConcrete(const Query& query) const {
        for (const InterfacePtr<IOrdoSuite>& suite : ConcreteSuites()) {
            if (query(suite.get())) {
                return true;
            }
        }
        return false;
    }

    void CallEach(const Call& call) const {
        for (const InterfacePtr<IOrdoSuite>& suite : ConcreteSuites()) {
            call(suite.get());
        }
    }
};

// The layout implementation: the page items of the layout target.
class OrdoSuiteLayoutCSB : public CPMUnknown<IOrdoSuite> {
public:
    explicit OrdoSuiteLayoutCSB(IPMUnknown* o) : CPMUnknown<IOrdoSuite>(o) {}

    bool HasSelectedItems() const override { return !Items().IsEmpty(); }
    void GetSelectedItems(UIDList& list) const override { list = Items(); }

private:
    UIDList Items() const {
        InterfacePtr<ILayoutTarget> target(this, IID_ILAYOUTTARGET);
        return target ? target->GetUIDList() : UIDList();
    }
};

const ImplementationFactory kHostFactories[] = {
    {kIntegratorTargetImpl, "IntegratorTarget", CreateImplementation<IntegratorTarget>, false},
    {kLayoutTargetImpl, "LayoutTarget", CreateImplementation<LayoutTarget>, false},
};

const ImplementationFactory kSuiteFactories[] = {
    {kOrdoSuiteASBImpl, "OrdoSuiteASB", CreateImplementation<OrdoSuiteASB>, false},
    {kOrdoSuiteLayoutCSBImpl, "OrdoSuiteLayoutCSB", CreateImplementation<OrdoSuiteLayoutCSB>,
     false},
};

} // namespace

InterfacePtr<IIntegratorTarget> NewDocumentSelection(IDataBase* db) {
    auto selection =
        CreateObject2<IIntegratorTarget>(kAbstractSelectionBoss, IID_IINTEGRATORTARGET);
    auto layout = CreateObject2<ILayoutTarget>(kLayoutSelectionBoss, IID_ILAYOUTTARGET);
    if (!selection || !layout) {
        return InterfacePtr<IIntegratorTarget>();
    }
    layout->SetDocument(db);
    selection->AddConcreteSelection(layout.get());
    return selection;
}

void RegisterOrdoSuite() {
    ObjectModel& model = ObjectModel::Get();
    // The host's selection classes, unless the host brings its own.
    for (const ImplementationFactory& factory : kHostFactories) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
    EnsureHostClass(kAbstractSelectionBoss, kInvalidClass,
                    {{IID_IINTEGRATORTARGET, kIntegratorTargetImpl}});
    EnsureHostClass(kLayoutSelectionBoss, kInvalidClass, {{IID_ILAYOUTTARGET, kLayoutTargetImpl}});

    for (const ImplementationFactory& factory : kSuiteFactories) {
        model.RegisterImplementation(factory);
    }
    model.AddIn(kAbstractSelectionBoss, IID_IORDOSUITE, kOrdoSuiteASBImpl);
    model.AddIn(kLayoutSelectionBoss, IID_IORDOSUITE, kOrdoSuiteLayoutCSBImpl);
}
