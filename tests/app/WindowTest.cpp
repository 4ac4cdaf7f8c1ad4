#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>
#include <functional>

#include "Debug.h"
#include "Korvaltmain.h"
#include "Setup.h"

namespace {

// The three windows, created and wired in the program's order.
struct Program {
    Program()
        : debug([this] { return main.shared.snapshot(); },
                [this](const QString& text) { main.showMessage("Message", text); }) {
        QObject::connect(&setup, &TSetupForm::ruleChosen, &main, &TMainForm::startGame);
        main.debugForm = &debug;
        setup.show();
    }
    void start(bool centralRule = false) {
        (centralRule ? setup.RadioButton2 : setup.RadioButton1)->setChecked(true);
        QTest::mouseClick(setup.Button1, Qt::LeftButton);
    }
    Gameboard* engine() { return main.shared.Engine.load(); }
    // Waits until the window shows a position with this many plies: clicks are made on what
    // the window shows, not on what the thread has published meanwhile.
    bool waitForPly(int ply, int ms = 60000) {
        return QTest::qWaitFor([&] { return main.view.ShownPly == ply; }, ms);
    }
    void clickWindowCell(int row, int col) {
        const CellRect r = main.grid->CellRectOf(col, row);
        QTest::mouseClick(main.grid, Qt::LeftButton, {},
                          QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    }

    TSetupForm setup;
    TMainForm main;
    TDebugForm debug;
};

// Answers every message box the game opens, as a player would, and remembers the last one.
// It lives no longer than the windows it watches.
struct BoxAnswerer {
    explicit BoxAnswerer(TMainForm& form) {
        QObject::connect(&poll, &QTimer::timeout, [this, &form] {
            if (QMessageBox* box = form.openBox) {
                if (box->isVisible() && answering) {
                    caption = box->windowTitle();
                    text = box->text();
                    ++answered;
                    box->accept();
                }
            }
        });
        poll.start(10);
    }
    QTimer poll;
    bool answering = true;
    int answered = 0;
    QString caption, text;
};

QString shotPath(const QString& name) {
    return QDir(QCoreApplication::applicationDirPath()).filePath("screenshots/" + name + ".png");
}

void saveShot(QWidget* w, const QString& name) {
    QDir().mkpath(QFileInfo(shotPath(name)).path());
    w->grab().save(shotPath(name));
}

// How many pixels of the cell's rectangle are close to the colour.
int pixelsNear(const QImage& img, const CellRect& r, QColor c) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            const QColor p = img.pixelColor(x, y);
            if (std::abs(p.red() - c.red()) < 40 && std::abs(p.green() - c.green()) < 40 &&
                std::abs(p.blue() - c.blue()) < 40) {
                ++n;
            }
        }
    }
    return n;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void rulesDialogNeedsAChoice();
    void rulesDialogRuleReachesTheEngine();
    void resizePlacesBoardAndPanel();
    void engineCellsFollowTheFlags();
    void clickWhileTheComputerIsToMoveIsIgnored();
    void tintLeansTowardsTheSideAhead();
    void renderedBoardShowsBothMoves();
    void noEntryPointerOnTheCentralSquare();
    void buttonsSetTheirRequests();
    void announcementOfMoves();
    void statusFollowsTheShownPosition();
    void controlsChangeOnlyWhenAskedTo();
    void quitWorksWhateverHasTheFocus();
    void rulesDialogIsADialog();
    void firstPaintComesWithTheWindow();
    void labelsShowTheirHints();
    void smallestWindowKeepsEveryControlWhole();
    void brokenSoundFilesAreNotUsed();
    void aboutDisplay();
    void inspectionWindow();
    void gameOverIsAnnounced();
    void closingMidGrowthJoinsTheThread();
    void randomInputNeverBreaksTheGame();
};

void WindowTest::rulesDialogNeedsAChoice() {
    Program p;
    QVERIFY(!p.setup.RadioButton3->isEnabled());
    QCOMPARE(p.setup.windowTitle(), QString("Korvalt setup"));
    saveShot(&p.setup, "rules-dialog");
    QTest::mouseClick(p.setup.Button1, Qt::LeftButton);
    QVERIFY(p.setup.isVisible());
    QVERIFY(!p.main.isVisible());
    QVERIFY(p.engine() == nullptr);
    p.setup.RadioButton3->click(); // disabled: cannot be chosen
    QVERIFY(!p.setup.RadioButton3->isChecked());
}

