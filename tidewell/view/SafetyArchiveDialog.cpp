#include "view/SafetyArchiveDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "company/Common.h"
#include "view/QtServices.h"

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

std::optional<TSafetyArchiveChoice> ChooseSafetyArchive(const std::string& companyName,
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
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const TSafetyArchive& archive : archives) {
        auto* item = new QListWidgetItem(Line(archive), list);
        item->setToolTip(QString::fromStdString(archive.Path));
    }
    list->setCurrentRow(0);
    list->setMinimumWidth(420);
    layout->addWidget(list);
    if (!note.empty()) {
        auto* notes = new QLabel(DisplayText(note), &dialog);
        notes->setWordWrap(true);
        layout->addWidget(notes);
    }
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* restore = buttons->addButton("되돌리기", QDialogButtonBox::AcceptRole);
    QPushButton* remove = buttons->addButton("지우기...", QDialogButtonBox::ActionRole);
    buttons->addButton("취소", QDialogButtonBox::RejectRole);
    remove->setToolTip("선택한 백업 파일을 지웁니다 (여럿 선택: Ctrl 또는 Shift)");
    TSafetyArchiveChoice choice;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(remove, &QPushButton::clicked, &dialog, [&] {
        choice.Action = TSafetyArchiveChoice::Remove;
        dialog.accept();
    });
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    // One archive goes back at a time; any number can go away.
    const auto follow = [&] {
        const int selected = static_cast<int>(list->selectedItems().size());
        restore->setEnabled(selected == 1);
        remove->setEnabled(selected > 0);
    };
    QObject::connect(list, &QListWidget::itemSelectionChanged, &dialog, follow);
    follow();
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->isSelected()) choice.Indices.push_back(i);
    }
    if (choice.Indices.empty()) return std::nullopt;
    if (choice.Action == TSafetyArchiveChoice::Restore && choice.Indices.size() != 1) {
        return std::nullopt;
    }
    return choice;
}

}  // namespace tidewell
