#pragma once
#include <memory>

#include "Cfb.h"
#include "ZipDirectory.h"

namespace tabulon::engine {

// The zip directory read by this program itself (see ZipDirectoryReader.cpp). Throws
// ZipDirectoryError.
std::unique_ptr<ZipDirectory> readZipDirectory(std::shared_ptr<const FileBytes> bytes);

}  // namespace tabulon::engine
