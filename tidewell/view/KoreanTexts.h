#pragma once

// The toolkit's own words in Korean: the buttons of message boxes, the context menus of edit
// fields and scroll bars. Qt's Korean catalogue is loaded when the system has it; a small table
// of our own stands over it, so the words a user meets every day read the same with or without
// the catalogue.

#include <QMessageBox>
#include <QString>
#include <QTranslator>

#include <memory>

namespace tidewell {

// The texts of the standard buttons the window's boxes use: 확인, 취소, 예, 아니요.
QString StandardButtonText(QMessageBox::StandardButton button);

// The table of our own: answers only what it knows, so the catalogue below it answers the rest.
class TKoreanStandardTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return false; }
};

// Installs Qt's catalogue (when present) and our table over it for the application's
// lifetime; removes both when destroyed.
class TKoreanTexts {
public:
    TKoreanTexts();
    TKoreanTexts(const TKoreanTexts&) = delete;
    TKoreanTexts& operator=(const TKoreanTexts&) = delete;
    ~TKoreanTexts();

    bool CatalogueLoaded() const { return catalogueLoaded_; }

private:
    std::unique_ptr<QTranslator> catalogue_;
    std::unique_ptr<TKoreanStandardTexts> ours_;
    bool catalogueLoaded_ = false;
};

}  // namespace tidewell
