#pragma once

#include <QAction>
#include <QFont>
#include <QLabel>
#include <QWidget>

// Small helpers the forms share to place their controls as designed.

/// A font of the family at a size in pixels.
inline QFont pixelFont(const char* family, int pixels) {
    QFont f(family);
    f.setPixelSize(pixels);
    return f;
}

/// A label at a position, sized to its text; the font is the parent's unless one is given.
inline QLabel* placedLabel(QWidget* parent, const char* text, int x, int y,
                           const QFont* font = nullptr) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    if (font != nullptr) {
        l->setFont(*font);
    }
    l->move(x, y);
    l->adjustSize();
    return l;
}

/// The window-wide Quit action: the desktop's Quit keys, and Ctrl+Q where the desktop's key
/// scheme has none (some bind nothing to Quit).
inline QAction* quitAction(QWidget* window) {
    auto* quit = new QAction("Quit", window);
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Quit);
    const QKeySequence ctrlQ(Qt::CTRL | Qt::Key_Q);
    if (!keys.contains(ctrlQ)) {
        keys.append(ctrlQ);
    }
    quit->setShortcuts(keys);
    quit->setShortcutContext(Qt::WindowShortcut);
    window->addAction(quit);
    return quit;
}
