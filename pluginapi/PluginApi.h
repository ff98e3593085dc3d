// Our own declaration of the published Photoshop-compatible filter plug-in interface: the types,
// constants and procedure signatures that the plug-in and our hosts exchange, laid out byte for
// byte as 32-bit and 64-bit Windows hosts lay them out. Declarations only, no code.
//
// Layout rules: FilterRecord (and BigDocumentStruct) are packed to 4 bytes on both targets, so on
// x86_64 pointers may sit on 4-byte boundaries; every procedure table and every other structure
// keeps natural alignment. Windows is LLP64, so every 32-bit field is spelled int32_t here and the
// native Linux build (LP64) gets the x86_64 layout. Every offset is checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pluginapi {

using Boolean = uint8_t; // one byte; 0 false, anything else true
using OSErr = int16_t;
using OSType = uint32_t;
using ResType = uint32_t;
using Fixed = int32_t; // 16.16 fixed point
using Ptr = char*;
using Handle = char**;
using Str255 = uint8_t[256]; // length byte, then up to 255 characters
using real64 = double;

// A four-character code: first character in the most significant byte.
constexpr uint32_t fourCC(const char (&c)[5])
{
    return (uint32_t(uint8_t(c[0])) << 24) | (uint32_t(uint8_t(c[1])) << 16) | (uint32_t(uint8_t(c[2])) << 8)
        | uint32_t(uint8_t(c[3]));
}

struct Point {
    int16_t v;
    int16_t h;
};

struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

struct VPoint {
    int32_t v;
    int32_t h;
};

struct VRect {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
};

struct RGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};

using FilterColor = uint8_t[4];

struct PlugInMonitor {
    Fixed gamma;
    Fixed redX, redY;
    Fixed greenX, greenY;
    Fixed blueX, blueY;
    Fixed whiteX, whiteY;
    Fixed ambient;
};

struct PlatformData {
    intptr_t hwnd; // the host window that owns the plug-in's dialogs
};

// ---- Selectors, result codes, modes -------------------------------------------------------

enum : int16_t {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5,
};

enum : OSErr {
    noErr = 0,
    userCanceledErr = -128,
    coercedParamErr = 2,
    readErr = -19,
    writErr = -20,
    openErr = -23,
    dskFulErr = -34,
    ioErr = -36,
    eofErr = -39,
    fnfErr = -43,
    paramErr = -50,
    memFullErr = -108,
    nilHandleErr = -109,
    filterBadParameters = -30100,
    filterBadMode = -30101,
    errPlugInHostInsufficient = -30900,
    errReportString = -30904,
};

enum : int16_t {
    plugInModeBitmap = 0,
    plugInModeGrayScale = 1,
    plugInModeIndexedColor = 2,
    plugInModeRGBColor = 3,
    plugInModeCMYKColor = 4,
    plugInModeHSLColor = 5,
    plugInModeHSBColor = 6,
    plugInModeMultichannel = 7,
    plugInModeDuotone = 8,
    plugInModeLabColor = 9,
    plugInModeGray16 = 10,
    plugInModeRGB48 = 11,
    plugInModeLab48 = 12,
    plugInModeCMYK64 = 13,
    plugInModeDeepMultichannel = 14,
    plugInModeDuotone16 = 15,
    plugInModeRGB96 = 16,
    plugInModeGray32 = 17,
};

enum : int16_t {
    filterCaseUnsupported = -1,
    filterCaseFlatImageNoSelection = 1,
    filterCaseFlatImageWithSelection = 2,
    filterCaseFloatingSelection = 3,
    filterCaseEditableTransparencyNoSelection = 4,
    filterCaseEditableTransparencyWithSelection = 5,
    filterCaseProtectedTransparencyNoSelection = 6,
    filterCaseProtectedTransparencyWithSelection = 7,
};

// Filter case information (PiPL "fici"), one entry per filter case 1..7.
enum : uint8_t {
    filterDataHandlingCantFilter = 0,
    filterDataHandlingNone = 1,
    filterDataHandlingBlackMat = 2,
    filterDataHandlingGrayMat = 3,
    filterDataHandlingWhiteMat = 4,
};

enum : uint8_t {
    PIFilterDontCopyToDestinationBit = 0x01,
    PIFilterWorksWithBlankDataBit = 0x02,
    PIFilterFiltersLayerMaskBit = 0x04,
    PIFilterWritesOutsideSelectionBit = 0x08,
};

// playInfo and recordInfo of PIDescriptorParameters.
enum : int16_t {
    plugInDialogDontDisplay = 0,
    plugInDialogDisplay = 1,
    plugInDialogSilent = 2,
};
enum : int16_t {
    plugInDialogOptional = 0,
    plugInDialogRequired = 1,
    plugInDialogNone = 2,
};

