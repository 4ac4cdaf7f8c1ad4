#include "Korvaltmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QSoundEffect>
#include <QThread>
#include <QUrl>
#include <QWheelEvent>
#include <chrono>
#include <cstdio>
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
const char* const LanguageTable[48] = {
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
    // Status texts of situations the first version never reached at rest.
    "Game over. Press Restart for a new game, or Take Back.",
    "Игра окончена. Нажмите «сначала» для новой игры или «назад».",
    "Memory limit reached: the computer has stopped thinking ahead. The game goes on.",
    "Достигнут предел памяти: компьютер больше не думает наперёд. Игра продолжается.",
    "Out of memory: the computer cannot think here. Take Back or Restart to go on.",
    "Не хватает памяти: здесь компьютер думать не может. Нажмите «назад» или «сначала».",
    "Not enough memory to start the game: %1 MB available, %2 MB needed.",
    "Недостаточно памяти, чтобы начать игру: доступно %1 МБ, нужно %2 МБ.",
};

// Pairs of the table beyond the first twenty.
constexpr int PairGameOver = 21;
constexpr int PairMemoryLimit = 22;
constexpr int PairOutOfMemory = 23;
constexpr int PairNotEnoughMemory = 24;

QFont arial(int pixels) {
    return pixelFont("Arial", pixels);
}

void setLabelText(QLabel* label, const char* text) {
    const QString now = QString::fromUtf8(text);
    if (label->text() != now) {
        label->setText(now);
    }
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

void CSpinEdit::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

void CSpinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        event->ignore();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

void ModeList::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

// Only the keys that open the list reach it; the choice is made in the open list.
void ModeList::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool alt = (event->modifiers() & Qt::AltModifier) != 0;
    if (key == Qt::Key_Space || key == Qt::Key_F4 ||
        (alt && (key == Qt::Key_Down || key == Qt::Key_Up))) {
        QComboBox::keyPressEvent(event);
        return;
    }
    event->ignore();
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

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
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
    for (QLabel* l : {Label1, Label2, Label3}) {
        l->resize(Panel1->width() - 16, l->height());
    }
    Label8 = placedLabel(Panel1, "Collisions", 8, 80);
    Label8->setStyleSheet("color: red");
    Label8->hide();
    Label8->resize(Panel1->width() - 16, Label8->height());
    LabelAverages = placedLabel(Panel1, "averages", 8, 96);
    LabelAverages->resize(Panel1->width() - 16, LabelAverages->height());
    LabelAverages->hide();
    Label4 = placedLabel(Panel1, "Mode:", 8, 120);
    Label4->setFont(arial(19));
    Label4->adjustSize();
    ComboBoxMode = new ModeList(Panel1);
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

    for (const char* name : {"x.wav", "o.wav", "gameover.wav"}) {
        const QString path = soundPath(name);
        if (usableSound(path)) {
            auto effect = std::make_unique<QSoundEffect>();
            effect->setSource(QUrl::fromLocalFile(path));
            Sounds[name] = std::move(effect);
        } else {
            std::fprintf(stderr, "korvalt: no usable sound %s; the system's beep plays instead\n",
                         name);
            Sounds[name] = nullptr;
        }
    }
    age.start();
    announceGap.setSingleShot(true);
    announceGap.setTimerType(Qt::PreciseTimer); // a coarse timer may end the gap early
    announceGap.setInterval(AnnounceGapMs);
    connect(&announceGap, &QTimer::timeout, this, &TMainForm::announceGapEnded);
    revealTimer.setInterval(10);
    connect(&revealTimer, &QTimer::timeout, this, &TMainForm::revealNextCell);

    QuitAction = quitAction(this);
    connect(QuitAction, &QAction::triggered, this, &TMainForm::quitGame);
    setMinimumSize(MinimumWidth, MinimumHeight);

    // The requests, the About display and the language start cleared by their initialisers.
    ComboBoxMode->setCurrentIndex(1);
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
    const QString here = QCoreApplication::applicationDirPath();
    const QString candidates[] = {
        QDir(here).filePath("sounds/" + name),
        QDir(here).filePath("../share/korvalt/" + name),
        QDir(QStringLiteral(KORVALT_DATA_DIR)).filePath(name),
    };
    for (const QString& c : candidates) {
        if (QFileInfo(c).isFile()) {
            return c;
        }
    }
    return {};
}

