#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>

#include "ThinkingLoop.h"

class TMainForm;
class TSetupForm;
class QSoundEffect;

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

/// The node budget's spin edit: only its arrows change it.
class CSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit CSpinEdit(QWidget* parent);
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
    explicit TMainForm(TSetupForm* setup, QWidget* parent = nullptr);
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
    QComboBox* ComboBoxMode;
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

    // Fields.
    Handshake shared; ///< Engine, the requests, the orientation flags and the published snapshot
    int32_t Language = 1;
    int32_t AboutShown = 0;
    QPixmap AboutPicture;
    int AboutRevealed = 0; ///< cells of the About picture drawn so far
    Snapshot view;         ///< the last published snapshot, copied for drawing

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
    void AnnounceMove();
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

    // WindowPort: called from the thinking thread.
    int mode() override { return modeMirror.load(); }
    void setMode(int m) override;
    int spinValue() override { return spinMirror.load(); }
    bool growChecked() override { return growMirror.load(); }
    void invalidate() override { emit invalidated(); }
    void showPriorityError() override;

    /// Where a sound file is found: the working directory first, then the installed data.
    static QString soundPath(const QString& name);
    QString lastSound; ///< name of the last sound played, for tests

    QWidget* debugForm = nullptr;
    std::unique_ptr<ThinkingThread> thread;

signals:
    void invalidated();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void applyModeFromThread();
    void priorityMessage();
    void revealNextCell();

private:
    void playSound(const QString& name);
    void drawAboutPicture(int h);
    void stopThread();

    TSetupForm* setupForm;
    QColor tintColour = Qt::white;
    bool announcePending = false;
    QTimer revealTimer;
    std::atomic<int> modeMirror{1};
    std::atomic<int> spinMirror{175};
    std::atomic<bool> growMirror{false};
    std::unique_ptr<QSoundEffect> sounds[3];

    // The engine and its tables: built on first show, destroyed after the thread has stopped.
    std::unique_ptr<EngineSet> engineSet;
};
