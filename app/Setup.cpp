#include "Setup.h"

#include <QButtonGroup>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include "FormKit.h"

namespace {

// A radio button whose caption wraps onto a second line, as the rule's long caption needs.
class WrappingRadioButton : public QRadioButton {
public:
    WrappingRadioButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {}

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        const QRect indicator =
            style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, this);
        option.rect = QRect(indicator.left(), (height() - indicator.height()) / 2,
                            indicator.width(), indicator.height());
        style()->drawPrimitive(QStyle::PE_IndicatorRadioButton, &option, &p, this);
        const int left = indicator.right() + 6;
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
        p.drawText(QRect(left, 0, width() - left, height()),
                   Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, text());
    }
};

} // namespace

TSetupForm::TSetupForm(QWidget* parent) : QWidget(parent) {
    // The form's fonts, by their metric twins where the machine lacks them.
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont::insertSubstitution("Arial", "Liberation Sans");
    setWindowTitle("Korvalt setup");
    // A fixed dialog border: no minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(368, 192);
    move(484, 304);
    setFont(pixelFont("MS Sans Serif", 11));

    const QFont big = pixelFont("MS Sans Serif", 24);
    Label1 = placedLabel(this, "Please choose game mode", 24, 16, &big);

    Label2 = new QLabel("To win, put 5 (or more) moves in a straight line.  ", this);
    Label2->setFont(pixelFont("MS Sans Serif", 13));
    Label2->setWordWrap(true);
    Label2->setGeometry(8, 56, 352, 28);

    RadioButton1 =
        new QRadioButton("Go-moku (simply mode, first player has strong advantage).", this);
    RadioButton1->setGeometry(8, 88, 353, 17);
    RadioButton2 = new WrappingRadioButton(
        "Do not allow first player to put second move in the central 5x5 square.", this);
    RadioButton2->setGeometry(8, 104, 353, 33);
    RadioButton3 = new QRadioButton("Renju (to be supported in future versions)", this);
    RadioButton3->setGeometry(8, 136, 353, 17);
    RadioButton3->setEnabled(false);
    auto* group = new QButtonGroup(this);
    group->addButton(RadioButton1);
    group->addButton(RadioButton2);
    group->addButton(RadioButton3);

    Button1 = new QPushButton("OK", this);
    Button1->setGeometry(256, 160, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TSetupForm::Button1Click);

    QuitAction = quitAction(this);
    connect(QuitAction, &QAction::triggered, this, &QWidget::close);
}

// Enter confirms, as OK, once a rule is chosen.
void TSetupForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Button1Click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSetupForm::Button1Click() {
    if (RadioButton1->isChecked()) {
        RuleChoice = 0;
    } else if (RadioButton2->isChecked()) {
        RuleChoice = 1;
    } else {
        return; // no rule chosen: the dialog stays
    }
    emit ruleChosen(RuleChoice);
    hide();
}
