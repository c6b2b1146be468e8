#include "Proxy_JPEG.h"

#include "IMG_Exception.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

static_assert(JPEG_LIB_VERSION == 62, "the reader is written against the libjpeg 6b interface");

namespace {

// The library's standard error manager with a way back into the reader.
struct JpegErrors {
    jpeg_error_mgr manager; // first, so the library's pointer to it is ours too
    std::jmp_buf jump;
};

// Fatal library errors return to the header read instead of ending the
// program.
void ReturnToReader(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// Warnings and traces go nowhere.
void Silence(j_common_ptr) {}

// What the header tells, copied out before the decompressor goes.
struct JpegFacts {
    J_COLOR_SPACE colourSpace;
    int components;
    JDIMENSION width;
    JDIMENSION height;
    bool sawJfif;
    UINT8 densityUnit;
    UINT16 xDensity;
};

// Everything the header read touches. It lives in the caller's frame, so the
// function that calls setjmp changes none of its own locals afterwards; all of
// it is plain data without destructors.
struct JpegSession {
    jpeg_decompress_struct decompressor;
    JpegErrors errors;
    JpegFacts facts;
};

// Reads the header of the open file into session->facts; false when the
// library reports a fatal error or the file holds no image. The decompressor
// is destroyed on every path.
bool ReadJpegHeader(std::FILE* file, JpegSession* session) {
    jpeg_decompress_struct* cinfo = &session->decompressor;
    cinfo->err = jpeg_std_error(&session->errors.manager);
    session->errors.manager.error_exit = ReturnToReader;
    session->errors.manager.output_message = Silence;
    if (setjmp(session->errors.jump) != 0) {
        jpeg_destroy_decompress(&session->decompressor);
        return false;
    }
    jpeg_CreateDecompress(cinfo, 62, sizeof(struct jpeg_decompress_struct));
    jpeg_stdio_src(cinfo, file);
    if (jpeg_read_header(cinfo, FALSE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    session->facts.colourSpace = cinfo->jpeg_color_space;
    session->facts.components = cinfo->num_components;
    session->facts.width = cinfo->image_width;
    session->facts.height = cinfo->image_height;
    session->facts.sawJfif = cinfo->saw_JFIF_marker != FALSE;
    session->facts.densityUnit = cinfo->density_unit;
    session->facts.xDensity = cinfo->X_density;
    jpeg_destroy_decompress(cinfo);
    return true;
}

// Colour model of a JPEG colour space, or none.
uint32_t ModelOfColourSpace(J_COLOR_SPACE space) {
    switch (space) {
    case JCS_GRAYSCALE:
        return kImgModelGray;
    case JCS_RGB:
    case JCS_YCbCr:
        return kImgModelRGB;
    case JCS_CMYK:
    case JCS_YCCK:
        return kImgModelCMYK;
    default:
        return kImgModelNone;
    }
}

} // namespace

Proxy_JPEG::~Proxy_JPEG() {
    CloseRead();
}

void Proxy_JPEG::CloseRead() {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

void Proxy_JPEG::OpenRead() {
    const char* name = GetFileName();
    if (name == nullptr) {
        throw IMG_Exception(-4);
    }
    CloseRead();
    file = std::fopen(name, "rb");
    if (file == nullptr) {
        throw IMG_Exception(-4);
    }

    JpegSession session{};
    if (!ReadJpegHeader(file, &session)) {
        throw IMG_Exception(-11);
    }
    const JpegFacts& facts = session.facts;
    IMG_ImageInfo& target = Info();
    const uint32_t model = ModelOfColourSpace(facts.colourSpace);
    if (model == kImgModelNone) {
        throw IMG_Exception(-11);
    }
    target.samplesPerPixel = static_cast<int16_t>(facts.components);
    target.resolution = 72.0f;
    target.width = facts.width;
    target.height = facts.height;
    ComputePixelType(target, 8, facts.components, model);

    // Only a JFIF density counts, and only a plausible one.
    if (facts.sawJfif && facts.densityUnit != 0) {
        target.resolution = facts.xDensity;
        if (facts.densityUnit == 2) {
            target.resolution = static_cast<float>(target.resolution * 2.54);
        }
        if (target.resolution <= 16.0f) {
            target.resolution = 72.0f;
        }
    }
    formatCode = kImgFormatJpeg;
}
