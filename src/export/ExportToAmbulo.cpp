#include "export/ExportToAmbulo.h"
