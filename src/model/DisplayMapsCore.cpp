#include "model/DisplayMapsCore.h"
