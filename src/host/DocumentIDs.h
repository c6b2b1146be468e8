#pragma once

#include "HostIDs.h"

// IDs of the host's document model: interfaces, classes (bosses) and
// implementations. The implementation IDs of persistent implementations are
// written into document files, so they never change meaning.

// ---- interfaces
inline constexpr PMIID IID_IDOCUMENT{0x2001};
inline constexpr PMIID IID_IHIERARCHY{0x2002};
inline constexpr PMIID IID_IGEOMETRY{0x2003};
inline constexpr PMIID IID_ITRANSFORM{0x2004};
inline constexpr PMIID IID_IGRAPHICFRAMEDATA{0x2005};
inline constexpr PMIID IID_IIMAGEATTRIBUTES{0x2006};
inline constexpr PMIID IID_IDATALINK{0x2007};
inline constexpr PMIID IID_ISPREAD{0x2008};
inline constexpr PMIID IID_IPAGE{0x2009};
inline constexpr PMIID IID_IPATHGEOMETRY{0x200A};
inline constexpr PMIID IID_ILAYOUTSELECTION{0x200B};

// ---- classes
// The document: the root object of a document's database.
inline constexpr ClassID kDocBoss{0x2101};
inline constexpr ClassID kSpreadBoss{0x2102};
inline constexpr ClassID kPageBoss{0x2103};
// Base of every page item (hierarchy, geometry, transformation).
inline constexpr ClassID kPageItemBoss{0x2104};
// A graphic frame: holds at most one placed image.
inline constexpr ClassID kSplineItemBoss{0x2105};
// A placed image; always the child of a graphic frame.
inline constexpr ClassID kImageItemBoss{0x2106};
inline constexpr ClassID kGroupItemBoss{0x2107};
// Other page items: a text frame, and a drawn shape without content.
inline constexpr ClassID kTextFrameItemBoss{0x2108};
inline constexpr ClassID kShapeItemBoss{0x2109};
// The command that carries the model's own changes (new frame, place,
// relink, group, delete).
inline constexpr ClassID kDocumentChangeCmdBoss{0x2110};

// ---- implementations
inline constexpr ImplementationID kDocumentImpl{0x2201};
inline constexpr ImplementationID kSpreadImpl{0x2202};
inline constexpr ImplementationID kPageImpl{0x2203};
inline constexpr ImplementationID kHierarchyImpl{0x2204};
inline constexpr ImplementationID kGeometryImpl{0x2205};
inline constexpr ImplementationID kTransformImpl{0x2206};
inline constexpr ImplementationID kImageAttributesImpl{0x2207};
inline constexpr ImplementationID kDataLinkImpl{0x2208};
inline constexpr ImplementationID kGraphicFrameDataImpl{0x2209};
inline constexpr ImplementationID kPathGeometryImpl{0x220A};
inline constexpr ImplementationID kGroupGeometryImpl{0x220B};
inline constexpr ImplementationID kLayoutSelectionImpl{0x220C};
inline constexpr ImplementationID kDocumentSubjectImpl{0x220D};
inline constexpr ImplementationID kDocumentChangeCmdImpl{0x220E};

// ---- messages
// Sent through the document's ISubject with the protocol IID_ILAYOUTSELECTION.
inline constexpr ClassID kSelectionChangedMessage{0x2181};
inline constexpr ClassID kItemBroughtIntoViewMessage{0x2182};

// ---- error codes of the document operations (see DocumentErrorText)
inline constexpr ErrorCode kInvalidItemError = 0x2001;      // not an item of a live document
inline constexpr ErrorCode kNotAGraphicFrameError = 0x2002; // placing needs a graphic frame
inline constexpr ErrorCode kNotAnImageError = 0x2003;       // relinking needs a placed image
inline constexpr ErrorCode kFileNotFoundError = 0x2004;     // no file at the path
inline constexpr ErrorCode kUnsupportedFileError = 0x2005;  // no image reader knows the file
inline constexpr ErrorCode kNestingTooDeepError = 0x2006;   // a group would nest too deep
inline constexpr ErrorCode kChangeInProgressError = 0x2007; // a command step is open

// A short English text for one of the codes above (or for kSuccess/kFailure).
const char* DocumentErrorText(ErrorCode code);
