#include "view/SettingsDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "usecase/ProgramSettings.h"

namespace tidewell {

bool EditWindowSettings(TWindowSettings& settings, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle("설정");
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout();
    layout->addLayout(form);

    auto* service = new QLineEdit(QString::fromStdString(settings.ServiceURL), &dialog);
    service->setObjectName("ServiceURL");
    service->setPlaceholderText(QString::fromStdString(settings.ServiceInUse));
    service->setMinimumWidth(260);
    form->addRow("웹폴더 서비스 주소(&S):", service);
    std::string note = "비워 두면 tidewell-cli login이 저장한 주소나 기본 주소를 씁니다.";
    if (!settings.ServiceLockedBy.empty()) {
        service->setEnabled(false);
        service->setText(QString::fromStdString(settings.ServiceInUse));
        note = settings.ServiceLockedBy;
    }
    auto* serviceNote = new QLabel(QString::fromStdString(note), &dialog);
    serviceNote->setWordWrap(true);
    serviceNote->setStyleSheet("color: gray;");
    form->addRow("", serviceNote);

    auto* kept = new QSpinBox(&dialog);
    kept->setObjectName("SafetyArchivesKept");
    kept->setRange(1, kMostSafetyArchivesKept);
    kept->setValue(settings.SafetyArchivesKept);
    kept->setSuffix(" 개");
    form->addRow("사업장마다 보관할 백업 파일(&B):", kept);
    auto* keptNote =
        new QLabel("오래된 것부터 지웁니다. 가장 최근의 백업 파일은 늘 남깁니다.", &dialog);
    keptNote->setWordWrap(true);
    keptNote->setStyleSheet("color: gray;");
    form->addRow("", keptNote);

    QPushButton* logout = nullptr;
    if (!settings.Account.empty()) {
        auto* account = new QHBoxLayout();
        account->addWidget(new QLabel(QString::fromStdString(settings.Account), &dialog), 1);
        logout = new QPushButton("로그아웃(&O)", &dialog);
        logout->setObjectName("Logout");
        logout->setAutoDefault(false);
        account->addWidget(logout);
        form->addRow("계정:", account);
    }

    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton("확인", QDialogButtonBox::AcceptRole);
    buttons->addButton("취소", QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    bool logoutWanted = false;
    if (logout) {
        QObject::connect(logout, &QPushButton::clicked, &dialog, [&] {
            logoutWanted = true;
            dialog.accept();
        });
    }
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return false;
    if (settings.ServiceLockedBy.empty()) settings.ServiceURL = service->text().toStdString();
    settings.SafetyArchivesKept = kept->value();
    settings.LogoutWanted = logoutWanted;
    return true;
}

}  // namespace tidewell
