#include "JetFixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "TestSupport.h"
#include "platform/Error.h"

namespace tidewell::test {
namespace {

constexpr std::size_t kPage = 4096;

// Page types and the few constants of the format notes that these files use.
constexpr std::uint8_t kDataPage = 0x01;
constexpr std::uint8_t kTableDefinitionPage = 0x02;
constexpr std::uint8_t kUserTable = 0x4e;
constexpr std::uint8_t kSystemTable = 0x53;
constexpr std::uint8_t kFixedColumn = 0x01;
constexpr std::uint8_t kNullableColumn = 0x02;
constexpr std::uint16_t kGeneralSortOrder = 0x409;
constexpr std::uint8_t kShortInteger = 0x03;
constexpr std::uint8_t kDateTime = 0x08;
constexpr std::uint8_t kOle = 0x0B;
constexpr std::size_t kUsageMapBytes = 64;

// Catalogue: the container of tables and the object types that libmdb and the engine use.
constexpr std::uint32_t kTablesContainer = 0x0F000001;
constexpr std::uint32_t kRootContainer = 0x0F000000;
constexpr std::uint16_t kTypeTable = 1;
constexpr std::uint16_t kTypeContainer = 3;
constexpr std::uint32_t kSystemObjectFlags = 0x80000002;

void Put16(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, value & 0xFFFF);
    Put16(bytes, at + 2, value >> 16);
}

void Append16(std::string& bytes, std::uint32_t value) {
    bytes.append(2, '\0');
    Put16(bytes, bytes.size() - 2, value);
}

void Append32(std::string& bytes, std::uint32_t value) {
    bytes.append(4, '\0');
    Put32(bytes, bytes.size() - 4, value);
}

// UTF-8 to UCS-2, little-endian: the uncompressed form of Jet 4 text.
std::string Ucs2(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t code;
        int extra;
        if (c < 0x80) {
            code = c, extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            code = c & 0x1F, extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F, extra = 2;
        } else {
            throw std::invalid_argument("only the basic plane fits UCS-2");
        }
        for (int k = 1; k <= extra; ++k) {
            code = code << 6 | (static_cast<unsigned char>(utf8.at(i + k)) & 0x3F);
        }
        i += 1 + extra;
        Append16(out, code);
    }
    return out;
}

// A column as a table definition and a row see it.
struct ColumnLayout {
    std::string name;
    std::uint8_t type;
    bool fixed;
    std::uint16_t length;       // bytes: the fixed size, or the most a text may take
    std::uint16_t fixedOffset;  // within the fixed part of a row
    std::uint16_t varIndex;     // within the variable columns
};

std::uint16_t FixedSize(std::uint8_t type) {
    switch (type) {
        case kShortInteger:
            return 2;
        case kDateTime:
            return 8;
        default:
            return 4;
    }
}

std::vector<ColumnLayout> Lay(const std::vector<std::pair<std::string, std::uint8_t>>& columns,
                              const std::vector<int>& textChars) {
    std::vector<ColumnLayout> laid;
    std::uint16_t fixedAt = 0, varIndex = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const auto& [name, type] = columns[i];
        const bool fixed = type != static_cast<std::uint8_t>(JetColumnType::Text) && type != kOle;
        ColumnLayout column{name, type, fixed, 0, 0, 0};
        if (fixed) {
            column.length = FixedSize(type);
            column.fixedOffset = fixedAt;
            fixedAt = static_cast<std::uint16_t>(fixedAt + column.length);
        } else {
            column.length = type == kOle ? 0 : static_cast<std::uint16_t>(textChars[i] * 2);
            column.varIndex = varIndex++;
        }
        laid.push_back(column);
    }
    return laid;
}

