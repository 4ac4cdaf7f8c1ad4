#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QWidget>
#include <functional>

#include "ThinkingLoop.h"

/// The tree inspection window, for developers. It reads only what the thinking thread
/// publishes and never touches the engine.
class TDebugForm : public QWidget {
    Q_OBJECT
public:
    using Source = std::function<Snapshot()>;
    using Messenger = std::function<void(const QString& text)>;

    /// `published` gives the thread's latest snapshot; `message` shows a "Message" box.
    TDebugForm(Source published, Messenger message, QWidget* parent = nullptr);

    QLabel* Label1;
    QSpinBox* CSpinEdit1;
    QPushButton* Build;
    QLabel* Label2;
    QSpinBox* CSpinEdit2;
    QPushButton* Visualise;
    QCheckBox* CheckBoxLM;
    QPushButton* ButtonClean;
    QPushButton* Check;
    QPlainTextEdit* Memo1;
    QTreeWidget* TreeView1;

public slots:
    void BuildClick();
    void VisualiseClick();
    void ButtonCleanClick();
    void CheckClick();

private:
    void reportCount(const char* templateText);
    Source published;
    Messenger message;
};
