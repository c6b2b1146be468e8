#include "PreferenceFiles.h"

#include "HostPlatform.h"

#include <cctype>

PrefsFileResult SavePreferenceFile(const OD_PrefsData& record, const std::string& path) {
    FileStreamWrite stream(path, kPrefsFileType, kPrefsFileCreator);
    if (!stream.IsOpen()) {
        return {PrefsFileCode::kCannotWrite, stream.ErrorText()};
    }
    record.Write(&stream);
    if (stream.Commit() != FileStreamError::kNone) {
        return {PrefsFileCode::kCannotWrite, stream.ErrorText()};
    }
    return {};
}

PrefsFileResult LoadPreferenceFile(const std::string& path, OD_PrefsData& record) {
    FileStreamRead stream(path, kPrefsFileType, kPrefsFileCreator);
    if (!stream.IsOpen()) {
        return {stream.Error() == FileStreamError::kWrongType ? PrefsFileCode::kWrongType
                                                              : PrefsFileCode::kCannotOpen,
                stream.ErrorText()};
    }
    if (stream.Size() == 0) {
        return {PrefsFileCode::kDamaged, "the file is empty"};
    }
    OD_PrefsData fresh;
    OD_PrefsReadResult read = fresh.Read(&stream);
    if (!read) {
        return {read.error == OD_PrefsReadError::kBadVersion ? PrefsFileCode::kBadVersion
                                                             : PrefsFileCode::kDamaged,
                read.reason};
    }
    if (std::size_t extra = stream.Remaining(); extra > 0) {
        return {PrefsFileCode::kDamaged,
                std::to_string(extra) + " bytes follow the end of the preferences"};
    }
    record = std::move(fresh);
    return {};
}

std::string PreferenceFilePath(const std::string& name) {
    std::string folder = OD_PrefsData::IdentityFolder();
    if (folder.empty() || name.empty() || name == "." || name == ".." || name.size() > 255 ||
        name.find(kPathSeparator) != std::string::npos || name.find('\0') != std::string::npos) {
        return std::string();
    }
    if (folder.back() != kPathSeparator) {
        folder += kPathSeparator;
    }
    return folder + name;
}

std::vector<std::string> ListPreferenceFiles() {
    std::vector<std::string> names;
    const char* folder = OD_PrefsData::IdentityFolder();
    if (folder[0] == '\0' || HostPlatform::ListFiles(folder, names) != 0) {
        return {};
    }
    std::vector<std::string> preferenceFiles;
    const std::string extension = std::string(".") + kPrefsFileExtension;
    for (auto& name : names) {
        if (name.size() <= extension.size()) {
            continue;
        }
        bool match = true;
        for (std::size_t i = 0; i < extension.size(); ++i) {
            char c = name[name.size() - extension.size() + i];
            match = match && std::tolower(static_cast<unsigned char>(c)) == extension[i];
        }
        if (match) {
            preferenceFiles.push_back(std::move(name));
        }
    }
    return preferenceFiles;
}