void WindowTest::rulesDialogRuleReachesTheEngine() {
    for (bool central : {false, true}) {
        Program p;
        p.start(central);
        QVERIFY(!p.setup.isVisible());
        QVERIFY(p.main.isVisible());
        QVERIFY(p.engine() != nullptr);
        QCOMPARE(p.setup.RuleChoice, central ? 1 : 0);
        QCOMPARE(p.engine()->openingRule, central ? 1u : 0u);
        QCOMPARE(p.main.shared.snapshot().ShownPly, 1);
        QCOMPARE(p.main.StatusPanel0->text(), QString("O goes")); // the noughts are to move
        QCOMPARE(p.main.ComboBoxMode->currentIndex(), 1);
        QCOMPARE(p.main.ButtonA->text(), QString("About.."));
        // Showing the window again builds nothing new.
        Gameboard* first = p.engine();
        p.main.hide();
        p.main.show();
        QCOMPARE(p.engine(), first);
    }
}

void WindowTest::resizePlacesBoardAndPanel() {
    Program p;
    p.start();
    p.main.resize(674, 481);
    QCOMPARE(p.main.grid->width(), 450);
    QCOMPARE(p.main.grid->DefaultColWidth, 29);
    QCOMPARE(p.main.Panel1->pos(), QPoint(469, 3));
    QCOMPARE(TMainForm::boardPenWidth(450), 3);
    p.main.resize(1000, 800);
    QCOMPARE(p.main.grid->width(), 780);
    QCOMPARE(p.main.grid->DefaultColWidth, 51);
    QCOMPARE(TMainForm::boardPenWidth(780), 6);
    saveShot(&p.main, "empty-board-large");
    p.main.resize(674, 481);
    saveShot(&p.main, "empty-board");
}

void WindowTest::engineCellsFollowTheFlags() {
    Program p;
    p.main.view.orientation = FlipColumns;
    QCOMPARE(p.main.ToEngineCell(7 * 15 + 0), 119);
    p.main.view.orientation = Transposed;
    QCOMPARE(p.main.ToEngineCell(1), 15);
    p.main.view.orientation = Transposed | FlipRows;
    QCOMPARE(p.main.ToEngineCell(0), 14);
}

void WindowTest::clickWhileTheComputerIsToMoveIsIgnored() {
    Program p;
    p.main.CheckBoxGrow->setCheckState(Qt::Checked); // no engine: the thread keeps idling
    p.main.shared.MoveRequest.store(1);
    p.clickWindowCell(7, 8);
    QCOMPARE(p.main.shared.ClickedCell.load(), int32_t{NoCell});
    p.main.shared.MoveRequest.store(0);
    p.clickWindowCell(7, 8);
    QCOMPARE(p.main.shared.ClickedCell.load(), Handshake::tagClick(113, 0));
}

void WindowTest::tintLeansTowardsTheSideAhead() {
    Program p;
    struct Case {
        int rating;
        bool on;
        QColor colour;
    };
    for (const Case& k :
         {Case{32600, true, QColor(165, 255, 255)}, Case{-16300, true, QColor(255, 255, 210)},
          Case{32600, false, QColor(255, 255, 255)}, Case{0, true, QColor(255, 255, 255)}}) {
        Snapshot s;
        s.ShownRating = static_cast<int16_t>(k.rating);
        p.main.shared.publish(s);
        p.main.cbVisualRating->setChecked(k.on);
        p.main.FormPaint();
        QCOMPARE(p.main.tint(), k.colour);
        QCOMPARE(p.main.Panel1->palette().color(QPalette::Window), k.colour);
    }
}

