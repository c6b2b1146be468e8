#include "IMG_File.h"
