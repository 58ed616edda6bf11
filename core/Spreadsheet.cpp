#include "engine/Workbook.h"
