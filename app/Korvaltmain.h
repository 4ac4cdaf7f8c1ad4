#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSoundEffect>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <map>
#include <memory>

#include "ThinkingLoop.h"

class TMainForm;

/// A cell rectangle as the drawing code speaks of it: right and bottom are exclusive.
struct CellRect {
    int left, top, right, bottom;
};

/// The 15 x 15 board: every cell owner-drawn by the game window, with grid lines between.
class BoardGrid : public QWidget {
    Q_OBJECT
public:
    explicit BoardGrid(TMainForm* form);

    int DefaultColWidth = 27;
    int DefaultRowHeight = 27;
    int Col = 0; ///< current cell: the one last clicked
    int Row = 0;

    CellRect CellRectOf(int col, int row) const;
    /// The cell under a point, or false when the point is on no cell.
    bool MouseToCell(int x, int y, int& col, int& row) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    TMainForm* form;
};

/// The node budget's spin edit: only its arrows change it (and the arrow keys, a step each);
/// the wheel and PageUp/PageDown pass it by.
class CSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit CSpinEdit(QWidget* parent);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

/// The mode list: it changes only when the player opens it and picks an entry. A wheel turned
/// over it, an arrow key or a typed letter must not switch a game to another mode.
class ModeList : public QComboBox {
    Q_OBJECT
public:
    explicit ModeList(QWidget* parent) : QComboBox(parent) {}

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

/// Where the About picture puts its parts for a board H pixels high.
struct AboutLayout {
    explicit AboutLayout(int h);
    int titleFont, creditFont, smallFont, penWidth;
    QRect titleBox;
    QPoint version, date, writtenBy, credit, email, web;
};

/// The game window: the board, the control panel and the status bar. It draws what the
/// thinking thread publishes and hands the player's actions to it as requests.
class TMainForm : public QWidget, public WindowPort {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Controls, named as on the form.
    BoardGrid* grid;
    QFrame* Panel1;
    QLabel* Label5;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label8;
    QLabel* LabelAverages;
    QLabel* Label4;
    ModeList* ComboBoxMode;
    QLabel* Label6;
    QLabel* Label7;
    CSpinEdit* CSpinEditChilds;
    QCheckBox* CheckBoxSH;
    QCheckBox* cbVisualRating;
    QPushButton* ButtonM;
    QPushButton* ButtonTB;
    QPushButton* ButtonR;
    QPushButton* ButtonA;
    QPushButton* Button1;
    QCheckBox* CheckBoxGrow;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton1;
    QStatusBar* StatusBar;
    QLabel* StatusPanel0;
    QLabel* StatusPanel1;
    QComboBox* DBank;
    QAction* QuitAction; ///< Ctrl+Q, whatever has the focus and whatever box is open

    // Fields.
    Handshake shared; ///< Engine, the requests, the orientation flags and the published snapshot
    uint8_t RuleChoice = 0; ///< the opening rule the rules dialog reported
    int32_t Language = 1;
    int32_t AboutShown = 0;
    QPixmap AboutPicture;
    int AboutRevealed = 0; ///< cells of the About picture drawn so far
    Snapshot view;         ///< the last published snapshot, copied for drawing

    /// A short gap after each announced move, so that every move's sound is heard on its own.
    static constexpr int AnnounceGapMs = 150;
    /// The game window is never smaller than this: the panel and the status bar stay whole.
    static constexpr int MinimumWidth = 185 + 15 * 15;
    static constexpr int MinimumHeight = 457 + 18;

    int ToEngineCell(int windowCell) const;
    /// Stone pen width for a board this wide; hints are inset by twice this.
    static int boardPenWidth(int gridWidth) {
        return gridWidth > 450 ? (gridWidth + 148) / 150 : 3;
    }
    QColor tint() const { return tintColour; }
    std::string text(int pair) const;

    // Event handlers.
    void FormResize();
    void FormPaint();
    void FormShow();
    void gridDrawCell(int col, int row, const CellRect& rect, QPainter& canvas);
    void gridClick();
    void gridMouseMove(int x, int y);
    void AnnounceMove(const Notice& notice);
    void ApplyLanguage();
    void ButtonMClick();
    void ButtonTBClick();
    void ButtonRClick();
    void ButtonAClick();
    void RadioButton1Click();
    void RadioButton2Click();
    void Button1Click();
    void FormCloseQuery();
    void FormClose();
    void FormDestroy();

    /// Starts the game with the rule the rules dialog reported: the window shows, and builds
    /// the engine the first time.
    void startGame(int rule);

    // WindowPort: called from the thinking thread.
    Mode mode() override { return static_cast<Mode>(modeMirror.load()); }
    void setMode(Mode m) override;
    int spinValue() override { return spinMirror.load(); }
    bool growChecked() override { return growMirror.load(); }
    void invalidate() override { emit invalidated(); }
    void showPriorityError() override;

    /// Where a sound file is found: next to the program (the build tree), then the data folder
    /// of an installation, found from the program's own place or the configured prefix. Never
    /// the working directory: a stray file there must not stall the game.
    static QString soundPath(const QString& name);
    /// Whether a file is a sound the game can play: plain PCM in a RIFF WAVE with its data.
    /// Anything else is treated as missing (the system's beep plays instead).
    static bool usableSound(const QString& path);
    /// The sounds found at start, by name; a missing or broken one is null.
    std::map<QString, std::unique_ptr<QSoundEffect>> Sounds;
    QStringList playedSounds; ///< every sound played, "beep" for the system's: for tests
    QList<qint64> playedAt;   ///< when each was played, in ms since the window was made
    /// Whether the web address of the About display covers this board cell.
    bool onWebLink(int col, int row) const;
    /// The open message box, if any: one at a time.
    QPointer<QMessageBox> openBox;
    /// Opens a message box that does not block the window (quitting works whatever is open).
    QMessageBox* showMessage(const QString& caption, const QString& text);

    QWidget* debugForm = nullptr;
    /// Closes the game: stops the thread, closes every window.
    void quitGame();
    /// "Not enough memory to start the game", in both languages, with the figures in MB.
    static QString notEnoughMemoryText(uint64_t available, uint64_t needed);
    std::unique_ptr<ThinkingThread> thread;

signals:
    void invalidated();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void applyModeFromThread();
    void priorityMessage();
    void revealNextCell();
    void announceNext();
    void announceGapEnded();

private:
    void playSound(const QString& name);
    void drawAboutPicture(int h);
    /// Ends the About display: the board shows again.
    void hideAbout();
    void stopThread();

    QColor tintColour = Qt::white;
    bool paletteApplied = false;  ///< the tint is set on the first paint, white or not
    bool gameOverPending = false; ///< the last move announced made five
    bool memoryLimitTold = false;
    QTimer revealTimer;
    QTimer announceGap;
    QElapsedTimer age;
    QRect webLinkCells; ///< board cells the web address covers in the About display
    std::atomic<int> modeMirror{1};
    std::atomic<int> spinMirror{175};
    std::atomic<bool> growMirror{false};

    // The engine and its tables: built on first show, destroyed after the thread has stopped.
    std::unique_ptr<EngineSet> engineSet;
};
