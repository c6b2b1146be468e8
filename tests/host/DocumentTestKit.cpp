#include "DocumentTestKit.h"

#include "DocumentIDs.h"

#include <cstdio>
#include <jpeglib.h>
#include <sstream>
#include <stdexcept>
#include <tiffio.h>

namespace dockit {

void WriteTiff(const std::string& path, uint32_t w, uint32_t h, double resolution) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        throw std::runtime_error("cannot make " + path);
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, resolution);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, resolution);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<uint8_t> row(w, 0x80);
    for (uint32_t y = 0; y < h; ++y) {
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
}

void WriteJpeg(const std::string& path, uint32_t w, uint32_t h, int unit, int density) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        throw std::runtime_error("cannot make " + path);
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = w;
    cinfo.image_height = h;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = static_cast<UINT8>(unit);
    cinfo.X_density = static_cast<UINT16>(density);
    cinfo.Y_density = static_cast<UINT16>(density);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(w, 0x80);
    JSAMPROW rows[1] = {row.data()};
    for (uint32_t y = 0; y < h; ++y) {
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
}

void RegisterTestNote() {
    ObjectModel& model = ObjectModel::Get();
    model.RegisterImplementation({kTestNoteImpl, "TestNote", CreateImplementation<TestNote>, true});
    model.AddIn(kImageItemBoss, IID_ITESTNOTE, kTestNoteImpl);
}

std::string Describe(const std::vector<IDataBase::StoredObject>& objects) {
    std::ostringstream out;
    for (const auto& object : objects) {
        out << object.uid.Get() << ':' << std::hex << object.classID.Get() << std::dec;
        for (const auto& [id, bytes] : object.implementations) {
            out << " [" << std::hex << id << std::dec << ':';
            for (uint8_t b : bytes) {
                out << ' ' << int(b);
            }
            out << ']';
        }
        out << '\n';
    }
    return out.str();
}

} // namespace dockit