constexpr int16_t latestFilterVersion = 4;
constexpr int16_t latestFilterSubVersion = 0;

constexpr OSType kPhotoshopSignature = fourCC("8BIM");
constexpr OSType kFilterModuleKind = fourCC("8BFM");

// PiPL property keys.
constexpr OSType PIKindProperty = fourCC("kind");
constexpr OSType PIVersionProperty = fourCC("vers");
constexpr OSType PIWin32X86CodeProperty = fourCC("wx86");
constexpr OSType PIWin64X86CodeProperty = fourCC("8664");
constexpr OSType PICategoryProperty = fourCC("catg");
constexpr OSType PINameProperty = fourCC("name");
constexpr OSType PIImageModesProperty = fourCC("mode");
constexpr OSType PIEnableInfoProperty = fourCC("enbl");
constexpr OSType PIFilterCaseInfoProperty = fourCC("fici");
constexpr OSType PITerminologyProperty = fourCC("hstm");

// Descriptor value types and GetKey flags.
constexpr OSType typeChar = fourCC("TEXT");
constexpr OSType typeNull = fourCC("null");

// ---- Direct callbacks ----------------------------------------------------------------------
// C calling convention on both targets (the compiler default); return types are exact, since
// Boolean comes back in AL and OSErr in AX.

using TestAbortProc = Boolean (*)();
using ProgressProc = void (*)(int32_t done, int32_t total);
using HostProc = void (*)(int16_t selector, intptr_t* data);
using ProcessEventProc = void (*)(void* event);
struct PSPixelMap;
using DisplayPixelsProc = OSErr (*)(
    const PSPixelMap* source, const VRect* srcRect, int32_t dstRow, int32_t dstCol, void* platformContext);
using AdvanceStateProc = OSErr (*)();
using GetPropertyProc = OSErr (*)(
    OSType signature, OSType key, int32_t index, intptr_t* simpleProperty, Handle* complexProperty);
struct ColorServicesInfo;
using ColorServicesProc = OSErr (*)(ColorServicesInfo* info);

// ---- Procedure tables (natural alignment) --------------------------------------------------

using BufferID = struct BufferOpaque*;

struct BufferProcs {
    int16_t bufferProcsVersion;
    int16_t numBufferProcs;
    OSErr (*allocateProc)(int32_t size, BufferID* bufferID);
    Ptr (*lockProc)(BufferID bufferID, Boolean moveHigh);
    void (*unlockProc)(BufferID bufferID);
    void (*freeProc)(BufferID bufferID);
    int32_t (*spaceProc)();
};

struct ResourceProcs {
    int16_t resourceProcsVersion;
    int16_t numResourceProcs;
    int16_t (*countProc)(ResType type);
    Handle (*getProc)(ResType type, int16_t index);
    void (*deleteProc)(ResType type, int16_t index);
    OSErr (*addProc)(ResType type, Handle data);
};

constexpr int16_t kCurrentHandleProcsVersion = 1;
constexpr int16_t kCurrentHandleProcsCount = 8;

struct HandleProcs {
    int16_t handleProcsVersion;
    int16_t numHandleProcs;
    Handle (*newProc)(int32_t size);
    void (*disposeProc)(Handle h);
    int32_t (*getSizeProc)(Handle h);
    OSErr (*setSizeProc)(Handle h, int32_t newSize);
    Ptr (*lockProc)(Handle h, Boolean moveHigh);
    void (*unlockProc)(Handle h);
    void (*recoverSpaceProc)(int32_t size);
    void (*disposeRegularHandleProc)(Handle h);
};

struct PropertyProcs {
    int16_t propertyProcsVersion;
    int16_t numPropertyProcs;
    GetPropertyProc getPropertyProc;
    OSErr (*setPropertyProc)(
        OSType signature, OSType key, int32_t index, intptr_t simpleProperty, Handle complexProperty);
};

struct ImageServicesProcs;
struct ChannelPortProcs;
struct ReadImageDocumentDesc;
struct SPBasicSuite;

// ---- Scripting descriptors ----------------------------------------------------------------

using PIDescriptorHandle = Handle;
using PIReadDescriptor = struct ReadDescriptorOpaque*;
using PIWriteDescriptor = struct WriteDescriptorOpaque*;
using DescriptorKeyID = uint32_t;
using DescriptorTypeID = uint32_t;
using DescriptorUnitID = uint32_t;
using DescriptorEnumID = uint32_t;
using DescriptorClassID = uint32_t;
using DescriptorKeyIDArray = DescriptorKeyID*; // zero-terminated
using ConstStr255Param = const uint8_t*;

