#include "Korvaltmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QSoundEffect>
#include <QThread>
#include <QUrl>
#include <chrono>
#include <thread>

#include "FormKit.h"
#include "KorvaltVersion.h"
#include "Setup.h"

#ifndef KORVALT_DATA_DIR
#define KORVALT_DATA_DIR "/usr/local/share/korvalt"
#endif

namespace {

const char* const WebAddress = "https://korvalt.example.org/";

// The language table: pairs of English and Russian texts, trailing blanks included.
const char* const LanguageTable[40] = {
    "Auto move",
    "Автом. ходить",
    "Computer auto answer on your move with own one",
    "всегда отвечать на Ваш ход своим ",
    "Move",
    "ходить",
    "Force computer to move",
    "передать ход компьютеру",
    "Take Back",
    "назад",
    "Restart",
    "сначала",
    "1. easy",
    "1. легко",
    "2. medium",
    "2. нормально",
    "3. hard",
    "3. сложно",
    "4. very hard",
    "4. сложнее ",
    "difficulty level",
    "уровень сложности",
    " goes",
    " ходит",
    "wait...",
    "ждите...",
    "Done in        secs.     Vars:          Rating:      .",
    "Думал         сек. Вариантов:          Оценка:         . ",
    "About..",
    "инфо",
    "rating",
    "оценка ситуации ",
    "3 sec/move",
    "3 сек/ход",
    "6 sec/move",
    "6 сек/ход",
    "20 sec/move",
    "20 сек/ход",
    "1 min/move",
    "1 мин/ход",
};

QFont arial(int pixels) {
    return pixelFont("Arial", pixels);
}

QPushButton* button(QWidget* parent, const char* text, int x, int y) {
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    b->setGeometry(x, y, 89, 25);
    return b;
}

QCheckBox* checkBox(QWidget* parent, const char* text, int x, int y) {
    auto* c = new QCheckBox(QString::fromUtf8(text), parent);
    c->move(x, y);
    c->adjustSize();
    return c;
}

} // namespace

// ---------------------------------------------------------------------------------------------

BoardGrid::BoardGrid(TMainForm* owner) : QWidget(owner), form(owner) {
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
}

CellRect BoardGrid::CellRectOf(int col, int row) const {
    const int left = col * (DefaultColWidth + 1);
    const int top = row * (DefaultRowHeight + 1);
    return {left, top, left + DefaultColWidth, top + DefaultRowHeight};
}

bool BoardGrid::MouseToCell(int x, int y, int& col, int& row) const {
    if (x < 0 || y < 0) {
        return false;
    }
    col = x / (DefaultColWidth + 1);
    row = y / (DefaultRowHeight + 1);
    return col < BoardSide && row < BoardSide;
}

void BoardGrid::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    canvas.fillRect(rect(), QColor(192, 192, 192)); // grid lines show through the gaps
    for (int row = 0; row < BoardSide; ++row) {
        for (int col = 0; col < BoardSide; ++col) {
            form->gridDrawCell(col, row, CellRectOf(col, row), canvas);
        }
    }
}

void BoardGrid::mousePressEvent(QMouseEvent* event) {
    int col = 0, row = 0;
    if (event->button() != Qt::LeftButton ||
        !MouseToCell(event->position().toPoint().x(), event->position().toPoint().y(), col, row)) {
        return;
    }
    Col = col;
    Row = row;
    form->gridClick();
}

void BoardGrid::mouseMoveEvent(QMouseEvent* event) {
    form->gridMouseMove(event->position().toPoint().x(), event->position().toPoint().y());
}

CSpinEdit::CSpinEdit(QWidget* parent) : QSpinBox(parent) {
    lineEdit()->setReadOnly(true);
}

AboutLayout::AboutLayout(int h) {
    const double H = h;
    auto t = [](double v) { return static_cast<int>(v); };
    titleFont = t(0.09 * H);
    creditFont = t(0.06 * H);
    smallFont = t(0.05 * H);
    penWidth = h / 104;
    titleBox = QRect(QPoint(t(0.12 * H), t(0.075 * H)), QPoint(t(0.35 * H), t(0.193 * H)));
    version = QPoint(t(0.425 * H - 0.00003 * H * H), t(0.125 * H));
    credit = QPoint(t(0.15 * H), t(0.544 * H));
    date = QPoint(t(0.608 * H), t(0.223 * H));
    writtenBy = QPoint(t(0.075 * H), t(0.484 * H));
    email = QPoint(t(0.2 * H), t(0.888 * H));
    web = QPoint(t(0.2 * H), t(0.82 * H));
}