void WindowTest::renderedBoardShowsBothMoves() {
    Program p;
    p.main.CSpinEditChilds->setValue(1);
    p.start();
    p.main.resize(674, 481);
    QTest::mouseClick(p.main.ButtonM, Qt::LeftButton); // the computer takes the noughts
    QVERIFY(p.waitForPly(2));
    const int noughtCell = p.main.shared.snapshot().plyMoves[1];
    // Click a free cell next to the centre as crosses; the computer answers as noughts.
    int clicked = -1;
    for (int w : {6 * 15 + 6, 6 * 15 + 8, 8 * 15 + 6, 8 * 15 + 8, 6 * 15 + 7, 8 * 15 + 7}) {
        if (p.main.ToEngineCell(w) != noughtCell) {
            clicked = w;
            break;
        }
    }
    p.clickWindowCell(clicked / 15, clicked % 15);
    QVERIFY(p.waitForPly(4));
    p.main.CheckBoxSH->setChecked(true);
    const QImage img = p.main.grid->grab().toImage();
    const CellRect cross = p.main.grid->CellRectOf(clicked % 15, clicked / 15);
    QVERIFY2(pixelsNear(img, cross, QColor(0, 0, 255)) > 10, "a blue cross where it was clicked");
    const Snapshot s = p.main.shared.snapshot();
    int answer = -1;
    for (int w = 0; w < 225; ++w) {
        if (p.main.ToEngineCell(w) == s.plyMoves[3]) {
            answer = w;
        }
    }
    QVERIFY(answer >= 0);
    const CellRect nought = p.main.grid->CellRectOf(answer % 15, answer / 15);
    QVERIFY2(pixelsNear(img, nought, QColor(255, 144, 144)) > 10, "the answer in light red");
    saveShot(&p.main, "game-in-progress");
}

void WindowTest::noEntryPointerOnTheCentralSquare() {
    Program p;
    p.start(true);
    p.main.ComboBoxMode->setCurrentIndex(0);
    p.clickWindowCell(7, 8);
    QVERIFY(p.waitForPly(2));
    const CellRect inside = p.main.grid->CellRectOf(6, 6);
    p.main.gridMouseMove(inside.left + 3, inside.top + 3);
    QCOMPARE(p.main.grid->cursor().shape(), Qt::ForbiddenCursor);
    const CellRect ring = p.main.grid->CellRectOf(4, 4);
    p.main.gridMouseMove(ring.left + 3, ring.top + 3);
    QCOMPARE(p.main.grid->cursor().shape(), Qt::ArrowCursor);
}

void WindowTest::buttonsSetTheirRequests() {
    Program p;
    p.main.CheckBoxGrow->setCheckState(Qt::Checked); // the thread stays idle without an engine
    QTest::mouseClick(p.main.ButtonM, Qt::LeftButton);
    QCOMPARE(p.main.shared.MoveRequest.load(), 1);
    QTest::mouseClick(p.main.ButtonTB, Qt::LeftButton);
    QCOMPARE(p.main.shared.TakeBackRequest.load(), 1);
    QTest::mouseClick(p.main.ButtonR, Qt::LeftButton);
    QCOMPARE(p.main.shared.RewindRequest.load(), 1);
    QCOMPARE(p.main.CSpinEditChilds->value(), 175);
    QCOMPARE(p.main.CSpinEditChilds->singleStep(), 25);
    QCOMPARE(p.main.CSpinEditChilds->minimum(), 1);
    QCOMPARE(p.main.CSpinEditChilds->maximum(), 1000);
    QCOMPARE(p.main.DBank->count(), 48);
    QCOMPARE(p.main.DBank->itemText(39), QString::fromUtf8("1 мин/ход"));
    QCOMPARE(p.main.ButtonM->toolTip(), QString("Force computer to move"));
    p.main.RadioButton1Click();
    QCOMPARE(p.main.ButtonTB->text(), QString::fromUtf8("назад"));
    QCOMPARE(p.main.ButtonA->text(), QString::fromUtf8("инфо"));
    p.main.RadioButton2Click();
    QCOMPARE(p.main.ButtonR->text(), QString("Restart"));
}

