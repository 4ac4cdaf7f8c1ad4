#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "Debug.h"
#include "Korvaltmain.h"
#include "Setup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // No display name: the toolkit would add it to every window title.
    QApplication::setApplicationName("korvalt");
    QApplication::setDesktopFileName("korvalt");
    const GameMemory memory = gameMemory();
    if (!memory.enough) {
        const QString text = TMainForm::notEnoughMemoryText(memory.available, memory.needed);
        std::fprintf(stderr, "korvalt: %s\n", qPrintable(text));
        QMessageBox box(QMessageBox::NoIcon, "Message", text, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    int status = 0;
    try {
        TSetupForm setup;
        TMainForm mainForm(&setup);
        TDebugForm debugForm(&mainForm);
        setup.setMainForm(&mainForm);
        mainForm.debugForm = &debugForm;
        setup.show();
        status = QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Korvalt game", QString::fromUtf8(e.what()));
    }
    return status;
}
