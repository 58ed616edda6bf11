#pragma once
#include <memory>

#include "../BookReader.h"

namespace tabulon::engine {

class ZipArchive;

// The .xlsb reader over an open package (tests and fuzz targets open packages in memory).
std::unique_ptr<BookReader> openXlsbReader(std::unique_ptr<ZipArchive> zip);

}  // namespace tabulon::engine
