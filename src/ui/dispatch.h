#pragma once
// The key dispatcher of the front panel: one recognised press, handled in the context of
// the current button bar.
struct Works;

// key 1..6; pressFlags 0 for a short press (delivered on release), or for a long press the
// held mask with the key's own bit (bit key - 1) set. A non-zero result asks the button
// reader to repeat the long press while the button stays down.
int DecodeTasto(Works* works, int key, int pressFlags);

// Closes the status page if it is shown: 1 when it was, else 0.
int EscFromStatus(Works* works);
