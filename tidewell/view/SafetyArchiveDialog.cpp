#include "view/SafetyArchiveDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "company/Common.h"

namespace tidewell {
namespace {

QString Line(const TSafetyArchive& archive) {
    const std::string data = archive.DataTime > 0
                                 ? FormatDateTime("yyyy-mm-dd hh:nn:ss", archive.DataTime) + " 자료"
                                 : std::string("읽을 수 없는 백업 파일");
    const std::string made = FormatDateTime("yyyy-mm-dd hh:nn", archive.MadeTime);
    return QString::fromStdString(data + "   (" + FormatSize(archive.Size) + ", " + made +
                                  "에 보관)");
}

}  // namespace

std::optional<int> ChooseSafetyArchive(const std::string& companyName,
                                       const std::vector<TSafetyArchive>& archives,
                                       const std::string& note, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle("이전 자료로 되돌리기");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(
        QString::fromStdString(companyName + "의 어느 자료로 되돌릴지 선택하세요.\n지금의 자료는 "
                                             "먼저 새 백업 파일로 보관됩니다."),
        &dialog));
    auto* list = new QListWidget(&dialog);
    for (const TSafetyArchive& archive : archives) {
        auto* item = new QListWidgetItem(Line(archive), list);
        item->setToolTip(QString::fromStdString(archive.Path));
    }
    list->setCurrentRow(0);
    list->setMinimumWidth(420);
    layout->addWidget(list);
    if (!note.empty()) {
        auto* web = new QLabel(QString::fromStdString(note), &dialog);
        web->setWordWrap(true);
        layout->addWidget(web);
    }
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton("되돌리기", QDialogButtonBox::AcceptRole);
    buttons->addButton("취소", QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
    return list->currentRow();
}

}  // namespace tidewell