// ---------------------------------------------------------------------------------------------

TMainForm::TMainForm(TSetupForm* setup, QWidget* parent) : QWidget(parent), setupForm(setup) {
    setWindowTitle("Korvalt");
    move(396, 221);
    resize(674, 481);
    setFont(arial(12));
    setAutoFillBackground(true);

    grid = new BoardGrid(this);
    grid->setGeometry(0, 0, 425, 425);

    Panel1 = new QFrame(this);
    Panel1->setGeometry(432, 0, 185, 457);
    Panel1->setFont(arial(13));
    Panel1->setAutoFillBackground(true);
    Label5 = placedLabel(Panel1, "Move:   First   /   Last", 8, 16);
    Label1 = placedLabel(Panel1, "Child count:", 8, 32);
    Label1->setToolTip("Number of child nodes of  first and last moves.");
    Label2 = placedLabel(Panel1, "Rating", 8, 48);
    Label2->setToolTip("Rating of first and last moves.");
    Label3 = placedLabel(Panel1, "Length", 8, 64);
    Label3->setToolTip("Maximum length of calculated path.");
    Label8 = placedLabel(Panel1, "Collisions", 8, 80);
    Label8->setStyleSheet("color: red");
    Label8->hide();
    LabelAverages = placedLabel(Panel1, "averages", 8, 96);
    LabelAverages->hide();
    Label4 = placedLabel(Panel1, "Mode:", 8, 120);
    Label4->setFont(arial(19));
    Label4->adjustSize();
    ComboBoxMode = new QComboBox(Panel1);
    ComboBoxMode->addItems(
        {"Human Vs Human", "Human Vs Computer", "Computer Vs Computer", "Calculate debuts"});
    ComboBoxMode->setGeometry(8, 152, 169, 24);
    Label6 = placedLabel(Panel1, "Childs to calculate before ", 8, 192);
    Label7 = placedLabel(Panel1, "move (thousands):", 8, 208);
    CSpinEditChilds = new CSpinEdit(Panel1);
    CSpinEditChilds->setGeometry(120, 216, 57, 26);
    CSpinEditChilds->setRange(1, 1000);
    CSpinEditChilds->setSingleStep(25);
    CSpinEditChilds->setValue(175);
    CheckBoxSH = checkBox(Panel1, "show hints", 8, 240);
    cbVisualRating = checkBox(Panel1, "visualize rating", 8, 264);
    cbVisualRating->setChecked(true);
    ButtonM = button(Panel1, "Move", 16, 296);
    ButtonTB = button(Panel1, "Take Back", 16, 328);
    ButtonR = button(Panel1, "Restart", 16, 360);
    ButtonA = button(Panel1, "About", 16, 392);
    Button1 = button(Panel1, "Debug", 16, 424);
    Button1->hide();
    CheckBoxGrow = checkBox(Panel1, "grow", 152, 8);
    CheckBoxGrow->setTristate(true);
    CheckBoxGrow->hide();
    RadioButton2 = new QRadioButton("Eng", Panel1);
    RadioButton2->move(152, 24);
    RadioButton2->hide();
    RadioButton1 = new QRadioButton("Rus", Panel1);
    RadioButton1->move(152, 40);
    RadioButton1->hide();

    StatusBar = new QStatusBar(this);
    StatusBar->setSizeGripEnabled(false);
    StatusPanel0 = new QLabel("X");
    StatusPanel0->setFixedWidth(64);
    StatusPanel1 = new QLabel();
    StatusPanel1->setMinimumWidth(50);
    StatusBar->addWidget(StatusPanel0);
    StatusBar->addWidget(StatusPanel1, 1);

    DBank = new QComboBox(this);
    DBank->setGeometry(465, 400, 0, 24);
    for (const char* t : LanguageTable) {
        DBank->addItem(QString::fromUtf8(t));
    }
    DBank->hide();

    connect(ButtonM, &QPushButton::clicked, this, &TMainForm::ButtonMClick);
    connect(ButtonTB, &QPushButton::clicked, this, &TMainForm::ButtonTBClick);
    connect(ButtonR, &QPushButton::clicked, this, &TMainForm::ButtonRClick);
    connect(ButtonA, &QPushButton::clicked, this, &TMainForm::ButtonAClick);
    connect(Button1, &QPushButton::clicked, this, &TMainForm::Button1Click);
    connect(RadioButton1, &QRadioButton::clicked, this, &TMainForm::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TMainForm::RadioButton2Click);
    connect(CheckBoxSH, &QCheckBox::toggled, grid, qOverload<>(&QWidget::update));
    connect(cbVisualRating, &QCheckBox::toggled, this, &TMainForm::FormPaint);
    // The thread reads these controls through mirrors it can read safely.
    connect(ComboBoxMode, &QComboBox::currentIndexChanged, this,
            [this](int i) { modeMirror.store(i); });
    connect(CSpinEditChilds, &QSpinBox::valueChanged, this, [this](int v) { spinMirror.store(v); });
    connect(CheckBoxGrow, &QCheckBox::stateChanged, this,
            [this](int s) { growMirror.store(s == Qt::Checked); });
    // Everything the thread tells the window arrives as a queued call on the window's thread.
    connect(this, &TMainForm::invalidated, this, &TMainForm::FormPaint, Qt::QueuedConnection);

    const QString names[3] = {"x.wav", "o.wav", "gameover.wav"};
    for (int i = 0; i < 3; ++i) {
        sounds[i] = std::make_unique<QSoundEffect>();
        sounds[i]->setObjectName(names[i]);
        const QString path = soundPath(names[i]);
        if (!path.isEmpty()) {
            sounds[i]->setSource(QUrl::fromLocalFile(path));
        }
    }
    revealTimer.setInterval(10);
    connect(&revealTimer, &QTimer::timeout, this, &TMainForm::revealNextCell);

    // Creation, as the program has always done it.
    ComboBoxMode->setCurrentIndex(1);
    modeMirror.store(1);
    shared.MoveNotice.store(0);
    shared.RewindRequest.store(0);
    shared.TakeBackRequest.store(0);
    shared.StopRequest.store(0);
    shared.MoveRequest.store(0);
    shared.ClickedCell.store(NoCell);
    AboutShown = 0;
    Language = 1;
    ApplyLanguage();
    CheckBoxGrow->setCheckState(Qt::Unchecked);
    thread = std::make_unique<ThinkingThread>(shared, *this);
    thread->start();
}

