#include "Proxy_JPEG.h"

#include "IMG_Exception.h"

void Proxy_JPEG::OpenRead() { throw IMG_Exception(-11); }