struct PIDescriptorSimpleReference {
    DescriptorTypeID desiredClass;
    DescriptorKeyID keyForm;
    struct {
        Str255 name;
        int32_t index;
        DescriptorTypeID type;
        DescriptorEnumID value;
    } keyData;
};

constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = 18;
constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsCount = 16;
constexpr int16_t kCurrentDescriptorParametersVersion = 0;

struct ReadDescriptorProcs {
    int16_t readDescriptorProcsVersion;
    int16_t numReadDescriptorProcs;
    PIReadDescriptor (*openReadDescriptorProc)(PIDescriptorHandle descriptor, DescriptorKeyIDArray keys);
    OSErr (*closeReadDescriptorProc)(PIReadDescriptor token);
    Boolean (*getKeyProc)(
        PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags);
    OSErr (*getIntegerProc)(PIReadDescriptor token, int32_t* value);
    OSErr (*getFloatProc)(PIReadDescriptor token, real64* value);
    OSErr (*getUnitFloatProc)(PIReadDescriptor token, DescriptorUnitID* unit, real64* value);
    OSErr (*getBooleanProc)(PIReadDescriptor token, Boolean* value);
    OSErr (*getTextProc)(PIReadDescriptor token, Handle* text);
    OSErr (*getAliasProc)(PIReadDescriptor token, Handle* alias);
    OSErr (*getEnumeratedProc)(PIReadDescriptor token, DescriptorEnumID* value);
    OSErr (*getClassProc)(PIReadDescriptor token, DescriptorTypeID* value);
    OSErr (*getSimpleReferenceProc)(PIReadDescriptor token, PIDescriptorSimpleReference* ref);
    OSErr (*getObjectProc)(PIReadDescriptor token, DescriptorTypeID* type, PIDescriptorHandle* object);
    OSErr (*getCountProc)(PIReadDescriptor token, uint32_t* count);
    OSErr (*getStringProc)(PIReadDescriptor token, Str255* value);
    OSErr (*getPinnedIntegerProc)(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value);
    OSErr (*getPinnedFloatProc)(PIReadDescriptor token, const real64* min, const real64* max, real64* value);
    OSErr (*getPinnedUnitFloatProc)(
        PIReadDescriptor token, const real64* min, const real64* max, DescriptorUnitID* unit, real64* value);
};

struct WriteDescriptorProcs {
    int16_t writeDescriptorProcsVersion;
    int16_t numWriteDescriptorProcs;
    PIWriteDescriptor (*openWriteDescriptorProc)();
    OSErr (*closeWriteDescriptorProc)(PIWriteDescriptor token, PIDescriptorHandle* newDescriptor);
    OSErr (*putIntegerProc)(PIWriteDescriptor token, DescriptorKeyID key, int32_t value);
    OSErr (*putFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, const real64* value);
    OSErr (*putUnitFloatProc)(
        PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit, const real64* value);
    OSErr (*putBooleanProc)(PIWriteDescriptor token, DescriptorKeyID key, Boolean value);
    OSErr (*putTextProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle text);
    OSErr (*putAliasProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle alias);
    OSErr (*putEnumeratedProc)(
        PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID value);
    OSErr (*putClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID classID);
    OSErr (*putSimpleReferenceProc)(
        PIWriteDescriptor token, DescriptorKeyID key, const PIDescriptorSimpleReference* ref);
    OSErr (*putObjectProc)(
        PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, PIDescriptorHandle object);
    OSErr (*putCountProc)(PIWriteDescriptor token, DescriptorKeyID key, uint32_t count);
    OSErr (*putStringProc)(PIWriteDescriptor token, DescriptorKeyID key, ConstStr255Param value);
    OSErr (*putScopedClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type);
    OSErr (*putScopedObjectProc)(
        PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type, PIDescriptorHandle object);
};

struct PIDescriptorParameters {
    int16_t descriptorParametersVersion;
    int16_t playInfo;
    int16_t recordInfo;
    PIDescriptorHandle descriptor;
    WriteDescriptorProcs* writeDescriptorProcs;
    ReadDescriptorProcs* readDescriptorProcs;
};

// ---- The filter record and the about record -----------------------------------------------
// The pack value must be a literal: some compilers ignore a macro here without a word.

#pragma pack(push, 4)

struct BigDocumentStruct {
    int32_t PluginUsing32BitCoordinates;
    VPoint imageSize32;
    VRect filterRect32;
    VRect inRect32;
    VRect outRect32;
    VRect maskRect32;
    VPoint floatCoord32;
    VPoint wholeSize32;
};

