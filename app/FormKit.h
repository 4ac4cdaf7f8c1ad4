#pragma once

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
