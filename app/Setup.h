#pragma once

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

/// The rules dialog: the first window, and the application's main form.
class TSetupForm : public QWidget {
    Q_OBJECT
public:
    explicit TSetupForm(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    QPushButton* Button1;
    QAction* QuitAction; ///< Ctrl+Q ends the program here too

    uint8_t RuleChoice = 0; ///< 0 plain five-in-a-row, 1 no second cross in the central 5x5

public slots:
    void Button1Click();

signals:
    /// OK with a rule chosen: the game starts with it.
    void ruleChosen(int rule);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
