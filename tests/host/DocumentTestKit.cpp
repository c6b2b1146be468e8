#include "DocumentTestKit.h"

#include "DocumentIDs.h"
#include "SampleImages.h"

#include <sstream>

namespace dockit {

void WriteTiff(const std::string& path, uint32_t w, uint32_t h, double resolution) {
    samples::TiffOptions options;
    options.resolution = resolution;
    samples::WriteTiff(path, {w, h, 1}, samples::Flat(0x80), options);
}

void WriteJpeg(const std::string& path, uint32_t w, uint32_t h, int unit, int density) {
    samples::JpegOptions options;
    options.density = density;
    options.densityUnit = unit;
    samples::WriteJpeg(path, {w, h, 1}, samples::Flat(0x80), options);
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
