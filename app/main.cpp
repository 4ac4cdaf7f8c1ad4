#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "Debug.h"
#include "KorvaltVersion.h"
#include "Korvaltmain.h"
#include "Setup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("korvalt");
    QApplication::setApplicationVersion(KorvaltVersion);
    QApplication::setApplicationDisplayName("Korvalt game");
    QApplication::setDesktopFileName("korvalt");
    try {
        TSetupForm setup;
        TMainForm mainForm(&setup);
        TDebugForm debugForm(&mainForm);
        setup.setMainForm(&mainForm);
        mainForm.debugForm = &debugForm;
        setup.show();
        QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Korvalt game", QString::fromUtf8(e.what()));
    }
    return 0;
}
