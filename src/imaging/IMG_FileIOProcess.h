#pragma once

#include "IMG_FileView.h"
#include "IMG_ImageInfo.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// A pixel image that the read mode fills and the write mode takes rows from.
// The plug-in only inspects headers; no reader moves pixels.
class IMG_Image {
public:
    virtual ~IMG_Image();
    // The buffer of one row, or null when there is none.
    virtual uint8_t* GetRow(uint32_t row) = 0;
    virtual void ReleaseRow(uint32_t row, uint8_t* buffer) = 0;
};

// Makes the image that the read mode fills, to a transfer description.
class IMG_ImageFactory {
public:
    virtual ~IMG_ImageFactory();
    virtual IMG_Image* MakeImage(const IMG_ImageInfo& description) = 0;
};

// Told of the progress of a row loop; Step returns false to cancel.
class IMG_Progress {
public:
    virtual ~IMG_Progress();
    virtual void Start(uint32_t rows) = 0;
    virtual bool Step() = 0;
    virtual void Finish() = 0;
};

// Root of the image processes: the target image of the read mode and a flag.
class IMG_Process {
public:
    virtual ~IMG_Process();

protected:
    IMG_Image* targetImage = nullptr; // not owned
    uint8_t processFlag = 0;
};

// What the pixel modes need of a consumer: the optional image factory and
// progress object.
class IMG_ImageConsumer {
public:
    virtual ~IMG_ImageConsumer();
    virtual void SetImageFactory(IMG_ImageFactory* factory) { imageFactory = factory; }
    virtual IMG_ImageFactory* GetImageFactory() const { return imageFactory; }
    virtual void SetProgress(IMG_Progress* value) { progress = value; }

protected:
    IMG_ImageFactory* imageFactory = nullptr; // not owned
    IMG_Progress* progress = nullptr;         // not owned
};

enum IMG_Mode : int32_t {
    kImgModeNone = 0,
    kImgModeRead = 1,
    kImgModeWrite = 2,
    kImgModeInspect = 3,
};

// A process that moves an image to or from a file. Begin, Run and End
// dispatch on the mode: inspection opens the file, reads its header and
// closes it again.
class IMG_FileIOProcess : public IMG_Process, public IMG_ImageConsumer {
public:
    IMG_FileIOProcess();
    ~IMG_FileIOProcess() override;
    IMG_FileIOProcess(const IMG_FileIOProcess&) = delete;
    IMG_FileIOProcess& operator=(const IMG_FileIOProcess&) = delete;

    virtual void Begin();
    virtual void Run();
    virtual void End();
    virtual void SetTargetImage(IMG_Image* image) { targetImage = image; }
    virtual void SetProcessFlag(uint8_t flag) { processFlag = flag; }
    virtual void WriteRows();
    virtual void ReadRows();
    virtual void WriteHeader() = 0;
    virtual void ReadHeader() = 0;
    virtual void ReadRow(uint32_t row, uint8_t* buffer) = 0;
    virtual void WriteRow(uint32_t row, const uint8_t* buffer) = 0;
    virtual void OpenRead() = 0;
    virtual void OpenWrite() = 0;
    virtual void CloseRead() = 0;
    virtual void CloseWrite() = 0;
    // Row helpers of the pixel modes.
    virtual void BeginRows() {}
    virtual void EndRows() {}
    virtual void PrepareRows() {}
    virtual std::size_t RowBytes() const { return 0; }

    // Stores a copy of the path; a null path changes nothing.
    void SetFileName(const char* name);
    const char* GetFileName() const { return path.get(); }
    void SetMode(int32_t value) { mode = value; }
    int32_t GetMode() const { return mode; }
    const IMG_ImageInfo& Description() const { return *description; }

protected:
    template <typename MoveRow> void EachRow(MoveRow move);

    int32_t mode = kImgModeNone;
    std::unique_ptr<char[]> path;
    std::unique_ptr<IMG_ImageInfo> description; // the transfer description
};

// Base of every format reader: the results of an inspection.
class Proxy_FileIOProcess : public IMG_FileIOProcess {
public:
    Proxy_FileIOProcess();
    ~Proxy_FileIOProcess() override;

    // Readers inspect only: every pixel operation is unsupported (-1).
    void WriteHeader() override;
    void ReadHeader() override {}
    void ReadRow(uint32_t row, uint8_t* buffer) override;
    void WriteRow(uint32_t row, const uint8_t* buffer) override;
    void OpenWrite() override;
    void CloseWrite() override;

    // Copies the linked name with strncpy semantics (at most max bytes, padded
    // with NULs, not terminated when it fills max); nothing when there is none.
    virtual void GetLinkedName(char* buffer, std::size_t max) const;
    // The reader's image information; null until OpenRead made it.
    virtual const IMG_ImageInfo* GetImageInfo() const { return info.get(); }
    virtual uint32_t GetFormatCode() const { return formatCode; }
    virtual int32_t GetProcessCount() const { return processCount; }

    // The reader's class name, as the command line reports it.
    virtual const char* ReaderName() const = 0;

    // The linked name, or null.
    const char* LinkedName() const { return linkedName.get(); }

    // Lends the reader its file, already open, for the inspection that
    // follows; null takes it back. The reader then reads through it instead
    // of opening the file itself. It must be the file the reader is set to,
    // and outlive the inspection.
    void LendFile(IMG_FileView* value) { lentFile = value; }

protected:
    // The image information, made when absent.
    IMG_ImageInfo& Info();
    // Stores a copy of text (at most length bytes) as the linked name.
    void SetLinkedName(const char* text, std::size_t length);

    std::unique_ptr<char[]> linkedName;
    std::unique_ptr<IMG_ImageInfo> info;
    int32_t processCount = -1;
    uint32_t formatCode = 0;
    IMG_FileView* lentFile = nullptr; // lent by the factory, or null
};
