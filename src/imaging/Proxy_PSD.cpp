#include "Proxy_PSD.h"

#include "IMG_Exception.h"

void Proxy_PSD::OpenRead() { throw IMG_Exception(-11); }
