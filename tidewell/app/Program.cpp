// The desktop program: sets the application title, creates the main window, runs the loop.
#include <QApplication>

#include "company/Common.h"
#include "platform/MessagePump.h"
#include "platform/UserInterface.h"
#include "view/Fonts.h"
#include "view/MainWindow.h"
#include "view/QtServices.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("tidewell");
    QApplication::setApplicationDisplayName(tidewell::kApplicationTitle);
    QApplication::setWindowIcon(QIcon(":/pictures/LOGO_QUENLOW"));
    tidewell::InstallFontSubstitutions();
    QApplication::setFont(tidewell::DesignFont(9));

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
