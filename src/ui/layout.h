#pragma once
// The lower screen: the six soft buttons with the labels of the current bar, the fault
// tiles above them, the status page and the TX indicator; and the background picture of
// the screen, which the key handler and the screen loop both change.
struct Works;
struct SerParam;
struct FrameBuffer;

// Geometry of one soft button: fill columns, top-line columns, label positions.
struct ButtonGeometry {
    int fillFrom, fillTo;      // inclusive
    int topFrom, topTo;        // inclusive
    int upperX, lowerX;        // label columns; baselines BUTTON_UPPER_Y and BUTTON_LOWER_Y
};
constexpr int BUTTON_TOP = 420;
constexpr int BUTTON_BOTTOM = 479;
constexpr int BUTTON_UPPER_Y = 445;
constexpr int BUTTON_LOWER_Y = 472;
constexpr int BUTTON_UPPER_FONT = 0;
constexpr int BUTTON_LOWER_FONT = 1;
extern const ButtonGeometry buttonGeometry[6];

// Fault tiles: rows and the column range of each of the six places.
constexpr int TILE_TOP = 370;
constexpr int TILE_BOTTOM = 414;
extern const int tileColumns[6][2];

// Draws the whole lower layout into drawBuf; `parameters` is a copy of the transceiver's
// record for the status page.
void LoadButtons(Works* works, const SerParam& parameters);
// 1 when the error list holds an error other than the temperature alarms and warnings.
int VerifyError(Works* works);
void DrawError(Works* works);
void DrawTastoErrore(Works* works, int x0, int x1, int listPosition);
void ViewStatusTX(Works* works);
void ViewStatusInfo(Works* works, const SerParam& parameters);

// A line of text that may be longer than the room right of x (up to column 790): drawn at
// x in `slot` when it fits, else moved left as far as minX, else the same in the smaller
// `fallbackSlot`, else cut to fit there.
void drawFittedText(FrameBuffer* fb, int slot, int fallbackSlot, int x, int minX, int y, const char* text,
                    int red, int green, int blue);

// Loads the unit's fonts into the slots the screens draw with (start-up).
void loadPanelFonts();

// The background picture: loads the named picture into the background buffer under the
// picture lock (the key handler and the screen loop both load pictures).
void setBackground(Works* works, const char* name);
// Starts a frame from the background buffer under the same lock (the rows drawn or
// changed since the last frame, fbRestoreChanged).
void startFrame(Works* works);
// Loads the picture of the current view as the background (and the span of the spectrum
// views); the transceiver serial link is switched off unless it is the frequency source.
void SetWorkImg(Works* works);
