#pragma once

#include <cstdio>

// A line stream over one of the server's configuration files.
class QOR_Stream {
public:
    virtual ~QOR_Stream();
    virtual void Open(const char* path, const char* mode) = 0;
    virtual bool IsGood() const = 0;
    virtual int Close() = 0;
    // Reads one line into buffer, which holds max+1 bytes; 0 when a line (even
    // an empty one) was read, -1 at the end of the file with nothing read.
    virtual int ReadLine(char* buffer, int max) = 0;
    // Reads one "%d" integer from text; 0, or -1 when there is none.
    virtual int ParseInt(const char* text, int& value);
};

// Owns one stdio file handle (null when closed).
class QOR_FileStream : public QOR_Stream {
public:
    QOR_FileStream() = default;
    ~QOR_FileStream() override;
    QOR_FileStream(const QOR_FileStream&) = delete;
    QOR_FileStream& operator=(const QOR_FileStream&) = delete;

    // Throws IMG_Exception(-4) when the file cannot be opened.
    void Open(const char* path, const char* mode) override;
    bool IsGood() const override;
    int Close() override;
    int ReadLine(char* buffer, int max) override;

private:
    std::FILE* file = nullptr;
};