void WindowTest::announcementOfMoves() {
    Program p;
    p.main.CheckBoxGrow->setCheckState(Qt::Checked); // no engine: the thread stays idle
    BoxAnswerer boxes(p.main);
    boxes.answering = false;
    // A burst of moves: each announced in order with the sound of the side that moved, a
    // move rated 0 included, each after the previous one's gap; the five's gameover.wav after
    // its move's sound, then one box.
    for (const Notice n : {Notice{120, 2}, Notice{-30, 3}, Notice{0, 4}, Notice{32600, 5}}) {
        p.main.shared.MoveNotice.push(n);
    }
    p.main.FormPaint();
    QVERIFY(QTest::qWaitFor([&] { return p.main.openBox != nullptr; }, 5000));
    QCOMPARE(p.main.playedSounds,
             QStringList({"o.wav", "x.wav", "o.wav", "x.wav", "gameover.wav"}));
    for (int i = 1; i < p.main.playedAt.size(); ++i) {
        QVERIFY2(p.main.playedAt[i] - p.main.playedAt[i - 1] >= TMainForm::AnnounceGapMs - 2,
                 qPrintable(QString("sound %1 came too soon").arg(i)));
    }
    QCOMPARE(p.main.openBox->windowTitle(), QString("Message"));
    QCOMPARE(p.main.openBox->text(), QString("GAME OVER !!!"));
    QVERIFY2(!p.main.openBox->isModal(), "the window stays usable: Take Back, Restart, Quit");
    // A move made while the box is open waits for it to close.
    p.main.shared.MoveNotice.push({55, 4});
    p.main.FormPaint();
    QTest::qWait(3 * TMainForm::AnnounceGapMs);
    QCOMPARE(p.main.playedSounds.size(), 5);
    boxes.answering = true;
    QVERIFY(QTest::qWaitFor([&] { return p.main.playedSounds.size() == 6; }, 5000));
    QCOMPARE(p.main.playedSounds.last(), QString("o.wav"));
    QCOMPARE(boxes.answered, 1);

    // "Calculate debuts" announces a five by its sounds and the status alone.
    p.main.ComboBoxMode->setCurrentIndex(3);
    p.main.shared.MoveNotice.push({32600, 7});
    p.main.FormPaint();
    QVERIFY(QTest::qWaitFor([&] { return p.main.playedSounds.size() == 8; }, 5000));
    QCOMPARE(p.main.playedSounds.last(), QString("gameover.wav"));
    QTest::qWait(3 * TMainForm::AnnounceGapMs);
    QCOMPARE(boxes.answered, 1);
    QVERIFY(p.main.openBox == nullptr);

    // A missing sound file: the system's beep, and the game goes on.
    p.main.Sounds["x.wav"].reset();
    p.main.shared.MoveNotice.push({10, 9});
    p.main.FormPaint();
    QVERIFY(QTest::qWaitFor([&] { return p.main.playedSounds.size() == 9; }, 5000));
    QCOMPARE(p.main.playedSounds.last(), QString("beep"));
}

void WindowTest::statusFollowsTheShownPosition() {
    Program p;
    p.main.CheckBoxGrow->setCheckState(Qt::Checked);
    struct Case {
        int ply, language;
        Status status;
        const char* turn;
        const char* text;
    };
    const Case cases[] = {
        {2, 1, Status::YourMove, "X goes", "the loop's own text"},
        {3, 2, Status::YourMove, "O ходит", "the loop's own text"},
        {6, 1, Status::GameOver, "X goes",
         "Game over. Press Restart for a new game, or Take Back."},
        {6, 2, Status::GameOver, "X ходит",
         "Игра окончена. Нажмите «сначала» для новой игры или «назад»."},
        {1, 1, Status::MemoryLimit, "O goes",
         "Memory limit reached: the computer has stopped thinking ahead. The game goes on."},
    };
    for (const Case& k : cases) {
        Snapshot s;
        s.engineReady = true;
        s.ShownPly = k.ply; // after a Take Back or a Restart as much as after a move
        s.status = k.status;
        std::snprintf(s.StatusText, sizeof s.StatusText, "%s", "the loop's own text");
        p.main.shared.publish(s);
        p.main.Language = k.language;
        p.main.FormPaint();
        QCOMPARE(p.main.StatusPanel0->text(), QString::fromUtf8(k.turn));
        QCOMPARE(p.main.StatusPanel1->text(), QString::fromUtf8(k.text));
    }
}

