#include "Proxy_PCD.h"

#include "IMG_Exception.h"

void Proxy_PCD::OpenRead() { throw IMG_Exception(-11); }
