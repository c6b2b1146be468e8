#include "Proxy_JPEG.h"

#include "IMG_Exception.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// After jpeglib.h, for the error and warning codes.
#include <jerror.h>

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

// The file's bytes for the library when the factory lent the file: handed
// over as the file holds them, without copying. Otherwise it behaves as the
// library's stdio source: an empty file is an error, and the end of the file
// reads, after a warning, as an end-of-image marker. Skipped data is read
// through, as there.
struct JpegSource {
    jpeg_source_mgr manager; // first, so the library's pointer to it is ours too
    IMG_FileView* file;
    uint64_t position; // of the next bytes to hand over
    bool startOfFile;
    JOCTET endOfImage[2];
};

JpegSource* SourceOf(j_decompress_ptr cinfo) {
    return reinterpret_cast<JpegSource*>(cinfo->src);
}

void InitSource(j_decompress_ptr cinfo) {
    SourceOf(cinfo)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    JpegSource* source = SourceOf(cinfo);
    std::size_t count = 0;
    const uint8_t* bytes = source->file->Bytes(source->position, count);
    if (bytes == nullptr) {
        if (source->startOfFile) {
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        }
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->endOfImage[0] = static_cast<JOCTET>(0xFF);
        source->endOfImage[1] = static_cast<JOCTET>(JPEG_EOI);
        bytes = source->endOfImage;
        count = 2;
    } else {
        source->position += count;
    }
    source->manager.next_input_byte = bytes;
    source->manager.bytes_in_buffer = count;
    source->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr* manager = cinfo->src;
    if (count <= 0) {
        return;
    }
    while (count > static_cast<long>(manager->bytes_in_buffer)) {
        count -= static_cast<long>(manager->bytes_in_buffer);
        (void)(*manager->fill_input_buffer)(cinfo);
    }
    manager->next_input_byte += static_cast<std::size_t>(count);
    manager->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// Everything the header read touches. It lives in the caller's frame, so the
// function that calls setjmp changes none of its own locals afterwards; all of
// it is plain data without destructors.
struct JpegSession {
    jpeg_decompress_struct decompressor;
    JpegErrors errors;
    JpegFacts facts;
    std::FILE* file;   // the open file, or null to read through source
    JpegSource source; // used when file is null
};

// Reads the header into session->facts; false when the library reports a
// fatal error or the file holds no image. The decompressor is destroyed on
// every path.
bool ReadJpegHeader(JpegSession* session) {
    jpeg_decompress_struct* cinfo = &session->decompressor;
    cinfo->err = jpeg_std_error(&session->errors.manager);
    session->errors.manager.error_exit = ReturnToReader;
    session->errors.manager.output_message = Silence;
    if (setjmp(session->errors.jump) != 0) {
        jpeg_destroy_decompress(&session->decompressor);
        return false;
    }
    jpeg_CreateDecompress(cinfo, 62, sizeof(struct jpeg_decompress_struct));
    if (session->file != nullptr) {
        jpeg_stdio_src(cinfo, session->file);
    } else {
        jpeg_source_mgr& manager = session->source.manager;
        manager.init_source = InitSource;
        manager.fill_input_buffer = FillInputBuffer;
        manager.skip_input_data = SkipInputData;
        manager.resync_to_restart = jpeg_resync_to_restart;
        manager.term_source = TermSource;
        manager.bytes_in_buffer = 0;
        manager.next_input_byte = nullptr;
        cinfo->src = &manager;
    }
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

bool Proxy_JPEG::CanBe(const IMG_FileView& file) {
    // The header read takes the first two bytes as the first marker and gives
    // up unless they are FF D8; a file of fewer than two bytes cannot hold it.
    static const uint8_t kStartOfImage[2] = {0xFF, 0xD8};
    return file.MayHold(0, kStartOfImage, sizeof kStartOfImage);
}

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
    JpegSession session{};
    if (lentFile != nullptr) {
        session.source.file = lentFile;
    } else {
        file = std::fopen(name, "rb");
        if (file == nullptr) {
            throw IMG_Exception(-4);
        }
        session.file = file;
    }
    if (!ReadJpegHeader(&session)) {
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
