#include "model/MapModel.h"