// Row layout of the notes: column count, fixed part, variable data, the end of that data, the
// variable columns' offsets last to first, their count, and the null mask (1 = not null).
std::string Row(const std::vector<ColumnLayout>& columns,
                const std::vector<std::optional<std::string>>& values) {
    std::string row;
    Append16(row, static_cast<std::uint32_t>(columns.size()));
    std::size_t fixedSize = 0;
    for (const ColumnLayout& column : columns) {
        if (column.fixed)
            fixedSize = std::max<std::size_t>(fixedSize, column.fixedOffset + column.length);
    }
    const std::size_t fixedAt = row.size();
    row.append(fixedSize, '\0');
    std::vector<std::uint16_t> varStarts;
    std::string nullMask((columns.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnLayout& column = columns[i];
        const std::optional<std::string>& value = values.at(i);
        if (value) nullMask[i / 8] = static_cast<char>(nullMask[i / 8] | 1 << (i % 8));
        if (column.fixed) {
            if (value) {
                std::string bytes(column.length, '\0');
                const long long number = std::stoll(*value);
                for (std::size_t k = 0; k < column.length; ++k) {
                    bytes[k] = static_cast<char>(
                        (static_cast<unsigned long long>(number) >> (8 * k)) & 0xFF);
                }
                row.replace(fixedAt + column.fixedOffset, column.length, bytes);
            }
            continue;
        }
        varStarts.push_back(static_cast<std::uint16_t>(row.size()));
        if (value) row += column.type == kOle ? *value : Ucs2(*value);
    }
    const auto end = static_cast<std::uint16_t>(row.size());
    Append16(row, end);
    for (auto start = varStarts.rbegin(); start != varStarts.rend(); ++start) Append16(row, *start);
    Append16(row, static_cast<std::uint32_t>(varStarts.size()));
    return row + nullMask;
}

// A data page of rows owned by the table defined on page owner (0: none, for usage maps).
std::string DataPage(std::uint32_t owner, const std::vector<std::string>& rows) {
    std::string page(kPage, '\0');
    page[0] = static_cast<char>(kDataPage);
    page[1] = 0x01;
    Put32(page, 4, owner);
    Put16(page, 12, static_cast<std::uint32_t>(rows.size()));
    std::size_t end = kPage;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t start = end - rows[i].size();
        if (start < 14 + 2 * rows.size()) throw std::length_error("the rows don't fit one page");
        page.replace(start, rows[i].size(), rows[i]);
        Put16(page, 14 + 2 * i, static_cast<std::uint32_t>(start));
        end = start;
    }
    Put16(page, 2, static_cast<std::uint32_t>(end - 14 - 2 * rows.size()));
    return page;
}

// A usage map kept in the map's own row: type 0, the first page it covers, one bit a page.
std::string UsageMap(const std::vector<std::uint32_t>& pages) {
    std::string map(1 + 4 + kUsageMapBytes, '\0');
    for (const std::uint32_t page : pages) {
        map[5 + page / 8] = static_cast<char>(map[5 + page / 8] | 1 << (page % 8));
    }
    return map;
}

std::string TableDefinitionPage(std::uint8_t tableType, const std::vector<ColumnLayout>& columns,
                                std::uint32_t rows, std::uint32_t usedPagesRow,
                                std::uint32_t freePagesRow) {
    std::string page(kPage, '\0');
    page[0] = static_cast<char>(kTableDefinitionPage);
    page[1] = 0x01;
    std::string body;
    std::uint16_t varColumns = 0;
    for (const ColumnLayout& column : columns) varColumns += column.fixed ? 0 : 1;
    Append32(body, 0);  // the engine's own
    Append32(body, rows);
    Append32(body, 0);      // next autonumber
    body.append(16, '\0');  // autonumber flags and the engine's own fields
    body.push_back(static_cast<char>(tableType));
    Append16(body, static_cast<std::uint32_t>(columns.size()));  // most columns a row has
    Append16(body, varColumns);
    Append16(body, static_cast<std::uint32_t>(columns.size()));
    Append32(body, 0);  // logical indexes
    Append32(body, 0);  // physical indexes
    Append32(body, usedPagesRow);
    Append32(body, freePagesRow);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnLayout& column = columns[i];
        body.push_back(static_cast<char>(column.type));
        Append32(body, 0);
        Append16(body, static_cast<std::uint32_t>(i));
        Append16(body, column.varIndex);
        Append16(body, static_cast<std::uint32_t>(i));
        Append16(body, column.type == static_cast<std::uint8_t>(JetColumnType::Text)
                           ? kGeneralSortOrder
                           : 0);
        Append16(body, 0);
        body.push_back(static_cast<char>(kNullableColumn | (column.fixed ? kFixedColumn : 0)));
        body.push_back('\0');  // not compressed
        Append32(body, 0);
        Append16(body, column.fixedOffset);
        Append16(body, column.length);
    }
    for (const ColumnLayout& column : columns) {
        const std::string name = Ucs2(column.name);
        Append16(body, static_cast<std::uint32_t>(name.size()));
        body += name;
    }
    Append16(body, 0xFFFF);  // no variable-column usage maps follow
    // The length counts from the page's start; the free space leaves the header's 8 bytes out.
    const std::size_t length = 8 + 4 + body.size();
    Put16(page, 2, static_cast<std::uint32_t>(kPage - 8 - length));
    Put32(page, 8, static_cast<std::uint32_t>(length));
    page.replace(12, body.size(), body);
    return page;
}

std::uint32_t RowPointer(std::uint32_t page, std::uint32_t row) {
    return page << 8 | row;
}

}  // namespace

std::filesystem::path JetReferenceFile() {
    return TIDEWELL_JET_REFERENCE;
}

std::string JetDefinitionPage() {
    const std::string reference = ReadFile(JetReferenceFile());
    if (reference.size() < kPage)
        throw std::runtime_error("no reference: run script/jet-reference");
    return reference.substr(0, kPage);
}