TMainForm::~TMainForm() {
    FormDestroy();
}

std::string TMainForm::text(int pair) const {
    return DBank->itemText(2 * (pair - 1) + (Language - 1)).toStdString();
}

QString TMainForm::soundPath(const QString& name) {
    const QString candidates[] = {
        QDir::current().filePath(name),
        QDir(QStringLiteral(KORVALT_DATA_DIR)).filePath(name),
        QDir(QCoreApplication::applicationDirPath()).filePath("sounds/" + name),
        QDir(QCoreApplication::applicationDirPath()).filePath("../share/korvalt/" + name),
    };
    for (const QString& c : candidates) {
        if (QFileInfo::exists(c)) {
            return c;
        }
    }
    return {};
}

void TMainForm::playSound(const QString& name) {
    lastSound = name;
    for (auto& s : sounds) {
        // No file or no audio device: the game goes on in silence.
        if (s->objectName() == name && s->status() != QSoundEffect::Error &&
            !s->source().isEmpty()) {
            s->play();
        }
    }
}

// Through the orientation published with the plies on show: a click means the cell the
// player sees, even while the thread has already turned the board for a newer position.
int TMainForm::ToEngineCell(int w) const {
    return engineCellOf(w, view.orientation);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TMainForm::FormResize() {
    const int statusHeight = 18;
    StatusBar->setGeometry(0, height() - statusHeight, width(), statusHeight);
    const int a = width() - Panel1->width();
    const int b = height() - statusHeight;
    const int s = (a < b ? a : b) / 15;
    grid->setGeometry(0, 0, 15 * s, 15 * s);
    grid->DefaultColWidth = s - 1;
    grid->DefaultRowHeight = s - 1;
    Panel1->move((width() + grid->width() - Panel1->width()) / 2,
                 (height() - Panel1->height() - statusHeight) / 2);
    if (AboutShown != 0) {
        AboutShown = 0;
        revealTimer.stop();
        AboutPicture = QPixmap();
    }
    grid->update();
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

void TMainForm::FormShow() {
    if (CheckBoxGrow->checkState() == Qt::Checked) {
        return; // the engine exists already
    }
    CheckBoxGrow->setCheckState(Qt::Checked);
    engineSet = std::make_unique<EngineSet>(
        setupForm != nullptr && setupForm->RuleChoice != 0 ? 1u : 0u, &shared.orientation);
    Snapshot first;
    captureGamePosition(engineSet->engine, first);
    shared.publish(first);
    view = first;
    // Last: from here on the thread owns the engine.
    shared.Engine.store(&engineSet->engine);
    grid->update();
}

void TMainForm::FormPaint() {
    view = shared.snapshot();
    if (shared.MoveNotice.load() != 0 && !announcePending) {
        // A message box may follow: announce from the event loop, not from inside a paint.
        announcePending = true;
        QMetaObject::invokeMethod(this, &TMainForm::AnnounceMove, Qt::QueuedConnection);
    }
    Label1->setText(QString::fromUtf8(view.ChildsText));
    Label1->adjustSize();
    Label2->setText(QString::fromUtf8(view.RatingText));
    Label2->adjustSize();
    Label3->setText(QString::fromUtf8(view.LengthText));
    Label3->adjustSize();
    Label8->setText(QString::fromUtf8(view.LogText));
    Label8->adjustSize();
    LabelAverages->setText(QString::fromUtf8(view.AveragesText));
    StatusPanel1->setText(QString::fromUtf8(view.StatusText));
    int r = 0, b = 0;
    if (cbVisualRating->isChecked()) {
        if (view.ShownRating > 0) {
            r = view.ShownRating * 90 / 32600;
        } else {
            b = view.ShownRating * -90 / 32600;
        }
    }
    const QColor colour(255 - r, 255, 255 - b);
    if (colour != tintColour) {
        tintColour = colour;
        for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Panel1)}) {
            QPalette p = w->palette();
            p.setColor(QPalette::Window, colour);
            w->setPalette(p);
        }
    }
    grid->update();
}

