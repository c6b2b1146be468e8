#pragma once

#include "IMG_FileIOProcess.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Units and types of an embedded data block; -1 when the opening comment
// does not tell.
enum EpsBlockUnit : int {
    kEpsUnitUnknown = -1,
    kEpsUnitBytes = 0,
    kEpsUnitLines = 1,
};

enum EpsBlockType : int {
    kEpsTypeUnknown = -1,
    kEpsTypeBinary = 0,
    kEpsTypeHex = 1,
    kEpsTypeAscii = 2,
};

// The data encoding that %ImageData: names (0 while none was read).
enum EpsDataEncoding : int {
    kEpsEncodingNone = 0,
    kEpsEncodingBinary = 1,
    kEpsEncodingAscii = 2,
    kEpsEncodingHex = 3,
};

// Shared base of the EPS readers: opens the file, finds the PostScript
// section (plain, or behind the binary header of a DOS EPS), reads DSC
// comment lines and skips the data blocks that comments announce. Each
// concrete reader matches the comment lines against a keyword table of its
// own and keeps what its comments tell.
class Proxy_EPS : public Proxy_FileIOProcess {
public:
    // One row of a keyword table. A table ends with a row whose keyword is null.
    struct KeywordRow {
        int id;
        const char* keyword;    // matched as a prefix of the line
        bool firstOnly;         // only the first line with this keyword is handled
        const char* endKeyword; // the comment that closes a data block, or ""
    };

    // The look-ahead before the first line of a scan: no character in hand.
    static constexpr int kLookAheadNone = -2;
    // A comment line holds at most this many characters (the buffer one more).
    static constexpr std::size_t kLineMax = 255;

    Proxy_EPS() = default;
    ~Proxy_EPS() override;

    void OpenRead() override;
    void CloseRead() override;
    void ReadHeader() override = 0;

    // False when a file does not begin with "%!PS" or the binary header's
    // magic C5 D0 D3 C6 (or is shorter than four bytes).
    static bool CanBe(const IMG_FileView& file);

    // Skips one data block: count units (bytes or lines) of the given type,
    // then the closing comment when endKeyword is not empty. With any of
    // count, unit or type unknown (-1), lines are read up to the one that
    // begins with endKeyword. Byte blocks begin right after the line end of
    // the comment that opened them (the last line ReadDscLine returned).
    // Throws IMG_Exception(-11) when the block does not fit what is in the file.
    virtual void SkipBlock(int64_t count, int unit, int type, const char* endKeyword,
                           int& lookAhead);

    // Reads the next line of the PostScript section into line (kLineMax + 1
    // bytes): at most kLineMax characters, without its line end. lookAhead
    // holds the first character of the next line, already read (EOF at the
    // end of the file, kLookAheadNone before the first line). Returns the
    // line's length, or -1 when the scan is over: the file ends after this
    // line, the line is "%%EOF", or the reading reached a TIFF preview that
    // follows the PostScript section.
    int ReadDscLine(char* line, int& lookAhead);

    // Takes apart the value of a comment that opens a data block and skips
    // the block.
    void ParseBlockArguments(int id, const char* endKeyword, const char* value, int& lookAhead);

    // What the header comments said; empty or 0 until ReadHeader ran.
    const char* Creator() const { return creator; }
    const char* Title() const { return title; }
    int DataEncoding() const { return dataEncoding; }

    // Where the PostScript section and a TIFF preview are (0 for a plain EPS).
    int64_t PostScriptOffset() const { return psOffset; }
    int64_t PreviewOffset() const { return previewOffset; }
    int64_t PreviewLength() const { return previewLength; }

protected:
    // Reads every comment line of the PostScript section and hands the ones
    // that a row of table matches to HandleComment, the other "%" lines to
    // HandleOtherComment, until the scan is over or a handler ends it. A row
    // marked firstOnly takes only the first line with its keyword; later ones
    // go to neither handler.
    void ScanComments(const KeywordRow* table);
    // Handles the value of a matched line (the rest after the keyword,
    // leading blanks kept). Returns true to end the scan after this line.
    virtual bool HandleComment(const KeywordRow& row, const char* value, int& lookAhead) = 0;
    // A "%" line that no row took.
    virtual void HandleOtherComment(const char* /*line*/) {}

