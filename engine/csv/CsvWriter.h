#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "../io/AtomicFile.h"

namespace tabulon::csv {

// Writes CSV records to a file: UTF-8, "," between fields, CR LF after every record, a field
// quoted only when it holds a comma, a double quote, CR or LF (quotes inside are doubled).
// The bytes go to an AtomicFile; commit() puts it into place, so a failed or interrupted save
// never leaves a partial file under the target's name. Throws engine::Error.
class CsvWriter {
public:
    CsvWriter(const std::filesystem::path& target, std::string displayName);
    ~CsvWriter();  // drops the file unless committed
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    void field(std::string_view text);  // the next field of the current record
    void emptyFields(uint32_t count);   // `count` empty fields
    void endRecord();
    // Appends bytes that are already CSV (whole records of empty fields, for example).
    void raw(std::string_view bytes);
    // Forgets everything written so far (the file is truncated to 0 bytes).
    void restart();
    void commit();

    static void appendQuoted(std::string_view text, std::string& out);

private:
    void flush();

    std::filesystem::path m_target;
    std::string m_displayName;
    engine::AtomicFile m_file;
    std::string m_buffer;
    bool m_firstField = true;
};

}  // namespace tabulon::csv
