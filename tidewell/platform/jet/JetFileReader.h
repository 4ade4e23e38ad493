#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tidewell::jet {

// Reads a Jet 4 file through libmdb, in the calling process. libmdb spins and swallows memory
// on some damaged files, so the program only calls this in tidewell-jet-reader, a process of
// its own with limits (see JetDatabase.h).

// How a read ended; the values are the reader program's exit codes.
enum class JetReadStatus {
    Ok = 0,
    CannotOpen = 10,   // libmdb does not take it as a Jet file at all
    NotJet4 = 11,      // it does, but as another version
    NoCatalogue = 12,  // the list of objects can't be read
    NoTable = 13,
    NoColumn = 14,
    Unreadable = 15,  // the table's definition or rows can't be read
    NoRow = 16,
};

// Opens the file, reads its catalogue and every row of the table named check (the company's
// version table): what a file must pass before it may replace a company's data.
JetReadStatus CheckJetFile(const std::string& file, const std::string& table);
// The same for a file held in memory (the fuzz target's way in).
JetReadStatus CheckJetBuffer(const void* data, std::size_t size, const std::string& table);

// The value of column in the first row of table, as text (numbers in decimal, a null as empty
// text). Names are matched without regard to ASCII case, as the engine does.
JetReadStatus ReadJetFirstValue(const std::string& file, const std::string& table,
                                const std::string& column, std::string& value);

// The names of table's columns, in table order.
JetReadStatus ReadJetColumnNames(const std::string& file, const std::string& table,
                                 std::vector<std::string>& names);

}  // namespace tidewell::jet
