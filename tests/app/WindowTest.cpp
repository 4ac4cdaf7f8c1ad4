#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <functional>

#include "Debug.h"
#include "Korvaltmain.h"
#include "Setup.h"

namespace {

// The three windows, created in the program's order.
struct Program {
    Program() : main(&setup), debug(&main) {
        setup.setMainForm(&main);
        main.debugForm = &debug;
        setup.show();
    }
    void start(bool centralRule = false) {
        (centralRule ? setup.RadioButton2 : setup.RadioButton1)->setChecked(true);
        QTest::mouseClick(setup.Button1, Qt::LeftButton);
    }
    Gameboard* engine() { return main.shared.Engine.load(); }
    // Waits until the thread has published a position with this many plies.
    bool waitForPly(int ply, int ms = 60000) {
        return QTest::qWaitFor([&] { return main.shared.snapshot().ShownPly == ply; }, ms);
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

// Accepts the next modal box and reports its caption and text.
void acceptNextBox(QString* caption, QString* text) {
    QTimer::singleShot(0, [=] {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            *caption = box->windowTitle();
            *text = box->text();
            box->accept();
        } else {
            acceptNextBox(caption, text);
        }
    });
}

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
        QCOMPARE(p.main.StatusPanel0->text(), QString("X"));
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
    QCOMPARE(TMainForm::boardPenWidth(780), 6);
    QCOMPARE(2 * TMainForm::boardPenWidth(780), 12);
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
    QVERIFY(QTest::qWaitFor([&] { return p.main.view.ShownPly == 4; }, 5000));
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
    QVERIFY(QTest::qWaitFor([&] { return p.main.view.ShownPly == 2; }, 5000));
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
    QCOMPARE(p.main.DBank->count(), 40);
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
    p.main.CheckBoxGrow->setCheckState(Qt::Checked);
    struct Case {
        int notice, ply, language;
        const char* status;
        const char* sound;
        bool gameOver;
    };
    const Case cases[] = {
        {32600, 3, 1, "O goes", "gameover.wav", true}, {32599, 3, 1, "O goes", "x.wav", false},
        {-32600, 2, 1, "X goes", "o.wav", false},      {120, 2, 1, "X goes", "o.wav", false},
        {120, 3, 2, "O ходит", "x.wav", false},
    };
    for (const Case& k : cases) {
        p.main.Language = k.language;
        p.main.shared.NoticePly.store(k.ply);
        p.main.shared.MoveNotice.store(k.notice);
        QString caption, text;
        if (k.gameOver) {
            acceptNextBox(&caption, &text);
        }
        p.main.AnnounceMove();
        QCOMPARE(p.main.shared.MoveNotice.load(), 0);
        QCOMPARE(p.main.StatusPanel0->text(), QString::fromUtf8(k.status));
        QCOMPARE(p.main.lastSound, QString(k.sound));
        if (k.gameOver) {
            QCOMPARE(caption, QString("Message"));
            QCOMPARE(text, QString("GAME OVER !!!"));
        }
    }
    p.main.lastSound.clear();
    p.main.StatusPanel0->setText("unchanged");
    p.main.shared.MoveNotice.store(0);
    p.main.AnnounceMove();
    QCOMPARE(p.main.StatusPanel0->text(), QString("unchanged"));
    QVERIFY(p.main.lastSound.isEmpty());
    QVERIFY(!TMainForm::soundPath("o.wav").isEmpty() || QDir::current().exists());
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
    const CellRect link = p.main.grid->CellRectOf(4, 12);
    p.main.gridMouseMove(link.left + 2, link.top + 2);
    QCOMPARE(p.main.grid->cursor().shape(), Qt::PointingHandCursor);
    for (int col : {2, 9}) {
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
    new QTreeWidgetItem(p.debug.TreeView1, QStringList{"kept"});
    p.debug.CSpinEdit2->setValue(1);
    p.debug.VisualiseClick();
    QCOMPARE(p.debug.TreeView1->topLevelItemCount(), 1);
    p.debug.CSpinEdit2->setValue(2);
    p.debug.VisualiseClick();
    QCOMPARE(p.debug.TreeView1->topLevelItemCount(), 0);
    for (auto click : {&TDebugForm::ButtonCleanClick, &TDebugForm::CheckClick}) {
        QString caption, text;
        acceptNextBox(&caption, &text);
        (p.debug.*click)();
        QCOMPARE(caption, QString("Message"));
        QCOMPARE(text, QString("0"));
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
    QString caption, text;
    acceptNextBox(&caption, &text);
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
    QVERIFY(QTest::qWaitFor([&] { return text == "GAME OVER !!!"; }, 20000));
    QCOMPARE(caption, QString("Message"));
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
    // A finished game announces itself with a modal box: answer it whenever it comes.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->accept();
        }
    });
    closer.start(20);
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
