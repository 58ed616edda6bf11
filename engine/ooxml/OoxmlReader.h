#pragma once
#include <memory>
#include <string>

#include "../BookReader.h"
#include "../io/Zip.h"

namespace tabulon::engine {

// The .xlsx/.xlsm reader over an already open package (tests, fuzz targets and format
// detection use this; openOoxmlReader(path) opens the file first).
std::unique_ptr<BookReader> openOoxmlReader(std::unique_ptr<ZipArchive> package);

}  // namespace tabulon::engine
