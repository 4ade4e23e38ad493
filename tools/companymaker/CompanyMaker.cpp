#include "CompanyMaker.h"

#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <random>

#include "company/Common.h"
#include "platform/Error.h"
#include "platform/Sqlite.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

constexpr std::array kCategories = {"음료", "과자", "생활용품", "문구", "냉동식품",
                                    "유제품", "주류", "라면", "위생용품", "잡화"};
constexpr std::array kMakers = {"한빛", "새솔", "다온", "푸른들", "하늘", "미소", "초록", "늘봄"};
constexpr std::array kGoods = {"보리차", "오렌지주스", "감자칩", "초코과자", "치약", "샴푸",
                               "볼펜",   "공책",       "만두",   "아이스크림", "우유", "요구르트",
                               "맥주",   "컵라면",     "물티슈", "건전지"};
constexpr std::array kSizes = {"100ml", "250ml", "500ml", "1L", "1.5L", "50g", "120g",
                               "300g",  "1kg",   "10개입", "20매", "4개"};
constexpr std::array kMemoWords = {"입고", "반품", "재고조사", "유통기한", "확인", "행사",
                                   "진열",  "발주", "거래처",  "단가",     "변경", "보류",
                                   "정상",  "품절", "예정",    "창고"};

template <typename Words>
const char* Pick(std::mt19937& random, const Words& words) {
    return words[random() % words.size()];
}

// An EAN-13 of the Korean range with its check digit.
std::string Barcode(std::mt19937& random) {
    std::string digits = "880";
    for (int i = 0; i < 9; ++i) digits += static_cast<char>('0' + random() % 10);
    int sum = 0;
    for (int i = 0; i < 12; ++i) sum += (digits[i] - '0') * (i % 2 ? 3 : 1);
    digits += static_cast<char>('0' + (10 - sum % 10) % 10);
    return digits;
}

std::string Timestamp(std::mt19937& random) {
    auto next = [&](unsigned range) { return static_cast<unsigned>(random() % range); };
    char text[32];
    std::snprintf(text, sizeof text, "20%02u-%02u-%02u %02u:%02u:%02u", 5 + next(15),
                  1 + next(12), 1 + next(28), next(24), next(60), next(60));
    return text;
}

std::string Memo(std::mt19937& random) {
    std::string memo;
    const unsigned words = 2 + random() % 12;
    for (unsigned i = 0; i < words; ++i) {
        if (i) memo += ' ';
        memo += Pick(random, kMemoWords);
        if (random() % 4 == 0) memo += std::to_string(random() % 1000);
    }
    return memo;
}

std::int64_t FileBytes(SqliteDatabase& db) {
    auto count = db.Prepare("PRAGMA page_count");
    count.Step();
    auto size = db.Prepare("PRAGMA page_size");
    size.Step();
    return count.ColumnInt(0) * size.ColumnInt(0);
}

}  // namespace

std::string MakeCompanyFolder(const std::string& folder, const CompanyRecipe& recipe) {
    fs::create_directories(folder);
    const std::string file = CompanyDatabaseFile(folder);
    if (fs::exists(fs::symlink_status(file))) {
        throw Exception("이미 데이터베이스가 있습니다: " + file);
    }
    std::string key;
    if (recipe.withKey) key = recipe.key.empty() ? NewCompanyKey() : recipe.key;

    SqliteDatabase db(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // A fresh file that nobody else can see yet: no journal and no syncing, for speed.
    db.Execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    db.Execute("BEGIN");
    db.Execute("CREATE TABLE userinfo (legalname nvarchar(100), ceoname nvarchar(50), "
               "phone nvarchar(20))");
    db.Prepare("INSERT INTO userinfo VALUES (?, '홍길동', '02-123-4567')")
        .Bind(1, recipe.name)
        .Run();
    db.Execute(recipe.withKey ? "CREATE TABLE ver (version nvarchar(20), dbkey nvarchar(32))"
                              : "CREATE TABLE ver (version nvarchar(20))");
    if (recipe.verRow) {
        auto insert = db.Prepare(recipe.withKey ? "INSERT INTO ver VALUES ('5.10', ?)"
                                                : "INSERT INTO ver VALUES ('5.10')");
        if (recipe.withKey) insert.Bind(1, key);
        insert.Run();
    }
    db.Execute(
        "CREATE TABLE inventory (id INTEGER PRIMARY KEY, barcode nvarchar(13), "
        "goodsname nvarchar(100), category nvarchar(20), price INTEGER, quantity INTEGER, "
        "updated nvarchar(19), memo nvarchar(255))");

    std::mt19937 random(recipe.seed);
    auto insert = db.Prepare("INSERT INTO inventory VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    std::int64_t id = 0;
    auto addRow = [&] {
        ++id;
        const std::string goods = std::string(Pick(random, kMakers)) + " " +
                                  Pick(random, kGoods) + " " + Pick(random, kSizes);
        insert.Bind(1, id)
            .Bind(2, Barcode(random))
            .Bind(3, goods)
            .Bind(4, Pick(random, kCategories))
            .Bind(5, static_cast<std::int64_t>(10 * (10 + random() % 10000)))
            .Bind(6, static_cast<std::int64_t>(random() % 500))
            .Bind(7, Timestamp(random))
            .Bind(8, Memo(random));
        insert.Run();
        insert.Reset();
    };
    for (std::int64_t i = 0; i < recipe.rows; ++i) addRow();
    while (recipe.minimumBytes > 0 && FileBytes(db) < recipe.minimumBytes) {
        for (int i = 0; i < 10000; ++i) addRow();
    }
    db.Execute("COMMIT");
    return key;
}

}  // namespace tidewell