bool TMainForm::usableSound(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    // Our sounds are small: a file far bigger than any of them is not one.
    if (file.size() < 44 || file.size() > (qint64{16} << 20)) {
        return false;
    }
    const QByteArray data = file.readAll();
    if (!data.startsWith("RIFF") || data.mid(8, 4) != "WAVE") {
        return false;
    }
    auto word = [&](qsizetype at, int bytes) {
        quint32 v = 0;
        for (int i = bytes - 1; i >= 0; --i) {
            v = v << 8 | static_cast<quint8>(data[at + i]);
        }
        return v;
    };
    bool pcm = false;
    for (qsizetype at = 12; at + 8 <= data.size();) {
        const QByteArray id = data.mid(at, 4);
        const quint32 size = word(at + 4, 4);
        if (size > static_cast<quint64>(data.size() - at - 8)) {
            return false;
        }
        if (id == "fmt ") {
            const quint32 channels = size >= 16 ? word(at + 10, 2) : 0;
            const quint32 bits = size >= 16 ? word(at + 22, 2) : 0;
            pcm = size >= 16 && word(at + 8, 2) == 1 && channels >= 1 && channels <= 2 &&
                  (bits == 8 || bits == 16);
        } else if (id == "data") {
            return pcm && size > 0;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

void TMainForm::playSound(const QString& name) {
    const auto found = Sounds.find(name);
    const bool missing = found == Sounds.end() || !found->second;
    playedSounds.append(missing ? "beep" : name);
    playedAt.append(age.elapsed());
    if (missing) {
        QApplication::beep();
        return;
    }
    // No audio device: the effect reports an error and the game goes on in silence.
    if (found->second->status() != QSoundEffect::Error) {
        found->second->play();
    }
}

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
    hideAbout();
    grid->update();
}

void TMainForm::startGame(int rule) {
    RuleChoice = rule != 0 ? 1 : 0;
    show();
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
    const GameMemory memory = gameMemory();
    try {
        engineSet = std::make_unique<EngineSet>(RuleChoice != 0 ? 1u : 0u, &shared.orientation,
                                                memory.tableLimit);
    } catch (const std::bad_alloc&) {
        // No game without its first positions: say so, and end with a failure code.
        QMessageBox* box =
            showMessage("Message", notEnoughMemoryText(memory.available, memory.needed));
        connect(box, &QMessageBox::finished, this, [] { QCoreApplication::exit(1); });
        return;
    }
    Snapshot first;
    describePosition(engineSet->engine, first);
    setStatus(first, Status::YourMove);
    shared.publish(first);
    // Last: from here on the thread owns the engine.
    shared.Engine.store(&engineSet->engine);
    // The labels and the tint at once, not after the thread's first publication.
    FormPaint();
}

void TMainForm::FormPaint() {
    view = shared.snapshot();
    // The labels keep their size: a label resized under the pointer would hide its hint.
    setLabelText(Label1, view.ChildsText);
    setLabelText(Label2, view.RatingText);
    setLabelText(Label3, view.LengthText);
    setLabelText(Label8, view.LogText);
    setLabelText(LabelAverages, view.AveragesText);
    if (view.status == Status::MemoryLimit && !memoryLimitTold) {
        memoryLimitTold = true; // once, for whoever started the game from a terminal
        std::fprintf(stderr, "korvalt: memory limit reached; the game goes on without thinking "
                             "ahead\n");
    }
    switch (view.status) {
    case Status::GameOver:
        StatusPanel1->setText(QString::fromStdString(text(PairGameOver)));
        break;
    case Status::MemoryLimit:
        StatusPanel1->setText(QString::fromStdString(text(PairMemoryLimit)));
        break;
    case Status::OutOfMemory:
        StatusPanel1->setText(QString::fromStdString(text(PairOutOfMemory)));
        break;
    default:
        StatusPanel1->setText(QString::fromUtf8(view.StatusText));
        break;
    }
    // Whose turn it is in the position on show, whatever moves are still being announced.
    if (view.engineReady) {
        StatusPanel0->setText(QString::fromUtf8(view.ShownPly % 2 != 0 ? "O" : "X") +
                              QString::fromStdString(text(12)));
    }
    int r = 0, b = 0;
    if (cbVisualRating->isChecked()) {
        if (view.ShownRating > 0) {
            r = view.ShownRating * 90 / rating::Five;
        } else {
            b = view.ShownRating * -90 / rating::Five;
        }
    }
    const QColor colour(255 - r, 255, 255 - b);
    if (colour != tintColour || !paletteApplied) {
        tintColour = colour;
        paletteApplied = true;
        for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Panel1)}) {
            QPalette p = w->palette();
            p.setColor(QPalette::Window, colour);
            w->setPalette(p);
        }
    }
    grid->update();
    announceNext();
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

