#include "view/QtServices.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "view/KoreanTexts.h"

namespace tidewell {
namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton BoxButton(MessageResult result) {
    switch (result) {
        case MessageResult::Ok:
            return QMessageBox::Ok;
        case MessageResult::Cancel:
            return QMessageBox::Cancel;
        case MessageResult::Yes:
            return QMessageBox::Yes;
        case MessageResult::No:
            return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

}  // namespace

QString DisplayText(const std::string& text) {
    QString result = QString::fromStdString(text);
    result.replace("\r\n", "\n");
    result.replace('\r', '\n');
    return result;
}

MessageResult QtUserInterface::ShowMessageBox(const MessageBoxRequest& request) {
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (request.buttons == MessageButtons::OkCancel)
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    if (request.buttons == MessageButtons::YesNo) buttons = QMessageBox::Yes | QMessageBox::No;
    if (request.buttons == MessageButtons::YesNoCancel) {
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    QMessageBox box(BoxIcon(request.icon), QString::fromStdString(request.title),
                    DisplayText(request.text), buttons, parent_);
    // Our own words, whether or not the system has Qt's Korean catalogue, and no pictures
    // on them: the window's other buttons have none either.
    for (QAbstractButton* button : box.buttons()) {
        const QMessageBox::StandardButton which = box.standardButton(button);
        // A question about two choices names them on its buttons.
        if (which == QMessageBox::Yes && !request.yesText.empty()) {
            button->setText(QString::fromStdString(request.yesText));
        } else if (which == QMessageBox::No && !request.noText.empty()) {
            button->setText(QString::fromStdString(request.noText));
        } else {
            button->setText(StandardButtonText(which));
        }
        button->setIcon(QIcon());
    }
    box.setDefaultButton(BoxButton(request.defaultButton));
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return MessageResult::Cancel;
        case QMessageBox::Yes:
            return MessageResult::Yes;
        case QMessageBox::No:
            return MessageResult::No;
        case QMessageBox::Ok:
            return MessageResult::Ok;
        default:
            // Closed with the window's close box: the cautious answer.
            return request.buttons == MessageButtons::YesNo ? MessageResult::No
                   : request.buttons == MessageButtons::Ok  ? MessageResult::Ok
                                                            : MessageResult::Cancel;
    }
}

void QtMessagePump::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QtMessagePump::Terminated() const {
    return QCoreApplication::closingDown();
}

bool QtShell::OpenUrl(const std::string& url) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    // xdg-open says within a moment whether anything could open the address (no browser: it
    // ends with a failure); one that is still busy has found its handler.
    auto* process = new QProcess();
    process->start(opener, {QString::fromStdString(url)});
    if (!process->waitForStarted()) {
        delete process;
        return false;
    }
    if (process->waitForFinished(3000)) {
        const bool opened =
            process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
        delete process;
        return opened;
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    return true;
}

bool QtShell::StartProgram(const std::string& program, const std::string& parameters,
                           const std::string& workingFolder) {
    return QProcess::startDetached(QString::fromStdString(program),
                                   {QString::fromStdString(parameters)},
                                   QString::fromStdString(workingFolder));
}

}  // namespace tidewell
