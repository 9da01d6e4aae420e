#pragma once
// The font table under its established names. Only the text code and its
// tests reach these; everyone else goes through TTFLoad, putString and getStringSpace.
#include "display/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

extern FT_Library library;
extern FT_Face face[FONT_SLOTS];
extern FT_GlyphSlot slot[FONT_SLOTS];
extern int fontSize[FONT_SLOTS];
