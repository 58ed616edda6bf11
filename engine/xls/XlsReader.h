#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "../BookReader.h"

namespace tabulon::engine {

// Reads an .xls workbook held in memory (tests and fuzz targets); the bytes must outlive
// the reader. `password` replaces the default password of change-protected files.
std::unique_ptr<BookReader> openXlsReaderFromMemory(const void* data, size_t size, std::string displayName,
                                                    std::u16string_view password = {});

}  // namespace tabulon::engine
