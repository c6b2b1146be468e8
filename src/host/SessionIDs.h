#pragma once

#include "HostIDs.h"

// IDs of the host's session, application, managers, services and widgets.
//
// Numbers that a plug-in's class table names (the session class 0x101, the
// startup/shutdown provider 0x1A9, the widget classes a plug-in derives its
// panels and dialogs from, the document signal services, the messages that
// plug-in observers look for) keep those numbers; the rest of the host's own
// IDs live in 0x3000-0x3FFF, apart from every plug-in's 0x71900 + n.

// ---- classes

inline constexpr ClassID kSessionBoss{0x0101};
inline constexpr ClassID kAppBoss{0x3001};
inline constexpr ClassID kActionManagerBoss{0x3002};
inline constexpr ClassID kDocumentSignalMgrBoss{0x3003};

// Widget classes. A plug-in derives its panels, dialogs and list boxes from
// these; the kind of a widget is the host class its class descends from.
inline constexpr ClassID kListElementWidgetBoss{0x0627};
inline constexpr ClassID kPalettePanelWidgetBoss{0x062C};
inline constexpr ClassID kDialogBoss{0x063E};
inline constexpr ClassID kListCellWidgetBoss{0x0681};
inline constexpr ClassID kWidgetListBoxWidgetBoss{0x06B6};
inline constexpr ClassID kGroupPanelWidgetBoss{0x3010};
inline constexpr ClassID kStaticTextWidgetBoss{0x3011};
inline constexpr ClassID kTextEditBoxWidgetBoss{0x3012};
inline constexpr ClassID kCheckBoxWidgetBoss{0x3013};
inline constexpr ClassID kRadioButtonWidgetBoss{0x3014};
inline constexpr ClassID kClusterPanelWidgetBoss{0x3015};
inline constexpr ClassID kDropDownListWidgetBoss{0x3016};
inline constexpr ClassID kButtonWidgetBoss{0x3017};
inline constexpr ClassID kIconWidgetBoss{0x3018};

// ---- interfaces

inline constexpr PMIID IID_ISESSION{0x3001};
inline constexpr PMIID IID_IAPPLICATION{0x3002};
inline constexpr PMIID IID_IDOCUMENTLIST{0x3003};
inline constexpr PMIID IID_IACTIONMANAGER{0x3004};
inline constexpr PMIID IID_ISHORTCUTMANAGER{0x3005};
inline constexpr PMIID IID_IMENUMANAGER{0x3006};
inline constexpr PMIID IID_IIDLETASKMGR{0x3007};
inline constexpr PMIID IID_IK2SERVICEREGISTRY{0x3008};
inline constexpr PMIID IID_ISIGNALMGR{0x3009};
inline constexpr PMIID IID_IPANELMGR{0x300A};
inline constexpr PMIID IID_IDBOBSERVER{0x300B};
inline constexpr PMIID IID_IDOCUMENTSIGNALDATA{0x0E1E};

// The protocol on which the application tells of its start (see
// kAppStartedMessage): observers attach to the application's subject with it.
inline constexpr PMIID IID_IAPPLICATIONSTARTUP{0x0101};

inline constexpr PMIID IID_IPANELCONTROLDATA{0x3010};
inline constexpr PMIID IID_ITEXTCONTROLDATA{0x3011};
inline constexpr PMIID IID_ITEXTVALUE{0x3012};
inline constexpr PMIID IID_ITRISTATECONTROLDATA{0x3013};
inline constexpr PMIID IID_ISTRINGLISTCONTROLDATA{0x3014};
inline constexpr PMIID IID_IDROPDOWNLISTCONTROLLER{0x3015};
inline constexpr PMIID IID_ILISTBOXCONTROLLER{0x3016};

// ---- implementations

inline constexpr ImplementationID kStartupShutdownProviderImpl{0x01A9};
inline constexpr ImplementationID kSessionImpl{0x3001};
inline constexpr ImplementationID kServiceRegistryImpl{0x3002};
inline constexpr ImplementationID kApplicationImpl{0x3003};
inline constexpr ImplementationID kDocumentListImpl{0x3004};
inline constexpr ImplementationID kIdleTaskMgrImpl{0x3005};
inline constexpr ImplementationID kMenuManagerImpl{0x3006};
inline constexpr ImplementationID kPanelMgrImpl{0x3007};
inline constexpr ImplementationID kActionManagerImpl{0x3008};
inline constexpr ImplementationID kShortcutManagerImpl{0x3009};
inline constexpr ImplementationID kHostSubjectImpl{0x300A};
inline constexpr ImplementationID kSignalMgrImpl{0x300B};
inline constexpr ImplementationID kDocumentSignalDataImpl{0x300C};