void WindowTest::controlsChangeOnlyWhenAskedTo() {
    // The wheel over the mode list or the budget, PageUp/PageDown, arrows and letters on the
    // closed list: none of them may switch the game's mode or budget.
    Program p;
    p.start();
    QApplication::setActiveWindow(&p.main);
    auto wheel = [](QWidget* w, int notches) {
        const QPointF at(w->width() / 2.0, w->height() / 2.0);
        QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
    };
    for (int notches : {1, -1, 3}) {
        wheel(p.main.ComboBoxMode, notches);
        wheel(p.main.CSpinEditChilds, notches);
    }
    QCOMPARE(p.main.ComboBoxMode->currentIndex(), 1);
    QCOMPARE(p.main.CSpinEditChilds->value(), 175);
    p.main.ComboBoxMode->setFocus();
    for (int key :
         {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_End, Qt::Key_C, Qt::Key_H}) {
        QTest::keyClick(p.main.ComboBoxMode, static_cast<Qt::Key>(key));
    }
    QCOMPARE(p.main.ComboBoxMode->currentIndex(), 1);
    p.main.CSpinEditChilds->setFocus();
    QTest::keyClick(p.main.CSpinEditChilds, Qt::Key_PageUp);
    QTest::keyClick(p.main.CSpinEditChilds, Qt::Key_PageDown);
    QCOMPARE(p.main.CSpinEditChilds->value(), 175);
    QTest::keyClick(p.main.CSpinEditChilds, Qt::Key_Up);
    QCOMPARE(p.main.CSpinEditChilds->value(), 200);
    QTest::keyClick(p.main.CSpinEditChilds, Qt::Key_Down);
    QCOMPARE(p.main.CSpinEditChilds->value(), 175);
    // Opening the list and picking an entry does change the mode.
    p.main.ComboBoxMode->showPopup();
    QAbstractItemView* list = p.main.ComboBoxMode->view();
    QVERIFY(QTest::qWaitFor([&] { return list->isVisible(); }, 2000));
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(p.main.ComboBoxMode->currentIndex(), 0);
}

void WindowTest::quitWorksWhateverHasTheFocus() {
    {
        // The mode list has the focus after every mode change; a box may be open too.
        Program p;
        p.start();
        BoxAnswerer boxes(p.main);
        boxes.answering = false;
        p.main.showMessage("Message", "GAME OVER !!!");
        QApplication::setActiveWindow(&p.main);
        p.main.ComboBoxMode->setFocus();
        QTest::keyClick(p.main.ComboBoxMode, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!p.main.isVisible());
        QVERIFY(!p.main.thread->running());
    }
    {
        Program p;
        p.main.CheckBoxGrow->setCheckState(Qt::Checked);
        QMessageBox* box = p.main.showMessage("Message", "GAME OVER !!!");
        QApplication::setActiveWindow(box);
        QTest::keyClick(box, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!p.main.thread->running());
    }
    {
        Program p;
        QApplication::setActiveWindow(&p.setup);
        p.setup.RadioButton1->setFocus();
        QTest::keyClick(p.setup.RadioButton1, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!p.setup.isVisible());
        QVERIFY(p.engine() == nullptr);
    }
}

void WindowTest::rulesDialogIsADialog() {
    Program p;
    const Qt::WindowFlags flags = p.setup.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint) && !(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(p.setup.minimumSize(), p.setup.maximumSize());
    // Enter is OK, once a rule is chosen.
    QApplication::setActiveWindow(&p.setup);
    QTest::keyClick(&p.setup, Qt::Key_Return);
    QVERIFY(p.setup.isVisible());
    p.setup.RadioButton2->setChecked(true);
    QTest::keyClick(&p.setup, Qt::Key_Return);
    QVERIFY(!p.setup.isVisible());
    QCOMPARE(p.engine()->openingRule, 1u);
}

