#ifndef PLATFORM_FONT_H
#define PLATFORM_FONT_H

/* The screens' bitmap font: 8 pixels wide, 8 glyph rows, ISO-8859-1, with
   a fallback font for other characters. */

#define FONT_WIDTH 8
#define FONT_ROWS 8
/* The glyph row on which characters stand; rows below it hold descenders. */
#define FONT_BASELINE 6

extern const unsigned char fontGlyphs[256][8];

/* The rows of a character's glyph; a character without one (a control
   character) is drawn as a hollow box, so that every byte stays visible. */
inline const unsigned char *GetGlyph(unsigned char character)
{
    static const unsigned char box[FONT_ROWS] = {0x00, 0x7e, 0x42, 0x42, 0x42, 0x42, 0x7e, 0x00};
    bool printable = (character >= 0x20 && character < 0x7f) || character >= 0xa0;
    return printable ? fontGlyphs[character] : box;
}

/* The glyph that the host's fallback font (GNU Unifont, where installed)
   has for a character beyond Latin-1, folded to the screens' size; null
   where there is none that can be read at this size. */
const unsigned char *FindFallbackGlyph(unsigned long character);

/* The rows of a character's glyph by its code point: the font's own for
   printable Latin-1, the fallback font's beyond, else a replacement mark (a
   dark diamond holding a light question mark), one cell wide like every
   other character. */
inline const unsigned char *GetCharacterGlyph(unsigned long character)
{
    static const unsigned char replacement[FONT_ROWS] = {0x18, 0x24, 0x7a, 0xf7,
                                                         0xe7, 0x7e, 0x24, 0x18};
    if (character > 0xff) {
        const unsigned char *glyph = FindFallbackGlyph(character);
        return glyph != nullptr ? glyph : replacement;
    }
    if ((character >= 0x7f && character < 0xa0) || character < 0x20)
        return replacement;
    return fontGlyphs[character];
}

#endif
