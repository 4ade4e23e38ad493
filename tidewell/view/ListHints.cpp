#include "view/ListHints.h"

#include <QFontMetrics>
#include <QPainter>

#include "view/Fonts.h"

namespace tidewell {

namespace {

constexpr int kSyncHintWidth = 300;
constexpr int kSyncHintHeight = 40;
constexpr int kFolderHintPadding = 20;
constexpr int kFolderHintHeight = 30;
constexpr int kHintTextInset = 8;

QString SyncHintText(TSyncMode syncMode) {
    switch (syncMode) {
        case smUserDownload:
            return QStringLiteral("내컴퓨터로 파일을 다운로드 합니다.");
        case smUserUpload:
            return QStringLiteral("웹폴더로 파일을 업로드 합니다.");
        case smUpload:
            return QStringLiteral("내컴퓨터에 최신 파일이 있습니다. 전송시 파일을 업로드 합니다.");
        case smDownload:
            return QStringLiteral("웹폴더에 최신 파일이 있습니다. 전송시 파일을 다운로드 합니다.");
        case smNone:
            return QStringLiteral(
                "웹폴더와 내컴퓨터의 자료가 동일합니다. 파일을 전송할 필요가 없습니다.");
    }
    return {};
}

}  // namespace

QString BothChangedHintText(TDateTime local, TDateTime web, TSyncDecision::TAsk why) {
    const auto time = [](TDateTime t) {
        return QString::fromStdString(FormatDateTime("yyyy-mm-dd hh:nn:ss", t));
    };
    const QString reason =
        why == TSyncDecision::akFutureTime
            ? QStringLiteral("자료의 시각이 미래로 되어 있어 어느 쪽이 최신인지 알 수 없습니다. ")
        : why == TSyncDecision::akNeverAgreed
            ? QStringLiteral("이 컴퓨터와 웹폴더의 자료를 맞춘 적이 없습니다. ")
            : QStringLiteral("양쪽 자료가 모두 변경되었습니다. ");
    return reason + QStringLiteral("내컴퓨터: ") + time(local) + QStringLiteral(", 웹폴더: ") +
           time(web) + QStringLiteral(". 전송할 때 남길 쪽을 선택합니다.");
}

QSize BothChangedHintSize() {
    return {kSyncHintWidth, kSyncHintHeight + 26};
}

QString MissingFolderHintText(const std::string& path, bool folderExists) {
    return (folderExists ? QStringLiteral("등록된 폴더에 사업장 자료(default.mdb)가 없습니다: ")
                         : QStringLiteral("등록된 폴더를 찾을 수 없습니다: ")) +
           QString::fromStdString(path) +
           QStringLiteral(
               ". 드라이브가 연결되어 있는지, 폴더 이름이 바뀌지 않았는지 확인하거나 "
               "폴더를 다시 선택해 주세요.");
}

QString FolderHintText(const std::string& localPath) {
    return QStringLiteral("폴더위치: ") + QString::fromStdString(localPath);
}

QString ShortenedNameHint(const std::string& companyName, int nameWidth) {
    const QString name = QString::fromStdString(companyName);
    const QFontMetrics metrics(ListNameFont());
    return FitTextWithEllipsis(name, nameWidth, metrics) == name ? QString() : name;
}

QSize OneLineHintSize(int textWidth) {
    return {textWidth + kFolderHintPadding, kFolderHintHeight};
}

QSize ListHintSize(TListArea area, bool rowHasCompany, const std::string& localPath,
                   const TTextWidthFunction& widthOf) {
    if (!rowHasCompany) return {};
    switch (area) {
        case TListArea::laSyncButton:
            return {kSyncHintWidth, kSyncHintHeight};
        case TListArea::laFolderLink:
            return OneLineHintSize(widthOf(FolderHintText(localPath)));
        case TListArea::laNone:
            break;
    }
    return {};
}

QString ListHintText(TListArea area, TSyncMode syncMode, const std::string& localPath) {
    switch (area) {
        case TListArea::laSyncButton:
            return SyncHintText(syncMode);
        case TListArea::laFolderLink:
            return FolderHintText(localPath);
        case TListArea::laNone:
            break;
    }
    return {};
}

void PaintListHint(QPainter& painter, const QRect& rect, const QString& text, const QFont& font,
                   const QColor& background) {
    if (text.isEmpty()) return;
    painter.save();
    painter.fillRect(rect, background);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.setFont(font);
    painter.drawText(rect.adjusted(kHintTextInset, kHintTextInset, 0, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    painter.restore();
}

}  // namespace tidewell