void WindowTest::firstPaintComesWithTheWindow() {
    // Right after OK, before the thread has published anything: the labels already read the
    // first position's texts, and the window is white, not the toolkit's grey.
    Program p;
    p.start();
    QVERIFY(p.main.Label1->text().startsWith("Childs count: "));
    QVERIFY(p.main.Label2->text().startsWith("Rating: "));
    QCOMPARE(p.main.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(p.main.Panel1->palette().color(QPalette::Window), QColor(Qt::white));
}

void WindowTest::labelsShowTheirHints() {
    Program p;
    p.start();
    QApplication::setActiveWindow(&p.main);
    for (QLabel* label : {p.main.Label1, p.main.Label2, p.main.Label3}) {
        QVERIFY(label->width() > 0 && label->height() > 0);
        const QPoint at(label->width() / 2, label->height() / 2);
        QHelpEvent help(QEvent::ToolTip, at, label->mapToGlobal(at));
        QApplication::sendEvent(label, &help);
        QVERIFY(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 2000));
        QCOMPARE(QToolTip::text(), label->toolTip());
        QToolTip::hideText();
    }
    // Under a resting pointer the label stays where it is while its text changes with every
    // publication: a label resized under the pointer would take its hint away.
    const QRect before = p.main.Label1->geometry();
    for (const char* text : {"Childs count: 2  / 2 ", "Childs count: 12345K / 678K", ""}) {
        Snapshot s = p.main.shared.snapshot();
        std::snprintf(s.ChildsText, sizeof s.ChildsText, "%s", text);
        p.main.shared.publish(s);
        p.main.FormPaint();
        QCOMPARE(p.main.Label1->geometry(), before);
    }
    const QPoint middle = p.main.Label2->mapTo(&p.main, p.main.Label2->rect().center());
    QCOMPARE(p.main.childAt(middle), p.main.Label2);
}

void WindowTest::smallestWindowKeepsEveryControlWhole() {
    Program p;
    p.start();
    p.main.resize(400, 300);
    QVERIFY(p.main.width() >= TMainForm::MinimumWidth &&
            p.main.height() >= TMainForm::MinimumHeight);
    const QRect client = p.main.rect();
    const int statusTop = p.main.StatusBar->geometry().top();
    QVERIFY(client.contains(p.main.Panel1->geometry()));
    for (QWidget* w : {static_cast<QWidget*>(p.main.ButtonR), static_cast<QWidget*>(p.main.ButtonA),
                       static_cast<QWidget*>(p.main.ComboBoxMode)}) {
        const QRect r(w->mapTo(&p.main, QPoint(0, 0)), w->size());
        QVERIFY2(client.contains(r) && r.bottom() < statusTop, qPrintable(w->objectName()));
    }
    QVERIFY(p.main.grid->geometry().right() < p.main.Panel1->geometry().left());
    QVERIFY(p.main.grid->width() >= 15 * 10);
}

void WindowTest::brokenSoundFilesAreNotUsed() {
    // A file the sound library cannot decode would stall it: only plain PCM WAVE files with
    // their data are used, and the game's own sounds are among them.
    auto wav = [](quint16 format, quint32 dataSize, qsizetype dataBytes) {
        QByteArray b = "RIFF";
        auto put = [&b](quint32 v, int bytes) {
            for (int i = 0; i < bytes; ++i) {
                b.append(static_cast<char>(v >> (8 * i) & 0xFF));
            }
        };
        put(static_cast<quint32>(36 + dataBytes), 4);
        b += "WAVEfmt ";
        put(16, 4);
        put(format, 2);
        put(1, 2);
        put(44100, 4);
        put(88200, 4);
        put(2, 2);
        put(16, 2);
        b += "data";
        put(dataSize, 4);
        b += QByteArray(dataBytes, '\x10');
        return b;
    };
    struct Case {
        const char* what;
        QByteArray bytes;
        bool usable;
    };
    const Case cases[] = {
        {"empty", QByteArray(), false},
        {"text", QByteArray("not a sound at all, just words in a file named o.wav"), false},
        {"cut header", wav(1, 100, 100).left(30), false},
        {"RIFF but no WAVE", QByteArray("RIFF\x10\0\0\0AVI LIST\0\0\0\0", 20) + QByteArray(40, 0),
         false},
        {"data past the end", wav(1, 100000, 100), false},
        {"no samples", wav(1, 0, 0), false},
        {"compressed", wav(85, 100, 100), false},
        {"plain PCM", wav(1, 100, 100), true},
    };
    QTemporaryDir dir;
    for (const Case& k : cases) {
        const QString path = dir.filePath("o.wav");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(k.bytes);
        f.close();
        QVERIFY2(TMainForm::usableSound(path) == k.usable, k.what);
    }
    QVERIFY(!TMainForm::usableSound(dir.path()));
    QVERIFY(!TMainForm::usableSound(dir.filePath("missing.wav")));
    for (const char* name : {"x.wav", "o.wav", "gameover.wav"}) {
        QVERIFY2(TMainForm::usableSound(TMainForm::soundPath(name)), name);
    }
}

