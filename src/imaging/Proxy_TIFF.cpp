#include "Proxy_TIFF.h"

#include "IMG_Exception.h"

void Proxy_TIFF::OpenRead() { throw IMG_Exception(-11); }
