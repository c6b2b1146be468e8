#pragma once

#include "IMG_FileIOProcess.h"

// (being written)
class Proxy_JPEG : public Proxy_FileIOProcess {
public:
    void OpenRead() override;
    void CloseRead() override {}
    const char* ReaderName() const override { return "Proxy_JPEG"; }
};