void TMainForm::gridDrawCell(int col, int row, const CellRect& cellRect, QPainter& canvas) {
    CellRect r = cellRect;
    const int cell = ToEngineCell(row * BoardSide + col);
    bool occupied = false;
    bool last = false;
    uint8_t stone = 0;
    for (int i = 0; i < view.ShownPly && i < CellCount; ++i) {
        if (view.plyMoves[i] == cell) {
            occupied = true;
            last = i == view.ShownPly - 1;
            stone = view.plyStones[i];
            break;
        }
    }
    if (AboutShown != 0 && row * BoardSide + col < AboutRevealed && !AboutPicture.isNull()) {
        const QRect area(r.left, r.top, r.right - r.left, r.bottom - r.top);
        canvas.drawPixmap(area, AboutPicture, area);
        return;
    }
    canvas.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), tintColour);
    if (grid->width() > 440) {
        r = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    }
    const int w = boardPenWidth(grid->width());
    canvas.setRenderHint(QPainter::Antialiasing, true);
    canvas.setBrush(tintColour);
    auto pen = [&](const QColor& c, int width) {
        QPen p(c);
        p.setWidth(width);
        p.setCapStyle(Qt::RoundCap);
        canvas.setPen(p);
    };
    if (occupied && (stone & Nought)) {
        pen(last ? QColor(255, 144, 144) : QColor(255, 0, 0), w);
        canvas.drawEllipse(
            QRectF(r.left + 2, r.top + 2, r.right - r.left - 4, r.bottom - r.top - 4));
    }
    if (occupied && (stone & Cross)) {
        pen(last ? QColor(144, 144, 255) : QColor(0, 0, 255), w);
        canvas.drawLine(r.left + 2, r.top + 2, r.right - 3, r.bottom - 3);
        canvas.drawLine(r.right - 3, r.top + 2, r.left + 2, r.bottom - 3);
    }
    if (CheckBoxSH->isChecked()) {
        const int shade = view.RatingMap[cell];
        const int hintWidth = shade > 250 ? static_cast<int>(w * 0.909090909090909091)
                                          : static_cast<int>(w * 0.666666666666666667);
        if (shade != 0 && view.representative[cell]) {
            const int v = 255 - shade;
            pen(QColor(v, 255, v), hintWidth);
            const int e = 2 * w;
            if (view.ShownPly % 2 != 0) {
                canvas.drawEllipse(QRectF(r.left + e, r.top + e, r.right - r.left - 2 * e,
                                          r.bottom - r.top - 2 * e));
            } else {
                canvas.drawLine(r.left + e, r.top + e, r.right - e, r.bottom - e);
                canvas.drawLine(r.right - e, r.top + e, r.left + e, r.bottom - e);
            }
        }
    }
}

