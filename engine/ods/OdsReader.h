#pragma once
#include <memory>

#include "../BookReader.h"

namespace tabulon::engine {

class ZipArchive;

// The .ods reader over an open package (tests and fuzz targets open packages in memory).
std::unique_ptr<BookReader> openOdsReader(std::unique_ptr<ZipArchive> zip);

}  // namespace tabulon::engine