std::string MakeJetDatabase(const std::vector<JetTable>& tables) {
    // Pages: 0 definition, 1 usage maps, 2 and 3 the catalogue's definition and rows, then a
    // definition page and a data page for each table.
    constexpr std::uint32_t kMapsPage = 1, kCatalogueDefinition = 2, kCatalogueRows = 3;
    auto definitionOf = [](std::size_t table) { return static_cast<std::uint32_t>(4 + 2 * table); };

    std::vector<std::string> maps = {UsageMap({})};  // row 0: unused here
    auto addMaps = [&](std::uint32_t dataPage) {
        maps.push_back(UsageMap({dataPage}));
        maps.push_back(UsageMap({dataPage}));
        return static_cast<std::uint32_t>(maps.size() - 2);
    };

    const std::vector<ColumnLayout> catalogue = Lay({{"Id", 0x04},
                                                     {"ParentId", 0x04},
                                                     {"Name", 0x0A},
                                                     {"Type", kShortInteger},
                                                     {"DateCreate", kDateTime},
                                                     {"DateUpdate", kDateTime},
                                                     {"Flags", 0x04},
                                                     {"LvProp", kOle}},
                                                    {0, 0, 255, 0, 0, 0, 0, 0});
    auto catalogueRow = [&](std::uint32_t id, std::uint32_t parent, const std::string& name,
                            std::uint16_t type, std::uint32_t flags) {
        return Row(catalogue, {std::to_string(static_cast<std::int32_t>(id)),
                               std::to_string(static_cast<std::int32_t>(parent)), name,
                               std::to_string(type), std::nullopt, std::nullopt,
                               std::to_string(static_cast<std::int32_t>(flags)), std::nullopt});
    };
    std::vector<std::string> catalogueRows = {
        catalogueRow(kTablesContainer, kRootContainer, "Tables", kTypeContainer, 0x80000000),
        catalogueRow(kCatalogueDefinition, kTablesContainer, "MSysObjects", kTypeTable,
                     kSystemObjectFlags)};
    for (std::size_t t = 0; t < tables.size(); ++t) {
        catalogueRows.push_back(
            catalogueRow(definitionOf(t), kTablesContainer, tables[t].name, kTypeTable, 0));
    }

    std::vector<std::string> pages(4 + 2 * tables.size());
    pages[0] = JetDefinitionPage();
    const std::uint32_t catalogueMaps = addMaps(kCatalogueRows);
    pages[kCatalogueDefinition] = TableDefinitionPage(
        kSystemTable, catalogue, static_cast<std::uint32_t>(catalogueRows.size()),
        RowPointer(kMapsPage, catalogueMaps), RowPointer(kMapsPage, catalogueMaps + 1));
    pages[kCatalogueRows] = DataPage(kCatalogueDefinition, catalogueRows);
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const JetTable& table = tables[t];
        std::vector<std::pair<std::string, std::uint8_t>> names;
        std::vector<int> chars;
        for (const JetColumn& column : table.columns) {
            names.emplace_back(column.name, static_cast<std::uint8_t>(column.type));
            chars.push_back(column.maxChars);
        }
        const std::vector<ColumnLayout> columns = Lay(names, chars);
        std::vector<std::string> rows;
        for (const auto& values : table.rows) rows.push_back(Row(columns, values));
        const std::uint32_t definition = definitionOf(t);
        const std::uint32_t tableMaps = addMaps(definition + 1);
        pages[definition] = TableDefinitionPage(
            kUserTable, columns, static_cast<std::uint32_t>(rows.size()),
            RowPointer(kMapsPage, tableMaps), RowPointer(kMapsPage, tableMaps + 1));
        pages[definition + 1] = DataPage(definition, rows);
    }
    pages[kMapsPage] = DataPage(0, maps);
    std::string file;
    for (const std::string& page : pages) file += page;
    return file;
}

std::string MakeJetCompany(const std::optional<std::string>& key,
                           const std::optional<std::string>& name) {
    return MakeJetDatabase(
        {{"ver",
          {{"verno", JetColumnType::LongInteger}, {"dbkey", JetColumnType::Text, 32}},
          {{"4012", key}}},
         {"userinfo",
          {{"legalname", JetColumnType::Text, 100}, {"owner", JetColumnType::Text, 50}},
          {{name, "대표"}}}});
}

std::string MakeJetHeaderVariant(bool ace, std::uint32_t version) {
    std::string file = JetDefinitionPage();
    if (ace) file.replace(4, 15, "Standard ACE DB");
    Put32(file, 0x14, version);
    return file + std::string(2 * kPage, '\0');
}

std::string RunMdbTool(const std::vector<std::string>& arguments, const std::string& input) {
    std::vector<std::string> command = arguments;
    std::vector<char*> argv;
    for (std::string& argument : command) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw Exception("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    // The inputs are a statement or two: they fit the pipe before anything is read back.
    const bool wrote =
        ::write(in[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
    ::close(in[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, got);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!wrote || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw Exception(arguments.front() + " failed: " + output);
    }
    return output;
}

std::string MdbSqlValue(const std::filesystem::path& file, const std::string& statement) {
    const std::string output =
        RunMdbTool({"mdb-sql", "-P", "-H", "-F", file.string()}, statement + "\ngo\n");
    const auto first = output.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return output.substr(first, output.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace tidewell::test
