#include "tar/TarArchive.h"
