#include "Proxy_EPS.h"

#include "IMG_Exception.h"

void Proxy_EPS::OpenRead() { throw IMG_Exception(-11); }