bool TMainForm::onWebLink(int col, int row) const {
    return AboutShown != 0 && webLinkCells.contains(col, row);
}

void TMainForm::gridClick() {
    const int col = grid->Col;
    const int row = grid->Row;
    if (AboutShown != 0) {
        if (onWebLink(col, row)) {
            if (!QDesktopServices::openUrl(QUrl(WebAddress))) {
                showMessage("Message", QString("Korvalt's web page: %1").arg(WebAddress));
            }
        } else {
            hideAbout();
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
    if (onWebLink(col, row)) {
        grid->setCursor(Qt::PointingHandCursor);
    } else if (RuleChoice == CentreBarred && view.engineReady && view.topAge == 1 &&
               inCentralSquare(row * BoardSide + col)) {
        grid->setCursor(Qt::ForbiddenCursor);
    } else {
        grid->setCursor(Qt::ArrowCursor);
    }
}

// Moves are announced one at a time, in the order they were made, each with its own sound;
// the next waits for the gap after the last and for any open box to close.
void TMainForm::announceNext() {
    if (announceGap.isActive() || gameOverPending || openBox) {
        return;
    }
    Notice n;
    if (shared.MoveNotice.pop(n)) {
        AnnounceMove(n);
    }
}

void TMainForm::AnnounceMove(const Notice& notice) {
    // An odd ply count: the first player (crosses) has just moved.
    playSound(notice.ply % 2 != 0 ? "x.wav" : "o.wav");
    gameOverPending = isFive(notice.rating);
    announceGap.start();
    grid->update();
}

void TMainForm::announceGapEnded() {
    if (!gameOverPending) {
        announceNext();
        return;
    }
    gameOverPending = false;
    playSound("gameover.wav");
    // "Calculate debuts" backs up from every five at once: its sounds and status say enough.
    if (mode() != Mode::CalculateDebuts) {
        showMessage("Message", "GAME OVER !!!");
    } else {
        announceNext();
    }
}

QMessageBox* TMainForm::showMessage(const QString& caption, const QString& text) {
    if (openBox) {
        openBox->close(); // one box at a time
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->addAction(QuitAction);
    connect(box, &QMessageBox::finished, this, &TMainForm::announceNext, Qt::QueuedConnection);
    openBox = box;
    box->show();
    return box;
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

void TMainForm::hideAbout() {
    if (AboutShown == 0) {
        return;
    }
    AboutShown = 0;
    revealTimer.stop();
    AboutPicture = QPixmap();
    grid->update();
}

void TMainForm::ButtonAClick() {
    if (AboutShown != 0) {
        hideAbout();
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
    // The whole address is the link: the cells its text covers, on the row that holds it.
    f.setPixelSize(at.smallFont > 0 ? at.smallFont : 1);
    const QRect text = QFontMetrics(f).boundingRect(QRect(at.web, QSize(h, h)),
                                                    Qt::AlignLeft | Qt::AlignTop, WebAddress);
    const int pitch = grid->DefaultColWidth + 1;
    const int row = text.center().y() / pitch;
    webLinkCells = QRect(QPoint(text.left() / pitch, row), QPoint(text.right() / pitch, row));
}

void TMainForm::setMode(Mode m) {
    modeMirror.store(static_cast<int>(m));
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
    showMessage(QString(), "Error setting THREAD_PRIORITY_BELOW_NORMAL");
}

QString TMainForm::notEnoughMemoryText(uint64_t available, uint64_t needed) {
    QString both;
    for (int language = 0; language < 2; ++language) {
        both += QString::fromUtf8(LanguageTable[2 * (PairNotEnoughMemory - 1) + language])
                    .arg(available >> 20)
                    .arg(needed >> 20);
        both += language == 0 ? "\n" : "";
    }
    return both;
}

void TMainForm::quitGame() {
    close();
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