void TMainForm::gridClick() {
    const int col = grid->Col;
    const int row = grid->Row;
    if (AboutShown != 0) {
        if (row == 12 && col >= 3 && col <= 8) {
            if (!QDesktopServices::openUrl(QUrl(WebAddress))) {
                QMessageBox::information(this, "Message",
                                         QString("Korvalt's web page: %1").arg(WebAddress));
            }
        } else {
            AboutShown = 0;
            revealTimer.stop();
            AboutPicture = QPixmap();
            grid->update();
        }
        return;
    }
    if (shared.MoveRequest.load() == 0) {
        shared.ClickedCell.store(
            Handshake::tagClick(ToEngineCell(row * BoardSide + col), view.ShownPly));
    }
}

void TMainForm::gridMouseMove(int x, int y) {
    int col = 0, row = 0;
    if (!grid->MouseToCell(x, y, col, row)) {
        grid->setCursor(Qt::ArrowCursor);
        return;
    }
    if (AboutShown != 0 && row == 12 && col >= 3 && col <= 8) {
        grid->setCursor(Qt::PointingHandCursor);
    } else if (setupForm != nullptr && setupForm->RuleChoice == 1 && view.engineReady &&
               view.topAge == 1 && col >= 5 && col <= 9 && row >= 5 && row <= 9) {
        grid->setCursor(Qt::ForbiddenCursor);
    } else {
        grid->setCursor(Qt::ArrowCursor);
    }
}

void TMainForm::AnnounceMove() {
    announcePending = false;
    const int32_t n = shared.MoveNotice.exchange(0);
    if (n == 0) {
        return;
    }
    view = shared.snapshot();
    const int k = shared.NoticePly.load();
    playSound(k % 2 != 0 ? "x.wav" : "o.wav");
    StatusPanel0->setText(QString::fromUtf8(k % 2 != 0 ? "O" : "X") +
                          QString::fromStdString(text(12)));
    if (n > 32599) {
        playSound("gameover.wav");
        QMessageBox box(QMessageBox::NoIcon, "Message", "GAME OVER !!!", QMessageBox::Ok, this);
        box.exec();
    }
    grid->update();
}

void TMainForm::ApplyLanguage() {
    ButtonM->setText(QString::fromStdString(text(3)));
    ButtonM->setToolTip(QString::fromStdString(text(4)));
    ButtonTB->setText(QString::fromStdString(text(5)));
    ButtonR->setText(QString::fromStdString(text(6)));
    ButtonA->setText(QString::fromStdString(text(15)));
}

void TMainForm::ButtonMClick() {
    shared.MoveRequest.store(1);
}
void TMainForm::ButtonTBClick() {
    shared.TakeBackRequest.store(1);
}
void TMainForm::ButtonRClick() {
    shared.RewindRequest.store(1);
}

void TMainForm::RadioButton1Click() {
    Language = 2;
    ApplyLanguage();
}

void TMainForm::RadioButton2Click() {
    Language = 1;
    ApplyLanguage();
}

