#pragma once
// The receiver's USB sample stream and its spectrum.
struct Works;

void* IXORead(void* arg);
