// The desktop program: creates the main window and runs the loop. The application title
// "Tidewell" is the one every message box carries.
#include <QApplication>

#include <cstdlib>
#include <string>

#include "platform/MessagePump.h"
#include "platform/SettingsHive.h"
#include "platform/UserInterface.h"
#include "usecase/KeptLogin.h"
#include "view/Fonts.h"
#include "view/KoreanTexts.h"
#include "view/MainWindow.h"
#include "view/Pictures.h"
#include "view/QtServices.h"

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
    // The one place that reads what the environment configures; everything else is given it.
    const tidewell::TConfiguration configuration = tidewell::ResolveConfiguration(
        {Environment("TIDEWELL_SERVICE_URL"), Environment("TIDEWELL_CA_FILE"),
         Environment("TMPDIR"), Environment("XDG_RUNTIME_DIR"), Environment("HOME")});

    QApplication application(argc, argv);
    // No display name: the desktop would add it to every window's title ("폴더 찾아보기 — ...").
    QApplication::setApplicationName("tidewell");
    QApplication::setWindowIcon(tidewell::ProgramIcon());
    tidewell::InstallFontSubstitutions();
    QApplication::setFont(tidewell::DesignFont(9));
    const tidewell::TKoreanTexts korean;

    // The services the core calls while it works: message boxes and the message pump.
    tidewell::QtUserInterface boxes;
    tidewell::QtMessagePump pump;
    const tidewell::ScopedUserInterface installedBoxes(boxes);
    const tidewell::ScopedMessagePump installedPump(pump);

    // The service `tidewell-cli login` kept serves the window too, unless told otherwise.
    const auto kept = tidewell::ReadKeptLogin();
    int result = 0;
    {
        tidewell::TformMainWindow window(
            {&tidewell::CurrentUserHive(), configuration, &tidewell::SystemClock()}, nullptr,
            kept ? kept->ServiceURL : std::string());
        boxes.SetParent(&window);
        window.ShowAsStored();
        result = QApplication::exec();
    }
    return result;
}
