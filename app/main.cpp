#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <optional>
#include <unistd.h>

#include "CommandLine.h"
#include "Debug.h"
#include "KorvaltVersion.h"
#include "Korvaltmain.h"
#include "Setup.h"

namespace {

/// Exit status when no display can be opened; the play script then starts the terminal game.
constexpr int NoDisplayExit = 3;

/// The name of the desktop entry, the metadata and the icon.
constexpr char DesktopId[] = "org.example.korvalt";

const char* const GameHelp =
    R"(The game opens with the rules dialog: pick the opening rule, then play with the
mouse in the game window. Ctrl+Q closes the game, as do SIGTERM, SIGINT and
SIGHUP. The terminal game is korvalt-cli.

Exit status: 0 when the game is closed, 1 when there is not enough memory for
the computer's search, 2 for a bad option, 3 when no display can be opened.
)";

// While the application object opens its display, the toolkit's messages are held back: if
// that fails, the player gets one clear line instead of the toolkit's advice to reinstall.
bool openingDisplay = false;
QStringList heldMessages;

void holdStartupMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg && openingDisplay) {
        // Only a platform that cannot start means no display; any other failure is told as
        // the toolkit tells it, after what it said before.
        if (!text.contains("platform plugin")) {
            for (const QString& held : heldMessages) {
                std::fprintf(stderr, "%s\n", qPrintable(held));
            }
            std::fprintf(stderr, "korvalt: %s\n", qPrintable(text));
            std::_Exit(EXIT_FAILURE);
        }
        std::fputs("Cannot open a display; the terminal game is korvalt-cli.\n", stderr);
        std::_Exit(NoDisplayExit);
    }
    if (openingDisplay) {
        heldMessages.append(text);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// SIGTERM, SIGINT and SIGHUP (logout, Ctrl+C in a terminal) close the game as Ctrl+Q does.
// The handler only writes a byte; the window's thread does the rest.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    const ssize_t written = write(signalPipe[1], &byte, 1);
    (void)written;
}

bool catchClosingSignals() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(sig, &action, nullptr);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // One heap for all threads: each would otherwise reserve 64 MB of address space of its own,
    // room that the node table needs under an address-space limit (ulimit -v).
    mallopt(M_ARENA_MAX, 1);
    // Read before the toolkit starts, so that --help and --version need no display.
    CommandLine line("korvalt", "Five in a row against a computer that never stops thinking, in "
                                "a window. To win, put 5 (or more) stones in a straight line.");
    line.addHelpSection(GameHelp);
    if (const std::optional<int> status = line.parse(argc, argv, std::cout, std::cerr)) {
        return *status;
    }
    qInstallMessageHandler(holdStartupMessages);
    openingDisplay = true;
    QApplication app(argc, argv);
    openingDisplay = false;
    qInstallMessageHandler(nullptr);
    for (const QString& held : heldMessages) {
        std::fprintf(stderr, "%s\n", qPrintable(held));
    }
    // No display name: the toolkit would add it to every window title.
    QApplication::setApplicationName("korvalt");
    QApplication::setApplicationVersion(KorvaltVersion);
    QApplication::setDesktopFileName(DesktopId);
    // Found once the game is installed; from the build tree the window keeps the default.
    QApplication::setWindowIcon(QIcon::fromTheme(DesktopId));
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
        TMainForm mainForm;
        TDebugForm debugForm(
            [&mainForm] { return mainForm.shared.snapshot(); },
            [&mainForm](const QString& text) { mainForm.showMessage("Message", text); });
        QObject::connect(&setup, &TSetupForm::ruleChosen, &mainForm, &TMainForm::startGame);
        mainForm.debugForm = &debugForm;
        std::unique_ptr<QSocketNotifier> closing;
        if (catchClosingSignals()) {
            closing = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
            QObject::connect(closing.get(), &QSocketNotifier::activated, [&] {
                char drained[16];
                while (read(signalPipe[0], drained, sizeof drained) > 0) {
                }
                if (mainForm.isVisible()) {
                    mainForm.quitGame();
                } else {
                    QCoreApplication::quit();
                }
            });
        }
        setup.show();
        status = QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Korvalt game", QString::fromUtf8(e.what()));
    }
    return status;
}
