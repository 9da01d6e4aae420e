#pragma once
// The peer's text commands ("ST" messages), read from works->wsCmd and compared as
// prefixes: bank change, spectrum source and divider, reboot.
struct Works;

// Runs the command in works->wsCmd; returns 1 when it was recognised, 0 otherwise.
int dispStat(Works* works);
