#include "platform/jet/JetFileReader.h"

#include <mdbtools.h>
#include <strings.h>

#include <memory>
#include <vector>

namespace tidewell::jet {
namespace {

struct HandleCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
using Handle = std::unique_ptr<MdbHandle, HandleCloser>;

struct TableFreer {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
using Table = std::unique_ptr<MdbTableDef, TableFreer>;

JetReadStatus CheckOpened(MdbHandle* mdb) {
    if (mdb == nullptr) return JetReadStatus::CannotOpen;
    if (mdb->f->jet_version != MDB_VER_JET4) return JetReadStatus::NotJet4;
    return JetReadStatus::Ok;
}

// The table's definition with its columns, or why there is none: the file is checked to be an
// opened Jet 4 file and its catalogue is read first.
JetReadStatus OpenTable(MdbHandle* mdb, const std::string& name, Table& table) {
    if (const JetReadStatus opened = CheckOpened(mdb); opened != JetReadStatus::Ok) return opened;
    if (mdb_read_catalog(mdb, MDB_TABLE) == nullptr || mdb->num_catalog == 0) {
        return JetReadStatus::NoCatalogue;
    }
    for (unsigned int i = 0; i < mdb->catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || strcasecmp(entry->object_name, name.c_str()) != 0) {
            continue;
        }
        table.reset(mdb_read_table(entry));
        if (!table || mdb_read_columns(table.get()) == nullptr) return JetReadStatus::Unreadable;
        return JetReadStatus::Ok;
    }
    return JetReadStatus::NoTable;
}

JetReadStatus CheckOpenedFile(MdbHandle* mdb, const std::string& tableName) {
    Table table;
    if (const JetReadStatus found = OpenTable(mdb, tableName, table); found != JetReadStatus::Ok) {
        return found;
    }
    // Every column bound, so that each row is decoded in full.
    std::vector<std::vector<char>> values(table->num_cols, std::vector<char>(mdb->bind_size + 1));
    std::vector<int> lengths(table->num_cols);
    for (unsigned int c = 0; c < table->num_cols; ++c) {
        if (mdb_bind_column(table.get(), static_cast<int>(c + 1), values[c].data(), &lengths[c]) <
            0) {
            return JetReadStatus::Unreadable;
        }
    }
    mdb_rewind_table(table.get());
    unsigned int rows = 0;
    while (mdb_fetch_row(table.get())) ++rows;
    // The table keeps its row count; rows lost to a damaged page show as a difference. A company
    // database always has a row here.
    if (rows != table->num_rows) return JetReadStatus::Unreadable;
    return rows == 0 ? JetReadStatus::NoRow : JetReadStatus::Ok;
}

}  // namespace

JetReadStatus CheckJetFile(const std::string& file, const std::string& table) {
    const Handle mdb(mdb_open(file.c_str(), MDB_NOFLAGS));
    return CheckOpenedFile(mdb.get(), table);
}

JetReadStatus CheckJetBuffer(const void* data, std::size_t size, const std::string& table) {
    // libmdb reads the buffer in place and never writes to it.
    const Handle mdb(mdb_open_buffer(const_cast<void*>(data), size, MDB_NOFLAGS));
    return CheckOpenedFile(mdb.get(), table);
}

JetReadStatus ReadJetFirstValue(const std::string& file, const std::string& tableName,
                                const std::string& columnName, std::string& value) {
    const Handle mdb(mdb_open(file.c_str(), MDB_NOFLAGS));
    Table table;
    if (const JetReadStatus found = OpenTable(mdb.get(), tableName, table);
        found != JetReadStatus::Ok) {
        return found;
    }
    std::vector<char> text(mdb->bind_size + 1);
    int length = 0;
    for (unsigned int c = 0; c < table->num_cols; ++c) {
        auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
        if (strcasecmp(column->name, columnName.c_str()) != 0) continue;
        if (mdb_bind_column(table.get(), static_cast<int>(c + 1), text.data(), &length) < 0) {
            return JetReadStatus::Unreadable;
        }
        mdb_rewind_table(table.get());
        if (!mdb_fetch_row(table.get())) return JetReadStatus::NoRow;
        if (length < 0 || static_cast<std::size_t>(length) > mdb->bind_size) {
            return JetReadStatus::Unreadable;
        }
        value.assign(text.data(), static_cast<std::size_t>(length));
        return JetReadStatus::Ok;
    }
    return JetReadStatus::NoColumn;
}

JetReadStatus ReadJetColumnNames(const std::string& file, const std::string& tableName,
                                 std::vector<std::string>& names) {
    const Handle mdb(mdb_open(file.c_str(), MDB_NOFLAGS));
    Table table;
    if (const JetReadStatus found = OpenTable(mdb.get(), tableName, table);
        found != JetReadStatus::Ok) {
        return found;
    }
    names.clear();
    for (unsigned int c = 0; c < table->num_cols; ++c) {
        names.emplace_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c))->name);
    }
    return JetReadStatus::Ok;
}

}  // namespace tidewell::jet
