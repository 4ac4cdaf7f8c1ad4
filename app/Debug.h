#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QWidget>

class TMainForm;

/// The tree inspection window, for developers. It reads only what the thinking thread
/// publishes and never touches the engine.
class TDebugForm : public QWidget {
    Q_OBJECT
public:
    explicit TDebugForm(TMainForm* mainForm, QWidget* parent = nullptr);

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
    TMainForm* form;
};