void TMainForm::Button1Click() {
    if (debugForm != nullptr) {
        debugForm->show();
    }
}

void TMainForm::ButtonAClick() {
    if (AboutShown != 0) {
        AboutShown = 0;
        revealTimer.stop();
        AboutPicture = QPixmap();
        grid->update();
        return;
    }
    drawAboutPicture(grid->height());
    AboutShown = 1;
    AboutRevealed = 0;
    // The picture builds up cell by cell, one every 10 ms, while the window stays responsive.
    revealTimer.start();
}

void TMainForm::revealNextCell() {
    if (AboutShown == 0 || AboutRevealed >= CellCount) {
        revealTimer.stop();
        return;
    }
    const int i = AboutRevealed++;
    const CellRect r = grid->CellRectOf(i % BoardSide, i / BoardSide);
    grid->update(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

void TMainForm::drawAboutPicture(int h) {
    const AboutLayout at(h);
    AboutPicture = QPixmap(h > 0 ? h : 1, h > 0 ? h : 1);
    AboutPicture.fill(QColor(245, 245, 235));
    QPainter p(&AboutPicture);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(Qt::white);
    QFont f = font();
    auto write = [&](int pixels, QPoint where, const QString& s, QColor colour = Qt::black) {
        f.setPixelSize(pixels > 0 ? pixels : 1);
        p.setFont(f);
        p.setPen(colour);
        p.drawText(QRect(where, QSize(h, h)), Qt::AlignLeft | Qt::AlignTop, s);
    };
    // Title mark: the name, then a blue cross and a red nought beside it.
    const QRect box = at.titleBox;
    write(at.titleFont / 2, box.topLeft(), "Korvalt");
    p.setBackgroundMode(Qt::TransparentMode);
    const int side = box.height() / 2;
    const QRect stone(box.right() - 2 * side - 2, box.bottom() - side, side, side);
    QPen pen(QColor(0, 0, 255));
    pen.setWidth(at.penWidth > 0 ? at.penWidth : 1);
    p.setPen(pen);
    p.drawLine(stone.topLeft(), stone.bottomRight());
    p.drawLine(stone.topRight(), stone.bottomLeft());
    pen.setColor(QColor(255, 0, 0));
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(stone.translated(side + 2, 0));
    p.setBackgroundMode(Qt::OpaqueMode);
    write(at.titleFont, at.version, QString("v e r   ") + KorvaltVersion);
    write(at.creditFont, at.credit, "K o r v a l t   t e a m");
    write(at.smallFont, at.date, "   j u l y   2 0 1 8");
    write(at.smallFont, at.writtenBy, "w r i t t e n   b y");
    write(at.smallFont, at.email, "t e a m @ e x a m p l e . o r g");
    write(at.smallFont, at.web, WebAddress, QColor(80, 0, 150));
}

void TMainForm::setMode(int m) {
    modeMirror.store(m);
    QMetaObject::invokeMethod(this, &TMainForm::applyModeFromThread, Qt::QueuedConnection);
}

void TMainForm::applyModeFromThread() {
    const int m = modeMirror.load();
    if (ComboBoxMode->currentIndex() != m) {
        ComboBoxMode->setCurrentIndex(m);
    }
}

void TMainForm::showPriorityError() {
    QMetaObject::invokeMethod(this, &TMainForm::priorityMessage, Qt::QueuedConnection);
}

void TMainForm::priorityMessage() {
    QMessageBox box(QMessageBox::NoIcon, QString(), "Error setting THREAD_PRIORITY_BELOW_NORMAL",
                    QMessageBox::Ok, this);
    box.exec();
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Quit) ||
        (event->key() == Qt::Key_Q && event->modifiers() == Qt::ControlModifier)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
    FormClose();
}

void TMainForm::FormCloseQuery() {
    shared.requestStop();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void TMainForm::FormClose() {
    shared.requestStop();
    stopThread();
    QCoreApplication::quit();
}

void TMainForm::FormDestroy() {
    shared.requestStop();
    stopThread();
}

void TMainForm::stopThread() {
    // The thread reads the engine and this window until it leaves its loop.
    if (thread) {
        thread->stopAndJoin();
    }
}
