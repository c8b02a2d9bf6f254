// The application's own pictures, drawn with QPainter: icon, splash picture, toolbar glyphs.
#pragma once

#include <QIcon>
#include <QPixmap>

constexpr int kSplashWidth = 344;
constexpr int kSplashHeight = 193;

enum class EToolbarGlyph
{
    New,
    Open,
    Save,
    Watch,
    Stop,
};

// The application icon at the usual sizes (16 to 256 pixels).
QIcon ApplicationIcon();
QPixmap DrawApplicationIcon(int size);
// The start-up picture, kSplashWidth x kSplashHeight.
QPixmap DrawSplashPicture();
// One 16 x 15 toolbar image.
QPixmap DrawToolbarGlyph(EToolbarGlyph glyph);