void WindowTest::aboutDisplay() {
    const AboutLayout a(450);
    QCOMPARE(a.titleFont, 40);
    QCOMPARE(a.creditFont, 27);
    QCOMPARE(a.smallFont, 22);
    QCOMPARE(a.penWidth, 4);
    QCOMPARE(a.titleBox.topLeft(), QPoint(54, 33));
    QCOMPARE(a.titleBox.bottomRight(), QPoint(157, 86));
    QCOMPARE(a.version, QPoint(185, 56));
    QCOMPARE(a.date, QPoint(273, 100));
    QCOMPARE(a.writtenBy, QPoint(33, 217));
    QCOMPARE(a.web, QPoint(90, 369));

    Program p;
    p.start();
    p.main.resize(674, 481);
    QTest::mouseClick(p.main.ButtonA, Qt::LeftButton);
    QCOMPARE(p.main.AboutShown, 1);
    QCOMPARE(p.main.AboutPicture.height(), 450);
    QElapsedTimer t;
    t.start();
    QVERIFY(QTest::qWaitFor([&] { return p.main.AboutRevealed == 225; }, 20000));
    QVERIFY(t.elapsed() >= 2000);
    saveShot(&p.main, "about");
    // The link is the whole purple address as drawn, no more and no less.
    const QImage picture = p.main.AboutPicture.toImage();
    int first = picture.width(), last = -1;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (c.red() < 140 && c.green() < 90 && c.blue() > 120) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    const int pitch = p.main.grid->DefaultColWidth + 1;
    QCOMPARE(first / pitch, 3);
    QVERIFY2(last / pitch >= 9, "the address runs well past column 8");
    for (int col = 0; col < 15; ++col) {
        const bool onText = col >= first / pitch && col <= last / pitch;
        QCOMPARE(p.main.onWebLink(col, 12), onText);
        QVERIFY(!p.main.onWebLink(col, 11) && !p.main.onWebLink(col, 13));
        const CellRect cell = p.main.grid->CellRectOf(col, 12);
        p.main.gridMouseMove(cell.left + 2, cell.top + 2);
        QCOMPARE(p.main.grid->cursor().shape(), onText ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
    for (int col : {2, last / pitch + 1}) {
        p.main.grid->Col = col;
        p.main.grid->Row = 12;
        p.main.gridClick();
        QCOMPARE(p.main.AboutShown, 0);
        QCOMPARE(p.main.shared.ClickedCell.load(), int32_t{NoCell});
        p.main.ButtonAClick();
        QCOMPARE(p.main.AboutShown, 1);
    }
    p.main.resize(700, 500);
    QCOMPARE(p.main.AboutShown, 0);
    p.main.ButtonAClick();
    p.main.ButtonAClick();
    QCOMPARE(p.main.AboutShown, 0);
}

void WindowTest::inspectionWindow() {
    Program p;
    p.start();
    QVERIFY(!p.debug.isVisible());
    QCOMPARE(p.debug.windowTitle(), QString("DebugForm"));
    p.main.Button1Click();
    QVERIFY(p.debug.isVisible());
    p.debug.BuildClick();
    const QString line = p.debug.Memo1->toPlainText();
    QVERIFY2(line.startsWith("items total: ") && line.contains(", lastExpanded: 0, max_count: "),
             qPrintable(line));
    QVERIFY2(line.contains("\nlookups: hits "), qPrintable(line));
    new QTreeWidgetItem(p.debug.TreeView1, QStringList{"kept"});
    p.debug.CSpinEdit2->setValue(1);
    p.debug.VisualiseClick();
    QCOMPARE(p.debug.TreeView1->topLevelItemCount(), 1);
    p.debug.CSpinEdit2->setValue(2);
    p.debug.VisualiseClick();
    QCOMPARE(p.debug.TreeView1->topLevelItemCount(), 0);
    BoxAnswerer boxes(p.main);
    for (auto click : {&TDebugForm::ButtonCleanClick, &TDebugForm::CheckClick}) {
        boxes.text.clear();
        (p.debug.*click)();
        QVERIFY(QTest::qWaitFor([&] { return !boxes.text.isEmpty(); }, 5000));
        QCOMPARE(boxes.caption, QString("Message"));
        QCOMPARE(boxes.text, QString("0"));
    }
}

void WindowTest::gameOverIsAnnounced() {
    Program p;
    p.main.CSpinEditChilds->setValue(1);
    p.start();
    p.main.resize(674, 481);
    p.main.ComboBoxMode->setCurrentIndex(0); // both sides by clicking
    // Noughts build on row 8 while crosses make five on row 7, as the person sees the board.
    const int clicks[][2] = {{8, 6}, {7, 8}, {8, 5}, {7, 9}, {8, 4}, {7, 10}, {8, 3}, {7, 11}};
    BoxAnswerer boxes(p.main);
    int ply = 1;
    for (const auto& c : clicks) {
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         // Clicks go where the player sees the board: on the shown plies.
                         if (p.main.view.ShownPly > ply) {
                             return true;
                         }
                         if (p.main.shared.ClickedCell.load() == NoCell) {
                             p.clickWindowCell(c[0], c[1]);
                         }
                         return false;
                     },
                     60000),
                 "each click is played once its position is in the tree");
        ++ply;
    }
    QVERIFY(QTest::qWaitFor([&] { return boxes.text == "GAME OVER !!!"; }, 20000));
    QCOMPARE(boxes.caption, QString("Message"));
    QCOMPARE(p.main.StatusPanel0->text(), QString("O goes"));
    saveShot(&p.main, "game-over");
}

