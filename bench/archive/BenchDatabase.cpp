#include "BenchDatabase.h"

#include <random>
#include <string>

#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell::bench {

std::int64_t MakeDatabase(const fs::path& file, std::int64_t bytes) {
    SqliteDatabase db(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Execute(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE stock(id INTEGER PRIMARY KEY, code TEXT, name TEXT, qty INTEGER,"
        " price REAL, note TEXT, picture BLOB);"
        "CREATE INDEX stock_code ON stock(code);");
    const char* words[] = {"bolt",   "nut",   "washer", "hinge", "bracket", "cable",
                           "switch", "lamp",  "socket", "tape",  "glue",    "brush",
                           "paint",  "screw", "anchor", "chain"};
    std::mt19937 random(42);
    SqliteStatement insert =
        db.Prepare("INSERT INTO stock(code, name, qty, price, note, picture) VALUES(?,?,?,?,?,?)");
    std::int64_t rows = 0;
    for (;;) {
        db.Execute("BEGIN");
        for (int i = 0; i < 10000; ++i, ++rows) {
            const std::string code = "QB-" + std::to_string(100000 + random() % 900000);
            std::string name = words[random() % 16];
            name += std::string(" ") + words[random() % 16] + " " + std::to_string(random() % 200) +
                    "mm";
            std::string note;
            for (int w = static_cast<int>(random() % 24); w > 0; --w) {
                note += std::string(words[random() % 16]) + ' ';
            }
            insert.Bind(1, code).Bind(2, name).Bind(3, static_cast<std::int64_t>(random() % 5000));
            sqlite3_bind_double(insert.get(), 4, (random() % 1000000) / 100.0);
            insert.Bind(5, note);
            if (random() % 8 == 0) {
                std::string picture(64 + random() % 256, '\0');
                for (char& c : picture) c = static_cast<char>(random());
                sqlite3_bind_blob(insert.get(), 6, picture.data(), static_cast<int>(picture.size()),
                                  SQLITE_TRANSIENT);
            } else {
                insert.BindNull(6);
            }
            insert.Run();
            insert.Reset();
        }
        db.Execute("COMMIT");
        if (static_cast<std::int64_t>(fs::file_size(file)) >= bytes) return rows;
    }
}

}  // namespace tidewell::bench