// The newest public layout. Hosts built from older generations end their record after
// canUseICCProfiles (with zeroed reserved bytes), so nothing after bigDocumentData is read.
struct FilterRecord {
    int32_t serialNumber;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    Handle parameters;
    Point imageSize;
    int16_t planes;
    Rect filterRect;
    RGBColor background;
    RGBColor foreground;
    int32_t maxSpace;
    int32_t bufferSpace;
    Rect inRect;
    int16_t inLoPlane;
    int16_t inHiPlane;
    Rect outRect;
    int16_t outLoPlane;
    int16_t outHiPlane;
    void* inData;
    int32_t inRowBytes;
    void* outData;
    int32_t outRowBytes;
    Boolean isFloating;
    Boolean haveMask;
    Boolean autoMask;
    Rect maskRect;
    void* maskData;
    int32_t maskRowBytes;
    FilterColor backColor;
    FilterColor foreColor;
    OSType hostSig;
    HostProc hostProc;
    int16_t imageMode;
    Fixed imageHRes;
    Fixed imageVRes;
    Point floatCoord;
    Point wholeSize;
    PlugInMonitor monitor;
    PlatformData* platformData;
    BufferProcs* bufferProcs;
    ResourceProcs* resourceProcs;
    ProcessEventProc processEvent;
    DisplayPixelsProc displayPixels;
    HandleProcs* handleProcs;
    Boolean supportsDummyChannels;
    Boolean supportsAlternateLayouts;
    int16_t wantLayout;
    int16_t filterCase;
    int16_t dummyPlaneValue;
    void* premiereHook;
    AdvanceStateProc advanceState;
    Boolean supportsAbsolute;
    Boolean wantsAbsolute;
    GetPropertyProc getPropertyObsolete;
    Boolean cannotUndo;
    Boolean supportsPadding;
    int16_t inputPadding;
    int16_t outputPadding;
    int16_t maskPadding;
    char samplingSupport;
    char reservedByte;
    Fixed inputRate;
    Fixed maskRate;
    ColorServicesProc colorServices;
    int16_t inLayerPlanes;
    int16_t inTransparencyMask;
    int16_t inLayerMasks;
    int16_t inInvertedLayerMasks;
    int16_t inNonLayerPlanes;
    int16_t outLayerPlanes;
    int16_t outTransparencyMask;
    int16_t outLayerMasks;
    int16_t outInvertedLayerMasks;
    int16_t outNonLayerPlanes;
    int16_t absLayerPlanes;
    int16_t absTransparencyMask;
    int16_t absLayerMasks;
    int16_t absInvertedLayerMasks;
    int16_t absNonLayerPlanes;
    int16_t inPreDummyPlanes;
    int16_t inPostDummyPlanes;
    int16_t outPreDummyPlanes;
    int16_t outPostDummyPlanes;
    int32_t inColumnBytes;
    int32_t inPlaneBytes;
    int32_t outColumnBytes;
    int32_t outPlaneBytes;
    ImageServicesProcs* imageServicesProcs;
    PropertyProcs* propertyProcs;
    int16_t inTileHeight;
    int16_t inTileWidth;
    Point inTileOrigin;
    int16_t absTileHeight;
    int16_t absTileWidth;
    Point absTileOrigin;
    int16_t outTileHeight;
    int16_t outTileWidth;
    Point outTileOrigin;
    int16_t maskTileHeight;
    int16_t maskTileWidth;
    Point maskTileOrigin;
    PIDescriptorParameters* descriptorParameters;
    Str255* errorString;
    ChannelPortProcs* channelPortProcs;
    ReadImageDocumentDesc* documentInfo;
    SPBasicSuite* sSPBasic;
    void* plugInRef;
    int32_t depth;
    Handle iCCprofileData;
    int32_t iCCprofileSize;
    int32_t canUseICCProfiles;
    int32_t hasImageScrap;
    BigDocumentStruct* bigDocumentData;
    PIDescriptorParameters* input3DScene;
    PIDescriptorParameters* output3DScene;
    Boolean createNewLayer;
    Handle iCCWorkingProfileData;
    int32_t iCCWorkingProfileSize;
    int64_t bufferSpace64;
    int64_t maxSpace64;
    Boolean allowOverrangeColors;
    char reserved[45];
};

#pragma pack(pop)

struct AboutRecord {
    PlatformData* platformData;
    SPBasicSuite* sSPBasic;
    void* plugInRef;
    char reserved[244];
};

using FilterRecordPtr = FilterRecord*;

// The entry point every filter module exports (its name is given by the PiPL).
using PluginEntryProc = void (*)(int16_t selector, void* record, intptr_t* data, int16_t* result);

