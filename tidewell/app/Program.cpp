// The desktop program: creates the main window and runs the loop. The application title
// "Tidewell" is the one every message box carries.
#include <QApplication>

#include "platform/MessagePump.h"
#include "platform/UserInterface.h"
#include "view/Fonts.h"
#include "view/KoreanTexts.h"
#include "view/MainWindow.h"
#include "view/QtServices.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // No display name: the desktop would add it to every window's title ("폴더 찾아보기 — ...").
    QApplication::setApplicationName("tidewell");
    QApplication::setWindowIcon(QIcon(":/pictures/LOGO_QUENLOW"));
    tidewell::InstallFontSubstitutions();
    QApplication::setFont(tidewell::DesignFont(9));
    const tidewell::TKoreanTexts korean;

    // The services the core calls while it works: message boxes and the message pump.
    tidewell::QtUserInterface boxes;
    tidewell::QtMessagePump pump;
    const tidewell::ScopedUserInterface installedBoxes(boxes);
    const tidewell::ScopedMessagePump installedPump(pump);

    int result = 0;
    {
        tidewell::TformMainWindow window;
        boxes.SetParent(&window);
        window.ShowAsStored();
        result = QApplication::exec();
    }
    return result;
}
