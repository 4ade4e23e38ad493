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

std::optional<int> ChooseSafetyArchive(const std::string& companyName,
                                       const TSafetyArchiveList& list,
                                       const TSafetyArchiveRemoval& remove, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle("이전 자료로 되돌리기");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(
        QString::fromStdString(companyName + "의 어느 자료로 되돌릴지 선택하세요.\n지금의 자료는 "
                                             "먼저 새 백업 파일로 보관됩니다."),
        &dialog));
    auto* rows = new QListWidget(&dialog);
    rows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rows->setMinimumWidth(420);
    layout->addWidget(rows);
    auto* notes = new QLabel(&dialog);
    notes->setWordWrap(true);
    layout->addWidget(notes);
    const auto show = [&](const TSafetyArchiveList& shown) {
        rows->clear();
        for (const TSafetyArchive& archive : shown.Archives) {
            auto* item = new QListWidgetItem(Line(archive), rows);
            item->setToolTip(QString::fromStdString(archive.Path));
        }
        rows->setCurrentRow(0);
        notes->setText(DisplayText(shown.Note));
        notes->setVisible(!shown.Note.empty());
    };
    show(list);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* restore = buttons->addButton("되돌리기", QDialogButtonBox::AcceptRole);
    QPushButton* erase = buttons->addButton("지우기...", QDialogButtonBox::ActionRole);
    buttons->addButton("취소", QDialogButtonBox::RejectRole);
    erase->setToolTip("선택한 백업 파일을 지웁니다 (여럿 선택: Ctrl 또는 Shift)");
    const auto selected = [&] {
        std::vector<int> indices;
        for (int i = 0; i < rows->count(); ++i) {
            if (rows->item(i)->isSelected()) indices.push_back(i);
        }
        return indices;
    };
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(erase, &QPushButton::clicked, &dialog, [&] {
        const std::vector<int> indices = selected();
        if (indices.empty() || !remove) return;
        const std::optional<TSafetyArchiveList> left = remove(indices);
        if (!left) return;
        if (left->Archives.empty()) {
            dialog.reject();
            return;
        }
        show(*left);
        rows->setFocus();
    });
    QObject::connect(rows, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    // One archive goes back at a time; any number can go away.
    const auto follow = [&] {
        const int count = static_cast<int>(rows->selectedItems().size());
        restore->setEnabled(count == 1);
        erase->setEnabled(count > 0);
    };
    QObject::connect(rows, &QListWidget::itemSelectionChanged, &dialog, follow);
    follow();
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const std::vector<int> indices = selected();
    if (indices.size() != 1) return std::nullopt;
    return indices.front();
}

}  // namespace tidewell
