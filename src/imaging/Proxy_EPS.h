#pragma once

#include "IMG_FileIOProcess.h"

// (being written)
class Proxy_EPS : public Proxy_FileIOProcess {
public:
    void OpenRead() override;
    void CloseRead() override {}
};

class Proxy_EPS_Std : public Proxy_EPS {
public:
    const char* ReaderName() const override { return "Proxy_EPS_Std"; }
};

class Proxy_EPS_OPI : public Proxy_EPS {
public:
    const char* ReaderName() const override { return "Proxy_EPS_OPI"; }
};

class Proxy_EPS_OPI_Other : public Proxy_EPS_OPI {
public:
    const char* ReaderName() const override { return "Proxy_EPS_OPI_Other"; }
};
