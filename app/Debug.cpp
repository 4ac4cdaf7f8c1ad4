#include "Debug.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "FormKit.h"

TDebugForm::TDebugForm(Source source, Messenger messenger, QWidget* parent)
    : QWidget(parent), published(std::move(source)), message(std::move(messenger)) {
    setWindowTitle("DebugForm");
    move(4, 1);
    resize(1022, 726);
    setFont(pixelFont("MS Sans Serif", 11));

    const QFont f19 = pixelFont("MS Sans Serif", 19);
    Label1 = placedLabel(this, "Nodes to expand:", 16, 16, &f19);
    CSpinEdit1 = new QSpinBox(this);
    CSpinEdit1->setGeometry(176, 16, 121, 22);
    CSpinEdit1->setRange(1, 100000);
    CSpinEdit1->setSingleStep(2000);
    CSpinEdit1->setValue(2000);
    Build = new QPushButton("Expand", this);
    Build->setGeometry(312, 16, 75, 25);
    const QFont f24 = pixelFont("MS Sans Serif", 24);
    Label2 = placedLabel(this, "Max depth:", 432, 8, &f24);
    CSpinEdit2 = new QSpinBox(this);
    CSpinEdit2->setGeometry(560, 16, 121, 22);
    CSpinEdit2->setRange(1, 100000);
    CSpinEdit2->setValue(4);
    Visualise = new QPushButton("Visualise", this);
    Visualise->setGeometry(696, 16, 75, 25);
    CheckBoxLM = new QCheckBox("Start from Last Move", this);
    CheckBoxLM->setGeometry(784, 24, 129, 17);
    CheckBoxLM->setChecked(true);
    ButtonClean = new QPushButton("Clean", this);
    ButtonClean->setGeometry(928, 16, 75, 25);
    Check = new QPushButton("Check", this);
    Check->setGeometry(1016, 16, 75, 25);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setGeometry(8, 48, 409, 649);
    TreeView1 = new QTreeWidget(this);
    TreeView1->setGeometry(428, 48, 689, 649);
    TreeView1->setIndentation(19);
    TreeView1->setHeaderHidden(true);

    connect(Build, &QPushButton::clicked, this, &TDebugForm::BuildClick);
    connect(Visualise, &QPushButton::clicked, this, &TDebugForm::VisualiseClick);
    connect(ButtonClean, &QPushButton::clicked, this, &TDebugForm::ButtonCleanClick);
    connect(Check, &QPushButton::clicked, this, &TDebugForm::CheckClick);
}

void TDebugForm::BuildClick() {
    const Snapshot s = published();
    char line[200];
    std::snprintf(line, sizeof line, "items total: %d, lastExpanded: %d, max_count: %d",
                  static_cast<int>(s.rootCount), 0, s.maxPlyReached);
    Memo1->appendPlainText(QString::fromUtf8(line));
    // The table's lookups, in full: they pass 2^31 within minutes of thinking.
    std::snprintf(line, sizeof line,
                  "lookups: hits %" PRId64 ", age collisions %" PRId64 ", chain misses %" PRId64
                  ", bucket misses %" PRId64,
                  s.hits, s.ageCollisions, s.chainMisses, s.bucketMisses);
    Memo1->appendPlainText(QString::fromUtf8(line));
}

void TDebugForm::VisualiseClick() {
    if (CSpinEdit2->value() > 1) {
        TreeView1->clear();
    }
}

void TDebugForm::reportCount(const char* templateText) {
    // The count is written over the start of the template and ends the text: only the digits
    // remain.
    char buffer[100];
    std::snprintf(buffer, sizeof buffer, "%s", templateText);
    std::snprintf(buffer, sizeof buffer, "%d", 0);
    message(QString::fromUtf8(buffer));
}

void TDebugForm::ButtonCleanClick() {
    reportCount("      cleaned !!!");
}
void TDebugForm::CheckClick() {
    reportCount("      violations !!!");
}