// ---- Layout checks --------------------------------------------------------------------------

#define QV_CHECK_OFFSET(type, field, off32, off64)                                                           \
    static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)),                         \
        #type "::" #field " is not where hosts put it")
#define QV_CHECK_SIZE(type, size32, size64)                                                                  \
    static_assert(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)),                                \
        "sizeof(" #type ") differs from the hosts' layout")

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "only 32-bit and 64-bit targets");
static_assert(sizeof(Point) == 4 && sizeof(Rect) == 8 && sizeof(RGBColor) == 6, "basic types");
static_assert(sizeof(PlugInMonitor) == 40, "PlugInMonitor is ten Fixed values");

QV_CHECK_OFFSET(FilterRecord, serialNumber, 0, 0);
QV_CHECK_OFFSET(FilterRecord, abortProc, 4, 4);
QV_CHECK_OFFSET(FilterRecord, progressProc, 8, 12);
QV_CHECK_OFFSET(FilterRecord, parameters, 12, 20);
QV_CHECK_OFFSET(FilterRecord, imageSize, 16, 28);
QV_CHECK_OFFSET(FilterRecord, planes, 20, 32);
QV_CHECK_OFFSET(FilterRecord, filterRect, 22, 34);
QV_CHECK_OFFSET(FilterRecord, background, 30, 42);
QV_CHECK_OFFSET(FilterRecord, foreground, 36, 48);
QV_CHECK_OFFSET(FilterRecord, maxSpace, 44, 56);
QV_CHECK_OFFSET(FilterRecord, bufferSpace, 48, 60);
QV_CHECK_OFFSET(FilterRecord, inRect, 52, 64);
QV_CHECK_OFFSET(FilterRecord, inLoPlane, 60, 72);
QV_CHECK_OFFSET(FilterRecord, inHiPlane, 62, 74);
QV_CHECK_OFFSET(FilterRecord, outRect, 64, 76);
QV_CHECK_OFFSET(FilterRecord, outLoPlane, 72, 84);
QV_CHECK_OFFSET(FilterRecord, outHiPlane, 74, 86);
QV_CHECK_OFFSET(FilterRecord, inData, 76, 88);
QV_CHECK_OFFSET(FilterRecord, inRowBytes, 80, 96);
QV_CHECK_OFFSET(FilterRecord, outData, 84, 100);
QV_CHECK_OFFSET(FilterRecord, outRowBytes, 88, 108);
QV_CHECK_OFFSET(FilterRecord, isFloating, 92, 112);
QV_CHECK_OFFSET(FilterRecord, haveMask, 93, 113);
QV_CHECK_OFFSET(FilterRecord, autoMask, 94, 114);
QV_CHECK_OFFSET(FilterRecord, maskRect, 96, 116);
QV_CHECK_OFFSET(FilterRecord, maskData, 104, 124);
QV_CHECK_OFFSET(FilterRecord, maskRowBytes, 108, 132);
QV_CHECK_OFFSET(FilterRecord, backColor, 112, 136);
QV_CHECK_OFFSET(FilterRecord, foreColor, 116, 140);
QV_CHECK_OFFSET(FilterRecord, hostSig, 120, 144);
QV_CHECK_OFFSET(FilterRecord, hostProc, 124, 148);
QV_CHECK_OFFSET(FilterRecord, imageMode, 128, 156);
QV_CHECK_OFFSET(FilterRecord, imageHRes, 132, 160);
QV_CHECK_OFFSET(FilterRecord, imageVRes, 136, 164);
QV_CHECK_OFFSET(FilterRecord, floatCoord, 140, 168);
QV_CHECK_OFFSET(FilterRecord, wholeSize, 144, 172);
QV_CHECK_OFFSET(FilterRecord, monitor, 148, 176);
QV_CHECK_OFFSET(FilterRecord, platformData, 188, 216);
QV_CHECK_OFFSET(FilterRecord, bufferProcs, 192, 224);
QV_CHECK_OFFSET(FilterRecord, resourceProcs, 196, 232);
QV_CHECK_OFFSET(FilterRecord, processEvent, 200, 240);
QV_CHECK_OFFSET(FilterRecord, displayPixels, 204, 248);
QV_CHECK_OFFSET(FilterRecord, handleProcs, 208, 256);
QV_CHECK_OFFSET(FilterRecord, supportsDummyChannels, 212, 264);
QV_CHECK_OFFSET(FilterRecord, supportsAlternateLayouts, 213, 265);
QV_CHECK_OFFSET(FilterRecord, wantLayout, 214, 266);
QV_CHECK_OFFSET(FilterRecord, filterCase, 216, 268);
QV_CHECK_OFFSET(FilterRecord, dummyPlaneValue, 218, 270);
QV_CHECK_OFFSET(FilterRecord, premiereHook, 220, 272);
QV_CHECK_OFFSET(FilterRecord, advanceState, 224, 280);
QV_CHECK_OFFSET(FilterRecord, supportsAbsolute, 228, 288);
QV_CHECK_OFFSET(FilterRecord, wantsAbsolute, 229, 289);
QV_CHECK_OFFSET(FilterRecord, getPropertyObsolete, 232, 292);
QV_CHECK_OFFSET(FilterRecord, cannotUndo, 236, 300);
QV_CHECK_OFFSET(FilterRecord, supportsPadding, 237, 301);
QV_CHECK_OFFSET(FilterRecord, inputPadding, 238, 302);
QV_CHECK_OFFSET(FilterRecord, outputPadding, 240, 304);
QV_CHECK_OFFSET(FilterRecord, maskPadding, 242, 306);
QV_CHECK_OFFSET(FilterRecord, samplingSupport, 244, 308);
QV_CHECK_OFFSET(FilterRecord, reservedByte, 245, 309);
QV_CHECK_OFFSET(FilterRecord, inputRate, 248, 312);
QV_CHECK_OFFSET(FilterRecord, maskRate, 252, 316);
QV_CHECK_OFFSET(FilterRecord, colorServices, 256, 320);
QV_CHECK_OFFSET(FilterRecord, inLayerPlanes, 260, 328);
QV_CHECK_OFFSET(FilterRecord, inTransparencyMask, 262, 330);
QV_CHECK_OFFSET(FilterRecord, inLayerMasks, 264, 332);
QV_CHECK_OFFSET(FilterRecord, inInvertedLayerMasks, 266, 334);
QV_CHECK_OFFSET(FilterRecord, inNonLayerPlanes, 268, 336);
QV_CHECK_OFFSET(FilterRecord, outLayerPlanes, 270, 338);
QV_CHECK_OFFSET(FilterRecord, outTransparencyMask, 272, 340);
QV_CHECK_OFFSET(FilterRecord, outLayerMasks, 274, 342);
QV_CHECK_OFFSET(FilterRecord, outInvertedLayerMasks, 276, 344);
QV_CHECK_OFFSET(FilterRecord, outNonLayerPlanes, 278, 346);
QV_CHECK_OFFSET(FilterRecord, absLayerPlanes, 280, 348);
QV_CHECK_OFFSET(FilterRecord, absTransparencyMask, 282, 350);
QV_CHECK_OFFSET(FilterRecord, absLayerMasks, 284, 352);
QV_CHECK_OFFSET(FilterRecord, absInvertedLayerMasks, 286, 354);
QV_CHECK_OFFSET(FilterRecord, absNonLayerPlanes, 288, 356);
QV_CHECK_OFFSET(FilterRecord, inPreDummyPlanes, 290, 358);
QV_CHECK_OFFSET(FilterRecord, inPostDummyPlanes, 292, 360);
QV_CHECK_OFFSET(FilterRecord, outPreDummyPlanes, 294, 362);
QV_CHECK_OFFSET(FilterRecord, outPostDummyPlanes, 296, 364);
QV_CHECK_OFFSET(FilterRecord, inColumnBytes, 300, 368);
QV_CHECK_OFFSET(FilterRecord, inPlaneBytes, 304, 372);
QV_CHECK_OFFSET(FilterRecord, outColumnBytes, 308, 376);
QV_CHECK_OFFSET(FilterRecord, outPlaneBytes, 312, 380);
QV_CHECK_OFFSET(FilterRecord, imageServicesProcs, 316, 384);
QV_CHECK_OFFSET(FilterRecord, propertyProcs, 320, 392);
QV_CHECK_OFFSET(FilterRecord, inTileHeight, 324, 400);
QV_CHECK_OFFSET(FilterRecord, inTileWidth, 326, 402);
QV_CHECK_OFFSET(FilterRecord, inTileOrigin, 328, 404);
QV_CHECK_OFFSET(FilterRecord, absTileHeight, 332, 408);
QV_CHECK_OFFSET(FilterRecord, absTileWidth, 334, 410);
QV_CHECK_OFFSET(FilterRecord, absTileOrigin, 336, 412);
QV_CHECK_OFFSET(FilterRecord, outTileHeight, 340, 416);
QV_CHECK_OFFSET(FilterRecord, outTileWidth, 342, 418);
QV_CHECK_OFFSET(FilterRecord, outTileOrigin, 344, 420);
QV_CHECK_OFFSET(FilterRecord, maskTileHeight, 348, 424);
QV_CHECK_OFFSET(FilterRecord, maskTileWidth, 350, 426);
QV_CHECK_OFFSET(FilterRecord, maskTileOrigin, 352, 428);
QV_CHECK_OFFSET(FilterRecord, descriptorParameters, 356, 432);
QV_CHECK_OFFSET(FilterRecord, errorString, 360, 440);
QV_CHECK_OFFSET(FilterRecord, channelPortProcs, 364, 448);
QV_CHECK_OFFSET(FilterRecord, documentInfo, 368, 456);
QV_CHECK_OFFSET(FilterRecord, sSPBasic, 372, 464);
QV_CHECK_OFFSET(FilterRecord, plugInRef, 376, 472);
QV_CHECK_OFFSET(FilterRecord, depth, 380, 480);
QV_CHECK_OFFSET(FilterRecord, iCCprofileData, 384, 484);
QV_CHECK_OFFSET(FilterRecord, iCCprofileSize, 388, 492);
QV_CHECK_OFFSET(FilterRecord, canUseICCProfiles, 392, 496);
QV_CHECK_OFFSET(FilterRecord, hasImageScrap, 396, 500);
QV_CHECK_OFFSET(FilterRecord, bigDocumentData, 400, 504);
QV_CHECK_OFFSET(FilterRecord, input3DScene, 404, 512);
QV_CHECK_OFFSET(FilterRecord, output3DScene, 408, 520);
QV_CHECK_OFFSET(FilterRecord, createNewLayer, 412, 528);
QV_CHECK_OFFSET(FilterRecord, iCCWorkingProfileData, 416, 532);
QV_CHECK_OFFSET(FilterRecord, iCCWorkingProfileSize, 420, 540);
QV_CHECK_OFFSET(FilterRecord, bufferSpace64, 424, 544);
QV_CHECK_OFFSET(FilterRecord, maxSpace64, 432, 552);
QV_CHECK_OFFSET(FilterRecord, allowOverrangeColors, 440, 560);
QV_CHECK_OFFSET(FilterRecord, reserved, 441, 561);
QV_CHECK_SIZE(FilterRecord, 488, 608);