inline constexpr ImplementationID kControlViewImpl{0x3010};
inline constexpr ImplementationID kPanelControlDataImpl{0x3011};
inline constexpr ImplementationID kTextControlDataImpl{0x3012};
inline constexpr ImplementationID kTextValueImpl{0x3013};
inline constexpr ImplementationID kTriStateControlDataImpl{0x3014};
inline constexpr ImplementationID kStringListControlDataImpl{0x3015};
inline constexpr ImplementationID kDropDownListControllerImpl{0x3016};
inline constexpr ImplementationID kListBoxControllerImpl{0x3017};

// ---- messages (the change IDs that subjects send)

// Sent once on the application's subject, protocol IID_IAPPLICATIONSTARTUP,
// when the application has started and its startup services have run.
inline constexpr ClassID kAppStartedMessage{0x0101};
// A list box's selection changed (protocol IID_ILISTBOXCONTROLLER).
inline constexpr ClassID kListSelectionChangedMessage{0x0604};
// A drop-down list's selection changed (protocol IID_ISTRINGLISTCONTROLDATA).
inline constexpr ClassID kPopupChangeStateMessage{0x0775};
// A check box or radio button became selected, or a button was pressed
// (protocol IID_ITRISTATECONTROLDATA).
inline constexpr ClassID kTrueStateMessage{0x3030};
// A check box or radio button became unselected (IID_ITRISTATECONTROLDATA).
inline constexpr ClassID kFalseStateMessage{0x3031};
// A widget's text changed (protocol IID_ITEXTCONTROLDATA).
inline constexpr ClassID kTextChangeStateMessage{0x3032};
// A row of a list box was double-clicked; the data is the row (int32_t*)
// (protocol IID_ILISTBOXCONTROLLER).
inline constexpr ClassID kListDoubleClickMessage{0x3033};

// ---- widgets

// The buttons that close a modal dialog (the ID a controller's
// ApplyDialogFields is given for OK).
inline constexpr WidgetID kOKButtonWidgetID{0x3001};
inline constexpr WidgetID kCancelButtonWidgetID{0x3002};

// ---- services

inline constexpr ServiceID kStartupShutdownService{0x3001};

// Document signals: what the application tells the responders registered
// for them when a document is made, opened, saved, reverted or closed. The
// signal data carries the document (IDocumentSignalData).
inline constexpr ServiceID kBeforeNewDocSignalResponderService{0x0E0A};
inline constexpr ServiceID kDuringNewDocSignalResponderService{0x0E0B};
inline constexpr ServiceID kAfterNewDocSignalResponderService{0x0E0C};
inline constexpr ServiceID kBeforeOpenDocSignalResponderService{0x0E0D};
inline constexpr ServiceID kDuringOpenDocSignalResponderService{0x0E0E};
inline constexpr ServiceID kAfterOpenDocSignalResponderService{0x0E0F};
inline constexpr ServiceID kBeforeSaveDocSignalResponderService{0x0E10};
inline constexpr ServiceID kAfterSaveDocSignalResponderService{0x0E11};
inline constexpr ServiceID kBeforeSaveAsDocSignalResponderService{0x0E12};
inline constexpr ServiceID kAfterSaveAsDocSignalResponderService{0x0E13};
inline constexpr ServiceID kBeforeSaveACopyDocSignalResponderService{0x0E14};
inline constexpr ServiceID kDuringSaveACopyDocSignalResponderService{0x0E15};
inline constexpr ServiceID kAfterSaveACopyDocSignalResponderService{0x0E16};
inline constexpr ServiceID kBeforeRevertDocSignalResponderService{0x0E17};
inline constexpr ServiceID kAfterRevertDocSignalResponderService{0x0E18};
inline constexpr ServiceID kBeforeCloseDocSignalResponderService{0x0E19};
inline constexpr ServiceID kAfterCloseDocSignalResponderService{0x0E1A};