    // The comments that every EPS reader keeps, and %ImageData: with the
    // values the readers need of it.
    void KeepText(char* text, const char* value);
    struct ImageData {
        int64_t columns = 0;
        int64_t rows = 0;
        int depth = 0;
        int mode = 0;
    };
    void ReadImageData(const char* value, ImageData& data);
    // The pixel type that a %ImageData: mode stands for, 0 for another mode.
    static uint32_t PixelTypeOfMode(int colourMode);

    char creator[64] = {};
    char title[64] = {};
    int dataEncoding = kEpsEncodingNone;

private:
    // The file is read through a window of its bytes: those of the file the
    // factory lent, otherwise a buffer that is filled from the file where the
    // reading goes. The file ends where it did when it was opened.
    static constexpr std::size_t kBufferBytes = 32 * 1024;

    int NextChar();
    // NextChar when the window is used up: moves it to the position.
    int NextCharFromFile();
    void SeekTo(int64_t offset);
    // Reads past line ends to the next character and returns it (EOF at the end).
    int SkipLineEnds();
    bool ReachedPreview() const;

    bool opened = false; // OpenRead found an EPS file
    int fd = -1;         // unless the file was lent
    std::unique_ptr<uint8_t[]> buffer;
    const uint8_t* window = nullptr; // bytes from windowStart on, up to limit
    const uint8_t* cursor = nullptr; // the next character
    const uint8_t* limit = nullptr;
    int64_t windowStart = 0;
    int64_t fileSize = 0;
    int64_t position = 0;  // of the next character that NextChar returns
    int64_t lineEndAt = 0; // where the line after the last one read begins
    int64_t psOffset = 0;
    int64_t previewOffset = 0;
    int64_t previewLength = 0;
};

// A Photoshop-style EPS or a DCS 1 or DCS 2 separation file: pixel size,
// colour model and resolution from %ImageData:, the plate comments and the
// bounding box.
class Proxy_EPS_Std : public Proxy_EPS {
public:
    void ReadHeader() override;
    const char* ReaderName() const override { return "Proxy_EPS_Std"; }

    bool IsDcs2() const { return dcs2; }

protected:
    bool HandleComment(const KeywordRow& row, const char* value, int& lookAhead) override;

private:
    ImageData image;
    float left = 0, bottom = 0, right = 0, top = 0;
    bool dcs2 = false;
};

// An OPI 1.3 or 2.0 placeholder: the name of the high-resolution image,
// with the pixel type and resolution that its comments give.
class Proxy_EPS_OPI : public Proxy_EPS {
public:
    void ReadHeader() override;
    const char* ReaderName() const override { return "Proxy_EPS_OPI"; }

    // The OPI version whose comments were found: 13, 20, or 0 for none.
    int OpiVersion() const { return opiVersion; }

protected:
    bool HandleComment(const KeywordRow& row, const char* value, int& lookAhead) override;
    // Makes linkedName from the first of two texts that gives an absolute
    // path; throws IMG_Exception(-11) when neither does.
    void LinkFirstPathOf(const char* first, const char* second);

private:
    ImageData image;
    char fileName[256] = {};
    char imageId[256] = {};
    float aldResolution[2] = {0, 0};
    uint32_t inksPixelType = 0;
    int opiVersion = 0;
};

// Placeholders of other conventions (Archetype's %ArchReplaceImage:,
// Hyphen's %%HYPHENInclude:) and any comment whose value is an absolute path.
class Proxy_EPS_OPI_Other : public Proxy_EPS_OPI {
public:
    void ReadHeader() override;
    const char* ReaderName() const override { return "Proxy_EPS_OPI_Other"; }

protected:
    bool HandleComment(const KeywordRow& row, const char* value, int& lookAhead) override;
    void HandleOtherComment(const char* line) override;

private:
    char primaryName[256] = {};
    char fallbackName[256] = {};
};