QV_CHECK_OFFSET(BigDocumentStruct, imageSize32, 4, 4);
QV_CHECK_OFFSET(BigDocumentStruct, filterRect32, 12, 12);
QV_CHECK_OFFSET(BigDocumentStruct, inRect32, 28, 28);
QV_CHECK_OFFSET(BigDocumentStruct, outRect32, 44, 44);
QV_CHECK_OFFSET(BigDocumentStruct, maskRect32, 60, 60);
QV_CHECK_OFFSET(BigDocumentStruct, floatCoord32, 76, 76);
QV_CHECK_OFFSET(BigDocumentStruct, wholeSize32, 84, 84);
QV_CHECK_SIZE(BigDocumentStruct, 92, 92);

QV_CHECK_OFFSET(PIDescriptorParameters, playInfo, 2, 2);
QV_CHECK_OFFSET(PIDescriptorParameters, recordInfo, 4, 4);
QV_CHECK_OFFSET(PIDescriptorParameters, descriptor, 8, 8);
QV_CHECK_OFFSET(PIDescriptorParameters, writeDescriptorProcs, 12, 16);
QV_CHECK_OFFSET(PIDescriptorParameters, readDescriptorProcs, 16, 24);
QV_CHECK_SIZE(PIDescriptorParameters, 20, 32);