void WindowTest::closingMidGrowthJoinsTheThread() {
    auto* p = new Program;
    p->start();
    QVERIFY(QTest::qWaitFor([&] { return p->main.shared.snapshot().rootCount > 2000; }, 30000));
    QElapsedTimer t;
    t.start();
    p->main.close();
    QVERIFY(!p->main.thread->running());
    QVERIFY(t.elapsed() < 5000);
    QCOMPARE(p->main.shared.StopRequest.load(), 1);
    delete p;
}

void WindowTest::randomInputNeverBreaksTheGame() {
    // Clicks anywhere, buttons, modes and resizes in any order, while the thread works.
    Program p;
    p.main.CSpinEditChilds->setValue(1);
    p.start(true);
    QRandomGenerator rng(11);
    // A finished game announces itself with a box: answer it whenever it comes.
    BoxAnswerer boxes(p.main);
    for (int step = 0; step < 400; ++step) {
        const int row = static_cast<int>(rng.bounded(15));
        const int col = static_cast<int>(rng.bounded(15));
        switch (rng.bounded(10)) {
        case 0:
            p.main.ButtonMClick();
            break;
        case 1:
            p.main.ButtonTBClick();
            break;
        case 2:
            p.main.ButtonRClick();
            break;
        case 3:
            p.main.ComboBoxMode->setCurrentIndex(static_cast<int>(rng.bounded(4)));
            break;
        case 4:
            p.main.resize(500 + static_cast<int>(rng.bounded(500)),
                          400 + static_cast<int>(rng.bounded(400)));
            break;
        case 5:
            p.main.ButtonAClick();
            break;
        default:
            // The web-address line would start a browser: every other cell is fair game.
            if (!(p.main.AboutShown != 0 && row == 12 && col >= 3 && col <= 8)) {
                p.clickWindowCell(row, col);
            }
            break;
        }
        QTest::qWait(static_cast<int>(rng.bounded(15)));
        const Snapshot s = p.main.shared.snapshot();
        QVERIFY(s.ShownPly >= 1 && s.ShownPly <= 225);
        QCOMPARE(s.plyMoves[0], uint8_t{112});
    }
    p.main.ComboBoxMode->setCurrentIndex(1);
    p.main.close();
    QVERIFY(!p.main.thread->running());
    // With the thread stopped, the engine's board must match its plies.
    Gameboard* g = p.engine();
    for (int i = 0; i < g->plyCount; ++i) {
        QCOMPARE(g->board[g->plyAt(i).move], uint8_t(i % 2 == 0 ? Cross : Nought));
    }
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
