#include "tar/TarWriter.h"