QV_CHECK_OFFSET(ReadDescriptorProcs, openReadDescriptorProc, 4, 8);
QV_CHECK_OFFSET(ReadDescriptorProcs, closeReadDescriptorProc, 8, 16);
QV_CHECK_OFFSET(ReadDescriptorProcs, getKeyProc, 12, 24);
QV_CHECK_OFFSET(ReadDescriptorProcs, getIntegerProc, 16, 32);
QV_CHECK_OFFSET(ReadDescriptorProcs, getFloatProc, 20, 40);
QV_CHECK_OFFSET(ReadDescriptorProcs, getUnitFloatProc, 24, 48);
QV_CHECK_OFFSET(ReadDescriptorProcs, getBooleanProc, 28, 56);
QV_CHECK_OFFSET(ReadDescriptorProcs, getTextProc, 32, 64);
QV_CHECK_OFFSET(ReadDescriptorProcs, getAliasProc, 36, 72);
QV_CHECK_OFFSET(ReadDescriptorProcs, getEnumeratedProc, 40, 80);
QV_CHECK_OFFSET(ReadDescriptorProcs, getClassProc, 44, 88);
QV_CHECK_OFFSET(ReadDescriptorProcs, getSimpleReferenceProc, 48, 96);
QV_CHECK_OFFSET(ReadDescriptorProcs, getObjectProc, 52, 104);
QV_CHECK_OFFSET(ReadDescriptorProcs, getCountProc, 56, 112);
QV_CHECK_OFFSET(ReadDescriptorProcs, getStringProc, 60, 120);
QV_CHECK_OFFSET(ReadDescriptorProcs, getPinnedIntegerProc, 64, 128);
QV_CHECK_OFFSET(ReadDescriptorProcs, getPinnedFloatProc, 68, 136);
QV_CHECK_OFFSET(ReadDescriptorProcs, getPinnedUnitFloatProc, 72, 144);
QV_CHECK_SIZE(ReadDescriptorProcs, 76, 152);

QV_CHECK_OFFSET(WriteDescriptorProcs, openWriteDescriptorProc, 4, 8);
QV_CHECK_OFFSET(WriteDescriptorProcs, closeWriteDescriptorProc, 8, 16);
QV_CHECK_OFFSET(WriteDescriptorProcs, putIntegerProc, 12, 24);
QV_CHECK_OFFSET(WriteDescriptorProcs, putFloatProc, 16, 32);
QV_CHECK_OFFSET(WriteDescriptorProcs, putUnitFloatProc, 20, 40);
QV_CHECK_OFFSET(WriteDescriptorProcs, putBooleanProc, 24, 48);
QV_CHECK_OFFSET(WriteDescriptorProcs, putTextProc, 28, 56);
QV_CHECK_OFFSET(WriteDescriptorProcs, putAliasProc, 32, 64);
QV_CHECK_OFFSET(WriteDescriptorProcs, putEnumeratedProc, 36, 72);
QV_CHECK_OFFSET(WriteDescriptorProcs, putClassProc, 40, 80);
QV_CHECK_OFFSET(WriteDescriptorProcs, putSimpleReferenceProc, 44, 88);
QV_CHECK_OFFSET(WriteDescriptorProcs, putObjectProc, 48, 96);
QV_CHECK_OFFSET(WriteDescriptorProcs, putCountProc, 52, 104);
QV_CHECK_OFFSET(WriteDescriptorProcs, putStringProc, 56, 112);
QV_CHECK_OFFSET(WriteDescriptorProcs, putScopedClassProc, 60, 120);
QV_CHECK_OFFSET(WriteDescriptorProcs, putScopedObjectProc, 64, 128);
QV_CHECK_SIZE(WriteDescriptorProcs, 68, 136);

QV_CHECK_OFFSET(PIDescriptorSimpleReference, keyData.name, 8, 8);
QV_CHECK_OFFSET(PIDescriptorSimpleReference, keyData.index, 264, 264);
QV_CHECK_SIZE(PIDescriptorSimpleReference, 276, 276);

QV_CHECK_OFFSET(HandleProcs, newProc, 4, 8);
QV_CHECK_OFFSET(HandleProcs, disposeProc, 8, 16);
QV_CHECK_OFFSET(HandleProcs, getSizeProc, 12, 24);
QV_CHECK_OFFSET(HandleProcs, setSizeProc, 16, 32);
QV_CHECK_OFFSET(HandleProcs, lockProc, 20, 40);
QV_CHECK_OFFSET(HandleProcs, unlockProc, 24, 48);
QV_CHECK_OFFSET(HandleProcs, recoverSpaceProc, 28, 56);
QV_CHECK_OFFSET(HandleProcs, disposeRegularHandleProc, 32, 64);
QV_CHECK_SIZE(HandleProcs, 36, 72);

QV_CHECK_OFFSET(BufferProcs, allocateProc, 4, 8);
QV_CHECK_OFFSET(BufferProcs, spaceProc, 20, 40);
QV_CHECK_SIZE(BufferProcs, 24, 48);
QV_CHECK_OFFSET(ResourceProcs, addProc, 16, 32);
QV_CHECK_SIZE(ResourceProcs, 20, 40);
QV_CHECK_OFFSET(PropertyProcs, setPropertyProc, 8, 16);
QV_CHECK_SIZE(PropertyProcs, 12, 24);

QV_CHECK_OFFSET(PlatformData, hwnd, 0, 0);
QV_CHECK_SIZE(PlatformData, 4, 8);
QV_CHECK_OFFSET(AboutRecord, sSPBasic, 4, 8);
QV_CHECK_OFFSET(AboutRecord, plugInRef, 8, 16);
QV_CHECK_OFFSET(AboutRecord, reserved, 12, 24);
QV_CHECK_SIZE(AboutRecord, 256, 272);

#undef QV_CHECK_OFFSET
#undef QV_CHECK_SIZE

} // namespace pluginapi
